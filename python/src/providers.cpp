// Device fixes and where they come from: orvlib.Location and the location providers.
#include <pybind11/chrono.h>
#include <pybind11/stl.h>

#include <chrono>
#include <cmath>
#include <map>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>

#include "bindings.h"
#include "orv/bundle.h"
#include "orv/location.h"
#include "orv/location_service.h"

namespace orvpy {

namespace {

using Clock = std::chrono::system_clock;

double toSeconds(Clock::time_point t) {
  return std::chrono::duration<double>(t.time_since_epoch()).count();
}

orv::Location makeLocation(double latitude, double longitude, double altitude,
                           double horizontalAccuracy, double verticalAccuracy, double speed,
                           double course, std::optional<double> timestamp) {
  orv::Location l;
  l.coordinate = {latitude, longitude};
  l.altitude = altitude;
  l.horizontalAccuracy = horizontalAccuracy;
  l.verticalAccuracy = verticalAccuracy;
  l.speed = speed;
  l.course = course;
  if (timestamp && !std::isfinite(*timestamp)) throw py::value_error("timestamp must be finite");
  l.timestamp = timestamp ? Clock::time_point(std::chrono::duration_cast<Clock::duration>(
                                std::chrono::duration<double>(*timestamp)))
                          : Clock::now();
  return l;
}

// The keyword arguments of a fix, shared by Location() and SimulatedProvider.push().
template <class... Extra>
auto fixArgs(Extra... extra) {
  return std::make_tuple(py::arg("latitude"), py::arg("longitude"), py::kw_only(),
                         py::arg("altitude") = 0.0, py::arg("horizontal_accuracy") = -1.0,
                         py::arg("vertical_accuracy") = -1.0, py::arg("speed") = -1.0,
                         py::arg("course") = -1.0, py::arg("timestamp") = py::none(), extra...);
}

orv::AuthorizationStatus authorization(int status) {
  if (status < 0 || status > 4) {
    throw py::value_error(
        "authorization status is 0 (not determined), 1 (restricted), "
        "2 (denied), 3 (always) or 4 (when in use)");
  }
  return orv::AuthorizationStatus(status);
}

// Hands a provider written in Python its output stream: push() from any thread.
class PySink {
 public:
  explicit PySink(std::shared_ptr<orv::LocationSink> sink) : sink_(std::move(sink)) {}
  orv::LocationSink& operator*() { return *sink_; }

 private:
  std::shared_ptr<orv::LocationSink> sink_;
};

// A provider written in Python: an object with start(sink) and stop(sink), called on the thread
// of the client that positions. Its status is fixed when it is installed.
class PyProvider final : public orv::LocationProvider,
                         public std::enable_shared_from_this<PyProvider> {
 public:
  PyProvider(py::object provider, orv::AuthorizationStatus status)
      : start_(provider.attr("start")), stop_(provider.attr("stop")), status_(status) {}

  orv::AuthorizationStatus authorizationStatus() const override { return status_; }

  // Python's stop() gets the very sink object its start() got, when the stream ends.
  class Stream final : public orv::LocationStream {
   public:
    Stream(std::shared_ptr<PyProvider> provider, std::shared_ptr<PyRef> sink)
        : provider_(std::move(provider)), sink_(std::move(sink)) {}
    ~Stream() override {
      py::gil_scoped_acquire gil;
      callPython(provider_->stop_, sink_->get());
    }

   private:
    std::shared_ptr<PyProvider> provider_;
    std::shared_ptr<PyRef> sink_;
  };

  std::unique_ptr<orv::LocationStream> open(
      const std::shared_ptr<orv::LocationSink>& sink) override {
    py::gil_scoped_acquire gil;
    auto handle = std::make_shared<PyRef>(py::cast(PySink(sink)));
    begin(sink, handle->get());
    return std::make_unique<Stream>(shared_from_this(), std::move(handle));
  }

  // Only open() is used: the library streams through it and this provider is never handed out.
  void start(const std::shared_ptr<orv::LocationSink>& sink) override {
    py::gil_scoped_acquire gil;
    begin(sink, py::cast(PySink(sink)));
  }
  void stop(const orv::LocationSink&) override {}

 private:
  void begin(const std::shared_ptr<orv::LocationSink>& sink, const py::object& handle) {
    try {
      start_.get()(handle);
    } catch (py::error_already_set& e) {
      if (e.matches(PyExc_KeyboardInterrupt) || e.matches(PyExc_SystemExit)) {
        reportCallbackError(e, start_.get());
        return;
      }
      // A stream that never starts is a failure of the source: the run must not wait for it.
      std::string text = "provider start() raised " + e.type().attr("__name__").cast<std::string>();
      try {
        if (const std::string message = py::str(e.value()); !message.empty())
          text += ": " + message;
      } catch (py::error_already_set&) {
        // An exception whose text cannot be made: its type names it.
      }
      py::gil_scoped_release unlocked;
      sink->deliverError(std::move(text));
    }
  }

  PyRef start_, stop_;
  const orv::AuthorizationStatus status_;
};

orv::InfoValue infoValue(const py::handle& v) {
  if (py::isinstance<py::bool_>(v)) return v.cast<bool>();
  if (py::isinstance<py::int_>(v)) return v.cast<int64_t>();
  if (py::isinstance<py::float_>(v)) return v.cast<double>();
  if (py::isinstance<py::str>(v)) return v.cast<std::string>();
  if (py::isinstance<py::list>(v) || py::isinstance<py::tuple>(v)) {
    return v.cast<std::vector<std::string>>();
  }
  throw py::type_error("a bundle value is a str, int, float, bool or a list of str");
}

}  // namespace

void bindProviders(py::module_& m) {
  py::class_<orv::Location> location(m, "Location",
                                     "One device fix (WGS-84). Negative accuracies, speed and "
                                     "course mean 'invalid'; timestamp in seconds since 1970.");
  std::apply([&](auto... args) { location.def(py::init(&makeLocation), args...); }, fixArgs());
  location
      .def_property_readonly("latitude",
                             [](const orv::Location& l) { return l.coordinate.latitude; })
      .def_property_readonly("longitude",
                             [](const orv::Location& l) { return l.coordinate.longitude; })
      .def_readonly("altitude", &orv::Location::altitude)
      .def_readonly("horizontal_accuracy", &orv::Location::horizontalAccuracy)
      .def_readonly("vertical_accuracy", &orv::Location::verticalAccuracy)
      .def_readonly("speed", &orv::Location::speed)
      .def_readonly("course", &orv::Location::course)
      .def_property_readonly("timestamp",
                             [](const orv::Location& l) { return toSeconds(l.timestamp); });
  location.attr("_fields") =
      py::make_tuple("latitude", "longitude", "altitude", "horizontal_accuracy",
                     "vertical_accuracy", "speed", "course", "timestamp");

  using Simulated = orv::SimulatedLocationProvider;
  py::class_<Simulated, std::shared_ptr<Simulated>> simulated(
      m, "SimulatedProvider",
      "Fixes pushed by the host: every client that is positioning receives them on its own "
      "loop. Any thread.");
  std::apply(
      [&](auto... args) {
        simulated.def(
            "push",
            [](Simulated& p, double lat, double lng, double alt, double hacc, double vacc,
               double speed, double course, std::optional<double> timestamp) {
              const orv::Location l =
                  makeLocation(lat, lng, alt, hacc, vacc, speed, course, timestamp);
              py::gil_scoped_release unlocked;
              p.pushLocation(l);
            },
            args...);
      },
      fixArgs());
  simulated
      .def("push_locations", &Simulated::pushLocations, py::arg("locations"),
           py::call_guard<py::gil_scoped_release>())
      .def("push_error", &Simulated::pushError, py::arg("message"),
           py::call_guard<py::gil_scoped_release>())
      .def(
          "set_authorization_status",
          [](Simulated& p, int status) { p.setAuthorizationStatus(authorization(status)); },
          py::arg("status"), "0 not determined, 1 restricted, 2 denied, 3 always, 4 when in use.")
      .def_property_readonly("is_updating", &Simulated::isUpdating);

  py::class_<PySink> sink(m, "LocationSink",
                          "The output stream a provider written in Python pushes into. Any "
                          "thread; pushes after the stream stopped are dropped.");
  std::apply(
      [&](auto... args) {
        sink.def(
            "push",
            [](PySink& s, double lat, double lng, double alt, double hacc, double vacc,
               double speed, double course, std::optional<double> timestamp) {
              orv::Location l = makeLocation(lat, lng, alt, hacc, vacc, speed, course, timestamp);
              py::gil_scoped_release unlocked;
              (*s).deliverLocations({l});
            },
            args...);
      },
      fixArgs());
  sink.def(
          "push_locations",
          [](PySink& s, std::vector<orv::Location> l) { (*s).deliverLocations(std::move(l)); },
          py::arg("locations"), py::call_guard<py::gil_scoped_release>())
      .def(
          "push_error", [](PySink& s, std::string text) { (*s).deliverError(std::move(text)); },
          py::arg("message"), py::call_guard<py::gil_scoped_release>());
  m.def(
      "use_provider",
      [](py::object provider, int status) {
        for (const char* method : {"start", "stop"}) {
          if (!py::hasattr(provider, method)) {
            throw py::type_error(std::string("a provider needs start(sink) and stop(sink); ") +
                                 "this one has no " + method + "()");
          }
        }
        auto p = std::make_shared<PyProvider>(std::move(provider), authorization(status));
        py::gil_scoped_release unlocked;
        orv::LocationService::use(std::move(p));
      },
      py::arg("provider"), py::kw_only(), py::arg("authorization_status") = 4,
      "Installs a provider written in Python: start(sink) begins pushing fixes into sink "
      "(sink.push(lat, lng, ...), from any thread), stop(sink) ends that stream.");
  m.def("use_simulated", &orv::LocationService::useSimulated,
        "Installs a provider the host drives by hand and returns it.");
  m.def(
      "use_replay",
      [](const std::string& path, double speed, bool loop, int authorizationStatus) {
        auto done = orv::LocationService::useReplay(
            {path, speed, loop, authorization(authorizationStatus)});
        if (!done) throw py::value_error(done.error().message);
      },
      py::arg("path"), py::kw_only(), py::arg("speed") = 1.0, py::arg("loop") = false,
      py::arg("authorization_status") = 4,
      "Plays a recorded track (CSV header time,lat,lng,alt,hacc,vacc,speed). ValueError when the "
      "file cannot be read or a row is malformed.");
  m.def(
      "set_bundle_object",
      [](const std::string& key, const py::object& value) {
        if (value.is_none()) {
          orv::Bundle::mainBundle().removeObject(key);
        } else {
          orv::Bundle::mainBundle().setObject(key, infoValue(value));
        }
      },
      py::arg("key"), py::arg("value"),
      "Declares a key of the host's bundle, e.g. 'NSLocationWhenInUseUsageDescription' (needed "
      "before positioning) or 'UIBackgroundModes' = ['location']; None removes it.");
  m.def(
      "use_gpsd",
      [](std::string host, uint16_t port) {
        orv::LocationService::useGpsd({std::move(host), port});
      },
      py::arg("host") = "127.0.0.1", py::arg("port") = 2947,
      "Fixes from a gpsd daemon over TCP. Nothing connects before the first start; failures reach "
      "on_error.");
  m.def(
      "use_nmea",
      [](std::string source, int baudRate) {
        auto done = orv::LocationService::useNmea({std::move(source), baudRate});
        if (!done) throw py::value_error(done.error().message);
      },
      py::arg("source"), py::kw_only(), py::arg("baud_rate") = 9600,
      "Fixes from an NMEA 0183 receiver: a serial device, 'tcp:HOST:PORT' or 'udp:PORT'. "
      "ValueError when the source text or baud rate is malformed.");
  m.def(
      "use_geoclue",
      [](std::string desktopId, double desiredAccuracy, double distanceFilter) {
        if (desktopId.empty()) throw py::value_error("use_geoclue needs the host's desktop id");
        auto done = orv::LocationService::useGeoClue(
            {std::move(desktopId), desiredAccuracy, distanceFilter});
        if (!done) throw std::runtime_error(done.error().message);
      },
      py::arg("desktop_id"), py::kw_only(), py::arg("desired_accuracy") = -1.0,
      py::arg("distance_filter") = 3.0,
      "Fixes from GeoClue2, the desktop's location service: desktop_id is the host's desktop file "
      "name without '.desktop'; accuracies in metres (negative: best). ValueError for an empty "
      "desktop id, RuntimeError when this build has no GeoClue support.");
  m.def("use_system_default", &orv::LocationService::useSystemDefault,
        "The default: at each start the first system source that answers (gpsd at "
        "127.0.0.1:2947).");
  m.def("use_none", &orv::LocationService::useNone, "No provider: every start fails.");
}

}  // namespace orvpy
