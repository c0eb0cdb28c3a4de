// orvlib.batch's native part: a whole column of requests through the batch engine, on the
// calling thread's run loop, answered as columns in input order.
#include <pybind11/functional.h>
#include <pybind11/numpy.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "bindings.h"
#include "orv/batch.h"
#include "orv/client.h"

namespace orvpy {

namespace {

using Doubles = py::array_t<double, py::array::c_style | py::array::forcecast>;

// The batch's own client: outcomes come through the batch, not a delegate.
class SilentDelegate final : public orv::LocationDelegate {
 public:
  void onReceivedLocationWithOrvLocation(std::shared_ptr<orv::LocationRes>) override {}
  void onLocationErrorWithMsg(const std::string&) override {}
};

// The answer columns, one entry per input.
struct Columns {
  explicit Columns(size_t n)
      : lat(n, std::numeric_limits<double>::quiet_NaN()),
        lng(n, std::numeric_limits<double>::quiet_NaN()),
        distance(n, std::numeric_limits<double>::quiet_NaN()),
        name(n),
        place(n),
        error(n),
        message(n),
        status(n, -1),
        attempts(n, 0) {}

  void take(const orv::BatchOutcome& o) {
    const size_t i = o.index;
    attempts[i] = o.attempts;
    if (o.error) {
      error[i] = std::string(orv::errorCodeName(o.error->code));
      message[i] = o.error->message;
      status[i] = o.error->status;
      return;
    }
    if (!o.places.empty()) {
      const orv::GeocodeRes& hit = *o.places.front();
      name[i] = hit.name();
      // "longitude,latitude"
      const std::string& point = hit.geoPoint();
      const size_t comma = point.find(',');
      if (comma != std::string::npos) {
        lng[i] = std::strtod(point.c_str(), nullptr);
        lat[i] = std::strtod(point.c_str() + comma + 1, nullptr);
      }
    }
    const auto& detail = o.location ? o.location->location() : nullptr;
    if (!detail) return;
    if (detail->position() && detail->position()->point()) {
      lat[i] = detail->position()->point()->latitude();
      lng[i] = detail->position()->point()->longitude();
    }
    if (detail->address()) name[i] = detail->address()->name();
    if (detail->place() && !detail->place()->name().empty()) {
      place[i] = detail->place()->name();
      if (detail->place()->distance()) distance[i] = detail->place()->distance()->line();
    }
  }

  py::dict toDict() const {
    py::dict d;
    d["lat"] = py::array_t<double>(static_cast<py::ssize_t>(lat.size()), lat.data());
    d["lng"] = py::array_t<double>(static_cast<py::ssize_t>(lng.size()), lng.data());
    d["distance"] = py::array_t<double>(static_cast<py::ssize_t>(distance.size()), distance.data());
    d["name"] = py::cast(name);
    d["place"] = py::cast(place);
    d["error"] = py::cast(error);
    d["message"] = py::cast(message);
    d["status"] = py::array_t<long>(static_cast<py::ssize_t>(status.size()), status.data());
    d["attempts"] = py::array_t<int>(static_cast<py::ssize_t>(attempts.size()), attempts.data());
    return d;
  }

  std::vector<double> lat, lng, distance;
  std::vector<std::optional<std::string>> name, place, error, message;
  std::vector<long> status;
  std::vector<int> attempts;
};

struct Settings {
  std::string key;
  bool agree = true;
  orv::BatchOptions options;
};

// Runs one batch to its end on this thread's loop. An exception raised while it runs (Ctrl-C)
// cancels it and propagates.
template <class Input, class Start>
py::dict run(std::vector<Input> inputs, const Settings& s, Start start) {
  Columns columns(inputs.size());
  bool done = false;
  std::unique_ptr<orv::OrvClientLocation> client;
  std::unique_ptr<orv::Batch> batch;
  {
    // The permission hook takes the GIL itself.
    py::gil_scoped_release unlocked;
    client = std::make_unique<orv::OrvClientLocation>(std::make_shared<SilentDelegate>());
    client->initKey(s.key);
    client->setAgreePrivacy(s.agree);
    batch = start(
        *client, std::move(inputs), s.options,
        [&columns](const orv::BatchOutcome& o) { columns.take(o); }, [&done] { done = true; });
  }
  try {
    runLoopUntil([&done] { return done; });
  } catch (...) {
    {
      py::gil_scoped_release unlocked;
      batch->cancel();
      batch.reset();
      client.reset();
    }
    throw;
  }
  {
    py::gil_scoped_release unlocked;
    batch.reset();
    client.reset();
  }
  return columns.toDict();
}

// The options orvlib.batch passes by keyword, every one of them, to each kind of batch.
Settings settings(const py::kwargs& options) {
  static constexpr const char* kNames[] = {"key",         "agree",    "rate",    "burst",
                                           "concurrency", "attempts", "timeout", "permit",
                                           "on_send",     "on_answer"};
  for (auto item : options) {
    const auto name = py::cast<std::string>(item.first);
    if (std::find(std::begin(kNames), std::end(kNames), name) == std::end(kNames)) {
      throw py::type_error("unknown batch option: " + name);
    }
  }
  for (const char* name : kNames) {
    if (!options.contains(name)) throw py::type_error(std::string("missing batch option: ") + name);
  }
  Settings s;
  s.key = py::cast<std::string>(options["key"]);
  s.agree = py::cast<bool>(options["agree"]);
  const auto rate = py::cast<double>(options["rate"]), burst = py::cast<double>(options["burst"]),
             timeout = py::cast<double>(options["timeout"]);
  const auto concurrency = py::cast<int>(options["concurrency"]),
             attempts = py::cast<int>(options["attempts"]);
  if (!(rate >= 0) || !(burst >= 1) || concurrency < 1 || attempts < 1 || !(timeout > 0)) {
    throw py::value_error(
        "rate must be at least 0, burst at least 1, concurrency and attempts at least 1, "
        "timeout above 0");
  }
  s.options.rate = rate;
  s.options.burst = burst;
  s.options.concurrency = concurrency;
  s.options.maxAttempts = attempts;
  s.options.timeout = timeout;
  if (py::object permit = options["permit"]; !permit.is_none()) {
    auto fn = std::make_shared<PyRef>(permit);
    s.options.permit = [fn](std::function<void()> grant) { callPython(*fn, std::move(grant)); };
  }
  if (py::object onSend = options["on_send"]; !onSend.is_none()) {
    auto fn = std::make_shared<PyRef>(onSend);
    s.options.onSend = [fn] { callPython(*fn); };
  }
  if (py::object onAnswer = options["on_answer"]; !onAnswer.is_none()) {
    auto fn = std::make_shared<PyRef>(onAnswer);
    s.options.onAnswer = [fn] { callPython(*fn); };
  }
  return s;
}

void sameLength(size_t a, size_t b) {
  if (a != b) throw py::value_error("the columns differ in length");
}

}  // namespace

void bindBatch(py::module_& m) {
  m.def(
      "_batch_reverse",
      [](Doubles lat, Doubles lng, const py::kwargs& options) {
        sameLength(lat.size(), lng.size());
        std::vector<orv::ReverseGeocodeInput> inputs(static_cast<size_t>(lat.size()));
        for (size_t i = 0; i < inputs.size(); ++i) inputs[i] = {lat.at(i), lng.at(i)};
        return run(std::move(inputs), settings(options), &orv::Batch::reverseGeocode);
      },
      py::arg("lat"), py::arg("lng"));
  m.def(
      "_batch_geocode",
      [](std::vector<std::string> addresses, std::vector<std::string> cities,
         const py::kwargs& options) {
        sameLength(addresses.size(), cities.size());
        std::vector<orv::GeocodeInput> inputs(addresses.size());
        for (size_t i = 0; i < inputs.size(); ++i) {
          inputs[i] = {std::move(addresses[i]), std::move(cities[i])};
        }
        return run(std::move(inputs), settings(options), &orv::Batch::geocode);
      },
      py::arg("addresses"), py::arg("cities"));
  m.def(
      "_batch_track",
      [](Doubles lat, Doubles lng, Doubles accuracy, Doubles time, const py::kwargs& options) {
        for (const auto& column : {lng, accuracy, time}) sameLength(lat.size(), column.size());
        std::vector<orv::Location> fixes(static_cast<size_t>(lat.size()));
        for (size_t i = 0; i < fixes.size(); ++i) {
          fixes[i].coordinate = {lat.at(i), lng.at(i)};
          fixes[i].horizontalAccuracy = accuracy.at(i);
          fixes[i].timestamp = std::chrono::system_clock::time_point(
              std::chrono::duration_cast<std::chrono::system_clock::duration>(
                  std::chrono::duration<double>(time.at(i))));
        }
        return run(std::move(fixes), settings(options), &orv::Batch::trackLocation);
      },
      py::arg("lat"), py::arg("lng"), py::arg("accuracy"), py::arg("time"));
}

}  // namespace orvpy
