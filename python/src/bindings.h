// Pieces of the orvlib extension module, and the rules for calling Python from library code.
#pragma once

#include <pybind11/pybind11.h>

#include <functional>
#include <memory>
#include <utility>

namespace orvpy {

namespace py = pybind11;

void bindConvert(py::module_& m);
void bindFileConvert(py::module_& m);
void bindRecords(py::module_& m);
void bindLoop(py::module_& m);
void bindProviders(py::module_& m);
void bindClient(py::module_& m);
void bindGeofence(py::module_& m);
void bindBatch(py::module_& m);

// Runs the calling thread's run loop until done() is true, without the GIL (done() is called
// without it). On the main thread signals wake it, and an exception a signal handler or a
// callback raises (KeyboardInterrupt) ends it and is raised here, as from run_until.
void runLoopUntil(const std::function<bool()>& done);

// A Python object held by library code, which may let go of it on any thread (the network
// thread ends a request) or after the interpreter has finished (static destruction): the
// reference is dropped under the GIL, or leaked once there is no interpreter left to free it.
class PyRef {
 public:
  explicit PyRef(py::object object) : object_(object.release().ptr()) {}
  ~PyRef();
  PyRef(const PyRef&) = delete;
  PyRef& operator=(const PyRef&) = delete;

  // GIL held.
  py::object get() const { return py::reinterpret_borrow<py::object>(object_); }
  bool isNone() const { return object_ == Py_None; }

 private:
  PyObject* object_;
};

// Reports an exception raised by Python code that library code called: printed with its
// traceback through sys.unraisablehook, never propagated into the library. KeyboardInterrupt and
// SystemExit stop the main loop instead and are raised again by the orvlib call driving it.
// GIL held.
void reportCallbackError(py::error_already_set& error, py::handle context);

// Calls `fn` from library code on any thread, holding the GIL only for the call.
template <class... Args>
void callPython(const PyRef& fn, Args&&... args) {
  py::gil_scoped_acquire gil;
  if (fn.isNone()) return;
  py::object callable = fn.get();
  try {
    callable(std::forward<Args>(args)...);
  } catch (py::error_already_set& e) {
    reportCallbackError(e, callable);
  }
}

// Tells the main loop that Python code may have added timers, so a host loop (asyncio) that
// sleeps until the next timer wakes up and looks again.
void wakeMainLoop();

}  // namespace orvpy
