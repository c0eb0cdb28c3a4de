// orvlib.GeofenceMonitor: fences added from Python, fed one fix at a time or whole numpy columns.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "bindings.h"
#include "orv/geofence.h"

namespace py = pybind11;

namespace orvpy {

namespace {

using namespace py::literals;

// orvlib.GeofenceError, raised for every error the monitor reports; a ValueError, so callers may
// catch either. Never freed: the module lives as long as the interpreter.
PyObject* geofenceError = nullptr;

[[noreturn]] void raise(const orv::Error& error) {
  PyErr_SetString(geofenceError, error.message.c_str());
  throw py::error_already_set();
}

template <class T>
T unwrap(orv::Result<T> result) {
  if (!result) raise(result.error());
  return std::move(*result);
}

orv::Datum parseDatum(const std::string& name) {
  if (name == "wgs84") return orv::Datum::wgs84;
  if (name == "gcj02") return orv::Datum::gcj02;
  if (name == "bd09") return orv::Datum::bd09;
  throw py::value_error("datum must be \"wgs84\", \"gcj02\" or \"bd09\", not \"" + name + "\"");
}

uint8_t parseTransitions(const py::iterable& names) {
  uint8_t mask = 0;
  for (py::handle h : names) {
    const auto name = py::cast<std::string>(h);
    if (name == "enter") {
      mask |= uint8_t(orv::GeofenceEventKind::enter);
    } else if (name == "exit") {
      mask |= uint8_t(orv::GeofenceEventKind::exit);
    } else if (name == "dwell") {
      mask |= uint8_t(orv::GeofenceEventKind::dwell);
    } else {
      throw py::value_error("transitions are \"enter\", \"exit\" and \"dwell\", not \"" + name +
                            "\"");
    }
  }
  return mask;
}

std::chrono::system_clock::time_point toTimePoint(double seconds) {
  return std::chrono::system_clock::time_point(
      std::chrono::duration_cast<std::chrono::system_clock::duration>(
          std::chrono::duration<double>(seconds)));
}

double toSeconds(std::chrono::system_clock::time_point t) {
  return std::chrono::duration<double>(t.time_since_epoch()).count();
}

orv::Location makeFix(double time, double lat, double lng, double accuracy) {
  orv::Location fix;
  fix.coordinate = {lat, lng};
  fix.horizontalAccuracy = accuracy;
  fix.timestamp = toTimePoint(time);
  return fix;
}

// A fix time the clock can hold in nanoseconds: finite and within 285 years of the epoch. NaT
// (the least int64 nanoseconds) is outside too.
bool validTime(double seconds) { return std::isfinite(seconds) && std::fabs(seconds) < 9e9; }

// A depth-first look at nested sequences: how many levels until a number.
int nesting(py::handle h) {
  int depth = 0;
  py::object item = py::reinterpret_borrow<py::object>(h);
  while (PySequence_Check(item.ptr()) && !py::isinstance<py::str>(item)) {
    if (py::len(item) == 0) return depth + 1;
    item = item[py::int_(0)];
    ++depth;
  }
  return depth;
}

std::vector<orv::Coordinate> ring(py::handle h) {
  std::vector<orv::Coordinate> out;
  for (py::handle point : py::cast<py::sequence>(h)) {
    auto pair = py::cast<py::sequence>(point);
    if (py::len(pair) != 2) throw py::value_error("a vertex is a (lat, lng) pair");
    out.push_back({py::cast<double>(pair[0]), py::cast<double>(pair[1])});
  }
  return out;
}

orv::GeofencePolygon polygon(py::handle rings) {
  orv::GeofencePolygon p;
  for (py::handle r : py::cast<py::sequence>(rings)) p.rings.push_back(ring(r));
  return p;
}

// One polygon (a list of rings of (lat, lng) pairs) or several (a list of such lists).
std::vector<orv::GeofencePolygon> polygons(py::handle shape) {
  const int depth = nesting(shape);
  if (depth == 3) return {polygon(shape)};
  if (depth == 4) {
    std::vector<orv::GeofencePolygon> out;
    for (py::handle p : py::cast<py::sequence>(shape)) out.push_back(polygon(p));
    return out;
  }
  throw py::value_error(
      "a polygon is a list of rings of (lat, lng) pairs, the outer ring first; a multipolygon is "
      "a list of polygons");
}

// GeoJSON text as it is; anything else names a file.
std::string geojsonText(py::handle textOrPath) {
  if (py::isinstance<py::str>(textOrPath)) {
    auto text = py::cast<std::string>(textOrPath);
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first != std::string::npos && text[first] == '{') return text;
  }
  const auto path = py::cast<std::string>(py::module_::import("os").attr("fspath")(textOrPath));
  std::ifstream in(path, std::ios::binary);
  if (!in) throw py::value_error("cannot read " + path);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

struct PyEvent {
  std::string kind, fence;
  double time, lat, lng, accuracy;

  static PyEvent from(const orv::GeofenceEvent& e) {
    return {std::string(orv::geofenceEventName(e.kind)),
            e.fenceId,
            toSeconds(e.fix.timestamp),
            e.fix.coordinate.latitude,
            e.fix.coordinate.longitude,
            e.fix.horizontalAccuracy};
  }
};

// A float64 view of one column, cast when it is of another dtype; datetime64 becomes seconds.
py::array_t<double> secondsColumn(py::handle h) {
  py::array a = py::array::ensure(h);
  if (!a) throw py::type_error("time must be an array");
  if (a.dtype().kind() == 'M') {
    a = a.attr("astype")("datetime64[ns]").attr("astype")("int64");
    a = py::array::ensure(a.attr("__truediv__")(1e9));
  }
  auto seconds = py::array_t<double, py::array::c_style | py::array::forcecast>::ensure(a);
  if (!seconds) throw py::type_error("time must hold numbers or datetime64 values");
  return seconds;
}

py::array_t<double> floatColumn(py::handle h, const char* name) {
  auto a = py::array_t<double, py::array::c_style | py::array::forcecast>::ensure(h);
  if (!a) throw py::type_error(std::string(name) + " must be an array of numbers");
  return a;
}

class Monitor {
 public:
  explicit Monitor(const std::optional<std::string>& state)
      : monitor_(state ? unwrap(orv::GeofenceMonitor::open(*state)) : orv::GeofenceMonitor()) {}

  void add(std::string id, orv::GeofenceShape shape, const std::string& datum,
           std::optional<double> dwell, const py::iterable& transitions) {
    orv::Geofence fence;
    fence.id = std::move(id);
    fence.shape = std::move(shape);
    fence.datum = parseDatum(datum);
    if (dwell) fence.dwell = std::chrono::duration<double>(*dwell);
    fence.transitions = parseTransitions(transitions);
    std::lock_guard lock(mutex_);
    (void)unwrap(monitor_.add(fence));
  }

  void addCircle(std::string id, double lat, double lng, double radius, const std::string& datum,
                 std::optional<double> dwell, const py::iterable& transitions) {
    add(std::move(id), orv::GeofenceCircle{{lat, lng}, radius}, datum, dwell, transitions);
  }

  void addPolygon(std::string id, py::handle shape, const std::string& datum,
                  std::optional<double> dwell, const py::iterable& transitions) {
    add(std::move(id), polygons(shape), datum, dwell, transitions);
  }

  std::size_t loadGeoJson(py::handle textOrPath, const std::string& datum) {
    const std::string text = geojsonText(textOrPath);
    const orv::Datum d = parseDatum(datum);
    orv::Result<std::size_t> added = std::size_t(0);
    {
      py::gil_scoped_release unlocked;
      std::lock_guard lock(mutex_);
      added = monitor_.loadGeoJson(text, d);
    }
    return unwrap(std::move(added));
  }

  bool remove(const std::string& id) {
    std::lock_guard lock(mutex_);
    return monitor_.remove(id);
  }

  std::size_t size() {
    std::lock_guard lock(mutex_);
    return monitor_.size();
  }

  std::vector<PyEvent> update(double lat, double lng, std::optional<double> accuracy, double time) {
    if (!validTime(time)) throw py::value_error("time must be finite seconds since the epoch");
    const orv::Location fix = makeFix(time, lat, lng, accuracy.value_or(NAN));
    orv::Result<std::vector<orv::GeofenceEvent>> got = std::vector<orv::GeofenceEvent>{};
    {
      // With a state file each fix is committed to disk first: other threads run meanwhile.
      py::gil_scoped_release unlocked;
      std::lock_guard lock(mutex_);
      got = monitor_.update(fix);
    }
    auto events = unwrap(std::move(got));
    std::vector<PyEvent> out;
    for (const auto& e : events) out.push_back(PyEvent::from(e));
    return out;
  }

  py::object evaluate(py::handle time, py::handle lat, py::handle lng, py::handle accuracy,
                      bool asFrame) {
    const auto t = secondsColumn(time);
    const auto la = floatColumn(lat, "lat"), lo = floatColumn(lng, "lng");
    const bool hasAccuracy = !accuracy.is_none();
    const auto ac = hasAccuracy ? floatColumn(accuracy, "accuracy") : py::array_t<double>(0);
    const py::ssize_t n = t.size();
    if (t.ndim() != 1 || la.ndim() != 1 || lo.ndim() != 1 || la.size() != n || lo.size() != n ||
        (hasAccuracy && (ac.ndim() != 1 || ac.size() != n))) {
      throw py::value_error("time, lat, lng and accuracy must be 1-d arrays of one length");
    }
    const double *pt = t.data(), *pla = la.data(), *plo = lo.data();
    const double* pac = hasAccuracy ? ac.data() : nullptr;

    std::vector<orv::GeofenceEvent> events;
    std::vector<int64_t> rows;
    std::optional<orv::Error> failed;
    py::ssize_t badRow = -1;
    bool backwards = false;
    {
      py::gil_scoped_release unlocked;
      // Checked whole before the first fix, so a refused track leaves the fences' state alone.
      for (py::ssize_t i = 0; i < n && badRow < 0; ++i) {
        if (!validTime(pt[i])) {
          badRow = i;
        } else if (i > 0 && pt[i] < pt[i - 1]) {
          badRow = i;
          backwards = true;
        }
      }
      std::lock_guard lock(mutex_);
      for (py::ssize_t i = 0; i < n && badRow < 0; ++i) {
        auto got = monitor_.update(makeFix(pt[i], pla[i], plo[i], pac ? pac[i] : NAN));
        if (!got) {
          failed = got.error();
          break;
        }
        for (auto& e : *got) {
          events.push_back(std::move(e));
          rows.push_back(i);
        }
      }
    }
    if (badRow >= 0) {
      throw py::value_error("time at row " + std::to_string(badRow) +
                            (backwards ? " is before the row above it: one track, in time order"
                                       : " is not finite seconds since the epoch"));
    }
    if (failed) raise(*failed);
    return eventColumns(events, rows, time, asFrame);
  }

 private:
  // The events as columns; `time` comes from the caller's column, in its own dtype.
  static py::object eventColumns(const std::vector<orv::GeofenceEvent>& events,
                                 const std::vector<int64_t>& rows, py::handle time, bool asFrame) {
    const auto m = py::ssize_t(events.size());
    py::array_t<int64_t> row(m);
    py::array_t<double> lat(m), lng(m), accuracy(m);
    py::list kind, fence;
    for (py::ssize_t i = 0; i < m; ++i) {
      const auto& e = events[std::size_t(i)];
      row.mutable_at(i) = rows[std::size_t(i)];
      lat.mutable_at(i) = e.fix.coordinate.latitude;
      lng.mutable_at(i) = e.fix.coordinate.longitude;
      accuracy.mutable_at(i) = e.fix.horizontalAccuracy;
      kind.append(
          py::str(orv::geofenceEventName(e.kind).data(), orv::geofenceEventName(e.kind).size()));
      fence.append(e.fenceId);
    }
    auto np = py::module_::import("numpy");
    py::dict columns;
    columns["event"] = np.attr("array")(kind, "dtype"_a = "object");
    columns["fence"] = np.attr("array")(fence, "dtype"_a = "object");
    columns["time"] = py::object(np.attr("asarray")(time)[row]);
    columns["lat"] = lat;
    columns["lng"] = lng;
    columns["accuracy"] = accuracy;
    columns["row"] = row;
    if (!asFrame) return columns;
    return py::module_::import("pandas").attr("DataFrame")(columns);
  }

  std::mutex mutex_;  // evaluate runs without the GIL
  orv::GeofenceMonitor monitor_;
};

}  // namespace

void bindGeofence(py::module_& m) {
  geofenceError = PyErr_NewException("orvlib.GeofenceError", PyExc_ValueError, nullptr);
  if (!geofenceError) throw py::error_already_set();
  m.attr("GeofenceError") = py::reinterpret_borrow<py::object>(geofenceError);

  py::class_<PyEvent>(m, "GeofenceEvent", "One enter, exit or dwell, with the fix that caused it.")
      .def_readonly("kind", &PyEvent::kind)
      .def_readonly("fence", &PyEvent::fence)
      .def_readonly("time", &PyEvent::time)
      .def_readonly("lat", &PyEvent::lat)
      .def_readonly("lng", &PyEvent::lng)
      .def_readonly("accuracy", &PyEvent::accuracy)
      .def("__repr__", [](const PyEvent& e) {
        return "GeofenceEvent(kind=" + py::repr(py::str(e.kind)).cast<std::string>() +
               ", fence=" + py::repr(py::str(e.fence)).cast<std::string>() +
               ", time=" + py::repr(py::float_(e.time)).cast<std::string>() + ")";
      });

  const auto all = py::make_tuple("enter", "exit", "dwell");
  py::class_<Monitor>(m, "GeofenceMonitor", R"(Circles and polygons watched against fixes.

With `state` (a file path) each fence's state is recorded there and resumed after a restart.
Errors of the monitor raise orvlib.GeofenceError, a ValueError.)")
      .def(py::init<std::optional<std::string>>(), py::arg("state") = py::none())
      .def("add_circle", &Monitor::addCircle, py::arg("id"), py::arg("lat"), py::arg("lng"),
           py::arg("radius"), py::kw_only(), py::arg("datum") = "wgs84",
           py::arg("dwell") = py::none(), py::arg("transitions") = all,
           "Adds (or replaces) a circle; radius in metres, dwell in seconds.")
      .def("add_polygon", &Monitor::addPolygon, py::arg("id"), py::arg("rings"), py::kw_only(),
           py::arg("datum") = "wgs84", py::arg("dwell") = py::none(), py::arg("transitions") = all,
           "Adds (or replaces) a polygon: a list of rings of (lat, lng) pairs, outer ring first, "
           "or a list of such polygons.")
      .def("load_geojson", &Monitor::loadGeoJson, py::arg("text_or_path"),
           py::arg("datum") = "wgs84",
           "Adds all the fences of a GeoJSON FeatureCollection (text or a file), or none; "
           "returns how many.")
      .def("remove", &Monitor::remove, py::arg("id"))
      .def("__len__", &Monitor::size)
      .def("update", &Monitor::update, py::arg("lat"), py::arg("lng"),
           py::arg("accuracy") = py::none(), py::arg("time") = 0.0,
           "Feeds one WGS-84 fix (time in seconds since the epoch); returns its events.")
      .def("evaluate", &Monitor::evaluate, py::arg("time"), py::arg("lat"), py::arg("lng"),
           py::arg("accuracy") = py::none(), py::kw_only(), py::arg("as_frame") = true,
           R"(Feeds one track, in time order, from columns (time: seconds or datetime64).

Returns the events as a pandas DataFrame (columns event, fence, time, lat, lng, accuracy, row:
the fix's position in the columns), or as a dict of numpy arrays with as_frame=False.)");
}

}  // namespace orvpy
