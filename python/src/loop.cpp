// Driving the library's main loop from Python: run_for, run_until, and the pieces a host event
// loop (asyncio) needs.
#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <optional>
#include <stdexcept>
#include <thread>

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

// Runs the Python signal handlers that are due, on the main thread: an exception one raises
// (KeyboardInterrupt from SIGINT) ends the running loop and is raised by the call driving it.
void runSignalHandlers() {
  if (!Py_IsInitialized() || _Py_IsFinalizing()) return;
  py::gil_scoped_acquire gil;
  if (PyErr_CheckSignals() == 0) return;
  py::error_already_set error;
  if (!pending()) pending() = std::move(error);
  orv::RunLoop::main().stop();
}

// Python's C-level signal handler only notes the signal and writes a byte to the wakeup
// descriptor; the Python handler runs when the main thread next runs Python code, which it does
// not while it sleeps in the library's loop. While run_for/run_until block, the wakeup
// descriptor is a pipe whose bytes a watcher thread turns into a task on the main loop that runs
// the handlers, and hands on to the descriptor it replaced (asyncio's, for one).
class SignalWakeup;
SignalWakeup& signalWakeup();

class SignalWakeup {
 public:
  // Main thread, GIL held; nests.
  void enter() {
    if (depth_++ > 0) return;
    if (!started_) start();
    if (write_ < 0) return;
    try {
      previous_ = setWakeupFd(write_);
    } catch (py::error_already_set&) {
      return;  // refused: this run is not woken by signals
    }
    forwardTo_ = previous_;
    installed_ = true;
  }
  void leave() {
    if (--depth_ > 0 || !installed_) return;
    installed_ = false;
    forwardTo_ = -1;
    try {
      setWakeupFd(previous_);
    } catch (py::error_already_set&) {
      setWakeupFd(-1);  // the host closed its descriptor meanwhile
    }
  }

 private:
  // signal.set_wakeup_fd; whether the replaced descriptor warned on a full buffer is not known,
  // and a full buffer only means wake-ups are already pending.
  static int setWakeupFd(int fd) {
    return py::module_::import("signal")
        .attr("set_wakeup_fd")(fd, py::arg("warn_on_full_buffer") = false)
        .cast<int>();
  }

  void start() {
    started_ = true;
    // A forked child has no watcher: its first run starts its own pipe and thread.
    ::pthread_atfork(nullptr, nullptr, [] {
      SignalWakeup& w = signalWakeup();
      w.started_ = false;
      w.write_ = -1;
    });
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return;
    // Python needs a writing end that never blocks; the watcher blocks on the reading end.
    ::fcntl(fds[1], F_SETFL, ::fcntl(fds[1], F_GETFL) | O_NONBLOCK);
    write_ = fds[1];
    // Lives as long as the process, blocked on the pipe between signals.
    std::thread([this, read = fds[0]] { watch(read); }).detach();
  }

  void watch(int read) {
    char bytes[64];
    for (;;) {
      const ssize_t n = ::read(read, bytes, sizeof bytes);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return;
      if (const int to = forwardTo_; to >= 0) {
        [[maybe_unused]] const auto forwarded = ::write(to, bytes, static_cast<size_t>(n));
      }
      orv::RunLoop::main().post(runSignalHandlers);
    }
  }

  int depth_ = 0;
  bool started_ = false;
  int write_ = -1;
  int previous_ = -1;
  bool installed_ = false;
  std::atomic<int> forwardTo_{-1};
};

SignalWakeup& signalWakeup() {
  static auto* wakeup = new SignalWakeup();  // its thread outlives every destructor
  return *wakeup;
}

// For the length of a blocking run: signals wake the loop. A signal that arrived just before
// has its handler run here.
class SignalScope {
 public:
  SignalScope() {
    signalWakeup().enter();
    if (PyErr_CheckSignals() != 0) {
      // Taken before leave() calls into Python, which must not run with an exception set.
      py::error_already_set raised;
      signalWakeup().leave();
      throw raised;
    }
  }
  ~SignalScope() { signalWakeup().leave(); }
  SignalScope(const SignalScope&) = delete;
  SignalScope& operator=(const SignalScope&) = delete;
};

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
    SignalScope signals;
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
    SignalScope signals;
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

void runLoopUntil(const std::function<bool()>& done) {
  orv::RunLoop& loop = orv::RunLoop::current();
  if (&loop != &orv::RunLoop::main()) {
    py::gil_scoped_release unlocked;
    loop.runUntil(done, toDuration(1e9, "timeout"));
    return;
  }
  raisePending();
  {
    SignalScope signals;
    py::gil_scoped_release unlocked;
    loop.runUntil([&done] { return done() || pending(); }, toDuration(1e9, "timeout"));
  }
  raisePending();
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
