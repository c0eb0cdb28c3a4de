// Driving the library's main loop from Python: run_for, run_until, and the pieces a host event
// loop (asyncio) needs.
#include <chrono>
#include <cmath>
#include <optional>
#include <stdexcept>

#include <pybind11/stl.h>

#include "bindings.h"
#include "orv/run_loop.h"

namespace orvpy {

namespace {

// An interrupt (or a failing predicate) waiting to be raised by the call driving the loop. Never
// destroyed: it may outlive the interpreter.
std::optional<py::error_already_set>& pending() {
  static auto* error = new std::optional<py::error_already_set>();
  return *error;
}

void raisePending() {
  if (!pending()) return;
  py::error_already_set error = std::move(*pending());
  pending().reset();
  throw error;
}

orv::RunLoop& mainLoop(const char* what) {
  orv::RunLoop& loop = orv::RunLoop::main();
  if (!loop.isCurrent()) {
    throw std::runtime_error(std::string("orvlib.") + what +
                             " must be called on the main thread: it runs the library's main loop");
  }
  return loop;
}

orv::RunLoop::Duration toDuration(double seconds, const char* what) {
  if (!(seconds >= 0)) {
    throw py::value_error(std::string(what) + " must be a number of seconds, at least 0");
  }
  // Past a few decades it means "for ever"; keep the steady clock from overflowing.
  const double capped = std::min(seconds, 1e9);
  return std::chrono::duration_cast<orv::RunLoop::Duration>(std::chrono::duration<double>(capped));
}

void runFor(double seconds) {
  orv::RunLoop& loop = mainLoop("run_for");
  const auto duration = toDuration(seconds, "seconds");
  raisePending();
  {
    py::gil_scoped_release unlocked;
    loop.runFor(duration);
  }
  raisePending();
}

bool runUntil(py::object predicate, std::optional<double> timeout) {
  orv::RunLoop& loop = mainLoop("run_until");
  const auto duration = toDuration(timeout.value_or(1e9), "timeout");
  raisePending();
  auto done = [&predicate]() {
    py::gil_scoped_acquire gil;
    if (pending()) return true;
    try {
      const int truth = PyObject_IsTrue(predicate().ptr());
      if (truth < 0) throw py::error_already_set();
      return truth == 1;
    } catch (py::error_already_set& e) {
      pending() = std::move(e);  // the caller's own predicate: its error is raised to the caller
      return true;
    }
  };
  // A predicate already true needs no pass of the loop.
  if (done()) {
    raisePending();
    return true;
  }
  bool reached;
  {
    py::gil_scoped_release unlocked;
    reached = loop.runUntil(done, duration);
  }
  raisePending();
  return reached;
}

void processPending() {
  orv::RunLoop& loop = mainLoop("process_pending");
  {
    py::gil_scoped_release unlocked;
    loop.processPending();
  }
  raisePending();
}

std::optional<double> timeUntilNextTimer() {
  const auto due = mainLoop("time_until_next_timer").timeUntilNextTimer();
  if (!due) return std::nullopt;
  return std::chrono::duration<double>(*due).count();
}

}  // namespace

PyRef::~PyRef() {
  if (!Py_IsInitialized() || _Py_IsFinalizing()) return;
  py::gil_scoped_acquire gil;
  Py_XDECREF(object_);
}

void reportCallbackError(py::error_already_set& error, py::handle context) {
  if (error.matches(PyExc_KeyboardInterrupt) || error.matches(PyExc_SystemExit)) {
    if (!pending()) pending() = std::move(error);
    orv::RunLoop::main().stop();
    return;
  }
  error.discard_as_unraisable(py::reinterpret_borrow<py::object>(context));
}

void wakeMainLoop() {
  orv::RunLoop::main().post([] {});
}

void bindLoop(py::module_& m) {
  m.def("run_for", &runFor, py::arg("seconds"),
        "Runs the main loop (callbacks, timers) for `seconds`. Main thread only.");
  m.def("run_until", &runUntil, py::arg("predicate"), py::arg("timeout") = py::none(),
        "Runs the main loop until predicate() is true (checked after each callback or timer) "
        "or `timeout` seconds pass; returns whether it became true. Main thread only.");
  m.def(
      "stop", [] { orv::RunLoop::main().stop(); },
      "Makes the running run_for/run_until return. Any thread.");
  m.def(
      "poll_fd", [] { return orv::RunLoop::main().pollFd(); },
      "Descriptor that becomes readable when work is posted to the main loop.");
  m.def("process_pending", &processPending,
        "Runs posted work and due timers without blocking. Main thread only.");
  m.def("time_until_next_timer", &timeUntilNextTimer,
        "Seconds until the next timer is due (0 if overdue), or None without timers.");
}

}  // namespace orvpy
