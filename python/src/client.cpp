// orvlib.Client: OrvClientLocation with Python callbacks. Operations release the GIL; callbacks
// take it back only while Python code runs.
#include <pybind11/stl.h>

#include <array>
#include <memory>
#include <optional>
#include <string>

#include "bindings.h"
#include "orv/client.h"
#include "orv/service_configuration.h"

namespace orvpy {

namespace {

using Hits = std::vector<std::shared_ptr<orv::GeocodeRes>>;

// Keyword (also the Pythonic method of a delegate object), and the delegate interface's names.
struct CallbackName {
  const char* keyword;
  std::array<const char*, 2> designNames;
};
constexpr std::array<CallbackName, 5> kCallbacks{{
    {"on_location", {"onReceivedLocationWithOrvLocation"}},
    {"on_error", {"onLocationError", "onLocationErrorWithMsg"}},
    {"on_reverse", {"onReceivedReverseCodeWithOrvLocation"}},
    {"on_geocode", {"onReceivedGeocodeWithResult"}},
    {"on_poi", {"onReceivedPoiSearchWithResult"}},
}};

// An orvlib.LocationError: the text, typed. GIL held.
py::object locationError(const orv::LocationError& e) {
  // Looked up once and kept for the interpreter's life.
  static PyObject* type =
      py::object(py::module_::import("orvlib._location_error").attr("LocationError"))
          .release()
          .ptr();
  const auto code = orv::errorCodeName(e.code);
  py::object retryAfter = py::none();
  if (e.retryAfter) retryAfter = py::int_(e.retryAfter->count());
  return py::reinterpret_borrow<py::object>(type)(py::str(e.message),
                                                  py::str(code.data(), code.size()),
                                                  py::str(e.domain), e.status, retryAfter);
}

class PyDelegate final : public orv::LocationDelegate {
 public:
  // A callback given by keyword wins over the delegate object's methods, the Pythonic name first.
  PyDelegate(const py::object& delegate, const py::kwargs& callbacks)
      : delegate_(delegate),
        location_(pick(delegate, callbacks, kCallbacks[0])),
        error_(pick(delegate, callbacks, kCallbacks[1])),
        reverse_(pick(delegate, callbacks, kCallbacks[2])),
        geocode_(pick(delegate, callbacks, kCallbacks[3])),
        poi_(pick(delegate, callbacks, kCallbacks[4])) {}

  void onReceivedLocationWithOrvLocation(std::shared_ptr<orv::LocationRes> r) override {
    callPython(location_, std::move(r));
  }
  // The library reports every failure through onLocationError; this text-only entry is there for
  // a caller of the interface that uses it.
  void onLocationErrorWithMsg(const std::string& msg) override {
    onLocationError({orv::ErrorCode::providerFailure, "", -1, msg, std::nullopt});
  }
  void onLocationError(const orv::LocationError& error) override {
    py::gil_scoped_acquire gil;
    if (error_.isNone()) return;
    py::object typed;
    try {
      typed = locationError(error);
    } catch (py::error_already_set& e) {
      reportCallbackError(e, error_.get());
      return;
    }
    callPython(error_, typed);
  }
  void onReceivedReverseCodeWithOrvLocation(std::shared_ptr<orv::LocationRes> r) override {
    callPython(reverse_, std::move(r));
  }
  void onReceivedGeocodeWithResult(const Hits& hits) override { callPython(geocode_, hits); }
  void onReceivedPoiSearchWithResult(const Hits& hits) override { callPython(poi_, hits); }

  py::object delegate() const { return delegate_.get(); }

 private:
  static py::object pick(const py::object& delegate, const py::kwargs& callbacks,
                         const CallbackName& name) {
    if (callbacks.contains(name.keyword)) return callbacks[name.keyword];
    if (delegate.is_none()) return py::none();
    if (py::hasattr(delegate, name.keyword)) return delegate.attr(name.keyword);
    for (const char* attr : name.designNames) {
      if (attr && py::hasattr(delegate, attr)) return delegate.attr(attr);
    }
    return py::none();
  }

  PyRef delegate_, location_, error_, reverse_, geocode_, poi_;
};

std::shared_ptr<PyDelegate> makeDelegate(const py::object& delegate, const py::kwargs& callbacks) {
  for (auto item : callbacks) {
    const auto key = py::cast<std::string>(item.first);
    bool known = false;
    for (const auto& name : kCallbacks) known = known || key == name.keyword;
    if (!known) throw py::type_error("unknown callback keyword: " + key);
    if (!item.second.is_none() && !PyCallable_Check(item.second.ptr())) {
      throw py::type_error(key + " must be callable or None");
    }
  }
  return std::make_shared<PyDelegate>(delegate, callbacks);
}

class Client {
 public:
  Client(const py::object& delegate, const py::kwargs& callbacks) {
    auto d = makeDelegate(delegate, callbacks);
    py::gil_scoped_release unlocked;
    client_ = std::make_unique<orv::OrvClientLocation>(std::move(d));
  }
  ~Client() {
    py::gil_scoped_release unlocked;
    client_.reset();
  }

  orv::OrvClientLocation& operator*() { return *client_; }

  void setDelegate(const py::object& delegate, const py::kwargs& callbacks) {
    auto d = makeDelegate(delegate, callbacks);
    py::gil_scoped_release unlocked;
    client_->setLocationDelegate(std::move(d));
  }
  py::object delegate() const {
    const auto& d = std::static_pointer_cast<PyDelegate>(client_->callDelegate());
    return d ? d->delegate() : py::none();
  }

 private:
  std::unique_ptr<orv::OrvClientLocation> client_;
};

// Binds one operation; it runs without the GIL.
template <class Cls, class F, class... Extra>
void op(Cls& cls, const char* name, F&& f, const Extra&... extra) {
  cls.def(name, f, extra..., py::call_guard<py::gil_scoped_release>());
}

// A property read and written through the client's own getter and setter.
template <class T>
void property(py::class_<Client>& cls, const char* name, T (orv::OrvClientLocation::*get)() const,
              void (orv::OrvClientLocation::*set)(T)) {
  cls.def_property(
      name, [get](Client& c) { return ((*c).*get)(); }, [set](Client& c, T v) { ((*c).*set)(v); });
}

}  // namespace

void bindClient(py::module_& m) {
  using O = orv::OrvClientLocation;
  py::class_<Client> cls(m, "Client", R"(The location client (OrvClientLocation).

Callbacks are given as keywords (on_location, on_error, on_reverse, on_geocode, on_poi) or as
methods of a delegate object, under those names or the delegate interface's own names
(onReceivedLocationWithOrvLocation, onLocationError or onLocationErrorWithMsg, ...). on_error
receives an orvlib.LocationError: the text, with code, domain, status and retry_after. Callbacks
run on the thread that drives the main loop (orvlib.run_for, run_until, orvlib.asyncio); an
exception raised in one is printed with its traceback and does not stop the loop.)");
  cls.def(py::init<const py::object&, const py::kwargs&>(), py::arg("delegate") = py::none());

  // What each request operation returns.
  py::class_<orv::RequestHandle>(m, "RequestHandle", R"(One request of a Client.

cancel() (from any thread) ends it unless its outcome has been handled: the transfer is aborted and
the callbacks get one error, code cancelled, instead of the outcome.)")
      .def("cancel", &orv::RequestHandle::cancel, py::call_guard<py::gil_scoped_release>())
      .def_property_readonly("finished", &orv::RequestHandle::finished);

  op(
      cls, "init_key", [](Client& c, const std::string& key) { (*c).initKey(key); },
      py::arg("access_key"));
  op(
      cls, "set_agree_privacy", [](Client& c, bool agree) { (*c).setAgreePrivacy(agree); },
      py::arg("agree"));
  // Starting and stopping add or remove timers: wake a host loop that waits for the next one.
  op(cls, "start_location", [](Client& c) {
    (*c).startLocation();
    wakeMainLoop();
  });
  op(cls, "start_fast_location", [](Client& c) {
    (*c).startFastLocation();
    wakeMainLoop();
  });
  op(cls, "stop_location", [](Client& c) {
    (*c).stopLocation();
    wakeMainLoop();
  });
  op(
      cls, "track_location",
      [](Client& c, const orv::Location& l) { return (*c).getTrackLocationWithHandle(l); },
      py::arg("location"));
  op(
      cls, "reverse_geocode",
      [](Client& c, double lat, double lng) { return (*c).getReverseCodeWithHandle(lat, lng); },
      py::arg("latitude"), py::arg("longitude"));
  op(
      cls, "geocode",
      [](Client& c, const std::string& address, const std::string& city) {
        return (*c).getGeocCodeWithHandle(address, city);
      },
      py::arg("address"), py::arg("city"));
  op(
      cls, "poi_search",
      [](Client& c, const std::string& name, const std::string& cityCode, const std::string& city,
         int32_t page,
         int32_t size) { return (*c).poiKeySearchWithHandle(name, cityCode, city, page, size); },
      py::arg("name"), py::arg("city_code"), py::arg("city"), py::arg("page_index") = 1,
      py::arg("page_size") = 10);
  op(
      cls, "poi_nearby_search",
      [](Client& c, const std::string& keywords, const std::string& location, int32_t radius,
         const std::string& category, const std::string& orderby, int32_t page, int32_t size) {
        return (*c).poiNearbySearchWithHandle(keywords, location, radius, category, orderby, page,
                                              size);
      },
      py::arg("keywords"), py::arg("location"), py::arg("radius"), py::arg("category") = "",
      py::arg("orderby") = "", py::arg("page_index") = 1, py::arg("page_size") = 10);

  cls.def("set_delegate", &Client::setDelegate, py::arg("delegate") = py::none(),
          "Replaces the delegate and callbacks (same arguments as the constructor).");
  cls.def_property("delegate", &Client::delegate,
                   [](Client& c, const py::object& d) { c.setDelegate(d, py::kwargs()); });
  cls.def_property(
      "access_key", [](Client& c) { return (*c).accesskey(); },
      [](Client& c, std::optional<std::string> key) { (*c).setAccesskey(std::move(key)); });
  property(cls, "interval", &O::interval, &O::setInterval);
  property(cls, "locate_once", &O::isLocateOnce, &O::setIsLocateOnce);
  property(cls, "fast_location", &O::isFastLocation, &O::setIsFastLocation);
  property(cls, "agree", &O::isAgree, &O::setIsAgree);
  cls.def_property_readonly("milli_stamp", [](Client& c) { return (*c).milliStamp(); });

  m.def("set_log_enabled", &O::setIsLogEnabled, py::arg("enabled"),
        "Switches the library's log lines on or off (process-wide).");
  m.def("is_log_enabled", &O::isLogEnabled);
  m.def(
      "set_log_sink",
      [](const py::object& sink) {
        std::function<void(std::string_view)> fn;
        if (!sink.is_none()) {
          auto ref = std::make_shared<PyRef>(sink);
          fn = [ref](std::string_view line) {
            callPython(*ref, py::str(line.data(), line.size()));
          };
        }
        // The swap waits for a call of the old sink on another thread, which may be waiting for
        // the GIL.
        py::gil_scoped_release unlocked;
        O::setLogSink(std::move(fn));
      },
      py::arg("sink"),
      "Sends each log line (without newline) to sink(line), from any thread, one call at a time; "
      "the sink may call the library. None restores standard output.");
  m.def("shared_access_key", &O::sharedAccessKey);
  m.def(
      "set_service",
      [](std::string baseUrl, std::string caFile, std::string proxy) {
        orv::setServiceConfiguration({std::move(baseUrl), std::move(caFile), std::move(proxy)});
      },
      py::arg("base_url") = "", py::kw_only(), py::arg("ca_file") = "", py::arg("proxy") = "",
      "Service base URL, CA bundle and proxy for requests started afterwards ('' = default).");
}

}  // namespace orvpy
