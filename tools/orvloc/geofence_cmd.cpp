// orvloc geofence: fences from a GeoJSON file watched against a location source or a recorded
// track; one line per event. Runs on the device: no service key.
#include <CLI/CLI.hpp>
#include <chrono>
#include <ctime>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>

#include "command.h"
#include "location/provider_registry.h"
#include "location/replay_provider.h"
#include "location_source.h"
#include "model/json_writer.h"
#include "orv/geofence.h"
#include "orv/run_loop.h"
#include "session.h"
#include "table.h"
#include "text_number.h"

namespace orvloc {
namespace {

std::string readFile(const std::string& path, bool& ok) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  ok = static_cast<bool>(in);
  return text.str();
}

double seconds(const orv::Location& l) {
  return std::chrono::duration<double>(l.timestamp.time_since_epoch()).count();
}

std::string jsonLine(const orv::GeofenceEvent& e) {
  orv::detail::JsonWriter w;
  const orv::detail::JsonPath at{};
  w.beginObject();
  w.key("event");
  w.string(orv::geofenceEventName(e.kind), at);
  w.key("fence");
  w.string(e.fenceId, at);
  w.key("time");
  w.number(seconds(e.fix), at);
  w.key("lat");
  w.number(e.fix.coordinate.latitude, at);
  w.key("lng");
  w.number(e.fix.coordinate.longitude, at);
  w.key("accuracy");
  w.number(e.fix.horizontalAccuracy, at);
  w.endObject();
  auto text = std::move(w).finish();
  return text.ok() ? *text : "{\"event\":\"" + std::string(orv::geofenceEventName(e.kind)) + "\"}";
}

const Table& eventTable() {
  static const Table table({{"EVENT", 6},
                            {"FENCE", 20},
                            {"TIME (UTC)", 24},
                            {"LAT", 12, true},
                            {"LNG", 13, true},
                            {"ACC (m)", 8, true}});
  return table;
}

std::string utc(double t) {
  const auto whole = static_cast<std::time_t>(std::floor(t));
  std::tm tm{};
  gmtime_r(&whole, &tm);
  char buf[40];
  std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &tm);
  const int ms = static_cast<int>(std::lround((t - std::floor(t)) * 1000)) % 1000;
  return std::string(buf) + "." + std::to_string(1000 + ms).substr(1);
}

// Fixes from the provider, handed to the main loop.
class FixSink : public orv::LocationSink {
 public:
  using orv::LocationSink::deliverError;
  explicit FixSink(std::function<void(const orv::Location&)> onFix,
                   std::function<void(const std::string&)> onError)
      : onFix_(std::move(onFix)), onError_(std::move(onError)) {}
  void deliverLocations(std::vector<orv::Location> locations) override {
    orv::RunLoop::main().post([f = onFix_, locations = std::move(locations)] {
      for (const auto& l : locations) f(l);
    });
  }
  void deliverError(std::string description) override {
    orv::RunLoop::main().post([f = onError_, d = std::move(description)] { f(d); });
  }

 private:
  std::function<void(const orv::Location&)> onFix_;
  std::function<void(const std::string&)> onError_;
};

std::function<int()> setupGeofence(CLI::App& cmd) {
  struct Args {
    std::string fences, datum = "wgs84", state, replay, source;
    double dwell = -1.0, speed = 1.0;
    bool table = false, agree = false;
  };
  auto a = std::make_shared<Args>();
  cmd.add_option("--fences", a->fences, "GeoJSON FeatureCollection of the fences")->required();
  cmd.add_option("--datum", a->datum, "datum of the file's coordinates")
      ->check(CLI::IsMember({"wgs84", "gcj02", "bd09"}))
      ->capture_default_str();
  cmd.add_option("--dwell", a->dwell, "dwell seconds for fences that set none")
      ->check(CLI::NonNegativeNumber);
  cmd.add_option("--state", a->state, "state file: a restart resumes instead of repeating events");
  auto* replay = cmd.add_option("--replay", a->replay, "recorded track (CSV), ends at its end");
  auto* source =
      cmd.add_option("--source", a->source,
                     "system, gpsd[:HOST[:PORT]], nmea:DEVICE[@BAUD], "
                     "nmea-tcp:HOST:PORT, nmea-udp:PORT or geoclue; until SIGINT/SIGTERM");
  replay->excludes(source);
  cmd.add_option("--speed", a->speed, "replay pace: 1 recorded, larger faster, 0 at once")
      ->capture_default_str();
  cmd.add_flag("--table", a->table, "aligned columns for people instead of JSON lines");
  cmd.add_flag("--agree", a->agree, "the user agrees to the privacy policy");
  return [a]() -> int {
    if (a->replay.empty() == a->source.empty())
      throw UsageError{"give one of --replay or --source"};
    if (!a->agree) {
      std::cerr << "orvloc: 您未同意隐私政策 (--agree)\n";
      return kExitFailure;
    }
    bool ok = false;
    const std::string text = readFile(a->fences, ok);
    if (!ok) {
      std::cerr << "orvloc: cannot read " << a->fences << '\n';
      return kExitFailure;
    }
    const orv::Datum datum = a->datum == "gcj02"  ? orv::Datum::gcj02
                             : a->datum == "bd09" ? orv::Datum::bd09
                                                  : orv::Datum::wgs84;
    auto fences = orv::parseGeofences(text, datum);
    if (!fences.ok()) {
      std::cerr << "orvloc: " << a->fences << ": " << fences.error().message << '\n';
      return kExitFailure;
    }
    if (a->dwell >= 0) {
      for (auto& f : *fences) {
        if (!f.dwell) f.dwell = std::chrono::duration<double>(a->dwell);
      }
    }
    auto monitor = a->state.empty() ? orv::Result<orv::GeofenceMonitor>(orv::GeofenceMonitor())
                                    : orv::GeofenceMonitor::open(a->state);
    if (!monitor.ok()) {
      std::cerr << "orvloc: " << monitor.error().message << '\n';
      return kExitFailure;
    }
    if (auto added = monitor->addAll(*fences); !added.ok()) {
      std::cerr << "orvloc: " << a->fences << ": " << added.error().message << '\n';
      return kExitFailure;
    }

    // A replay ends after its last row.
    std::size_t rows = 0;
    if (!a->replay.empty()) {
      const std::string csv = readFile(a->replay, ok);
      auto track = orv::detail::parseTrack(csv, a->replay);
      if (!ok || !track.ok()) {
        std::cerr << "orvloc: " << (ok ? track.error().message : "cannot read " + a->replay)
                  << '\n';
        return kExitFailure;
      }
      rows = track->size();
    }
    declareLocationUse();
    if (auto failure =
            chooseLocationSource(a->replay.empty() ? a->source : "replay:" + a->replay, a->speed)) {
      std::cerr << "orvloc: " << *failure << '\n';
      return kExitFailure;
    }
    if (a->table) eventTable().printHeader(std::cout);
    std::size_t received = 0;
    std::optional<std::string> failed;
    auto sink = std::make_shared<FixSink>(
        [&](const orv::Location& fix) {
          ++received;
          auto events = monitor->update(fix);
          if (!events.ok()) {
            failed = events.error().message;
            return;
          }
          for (const auto& e : *events) {
            if (a->table) {
              eventTable().printRow(std::cout,
                                    {std::string(orv::geofenceEventName(e.kind)), e.fenceId,
                                     utc(seconds(e.fix)), formatNumber(e.fix.coordinate.latitude),
                                     formatNumber(e.fix.coordinate.longitude),
                                     formatNumber(e.fix.horizontalAccuracy)});
            } else {
              std::cout << jsonLine(e) << '\n';
            }
          }
          std::cout.flush();
        },
        [&](const std::string& d) { failed = d; });
    auto provider = orv::detail::currentLocationProvider();
    const auto interrupts = catchInterrupts();
    auto stream = provider->open(sink);
    const auto done = [&] {
      return interruptedBySignal() || failed || (rows > 0 && received >= rows);
    };
    constexpr std::chrono::hours kForever{24 * 365 * 100};
    while (!done()) orv::RunLoop::main().runUntil(done, kForever);
    stream.reset();
    if (failed) {
      std::cerr << "orvloc: " << *failed << '\n';
      return kExitFailure;
    }
    return kExitOk;
  };
}

const bool registered = registerCommand(
    {"geofence",
     "watch GeoJSON fences against a location source or a recorded track and print each enter, "
     "exit and dwell (on the device, no service key)",
     setupGeofence});

}  // namespace
}  // namespace orvloc
