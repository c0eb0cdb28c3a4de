// orvloc demo: the whole library against the local emulator, in about ten seconds. A walk is
// replayed as a continuous run, then come a reverse geocode, a geocode, both searches and a run
// with the network cut off, which the library answers on the device.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "command.h"
#include "emulator/emulator.h"
#include "network/network_checker.h"
#include "orv/coord_transform.h"
#include "orv/location_service.h"
#include "orv/run_loop.h"
#include "output.h"
#include "session.h"
#include "text_number.h"

namespace orvloc {

extern const char kDemoWalkCsv[];

namespace {

// Samples of a run whose track plays at once ("--speed max"): the first fix, then the last one,
// which every later tick samples again.
constexpr std::size_t kSamplesAtMaxSpeed = 3;

struct Track {
  std::string path;
  double duration = 0.0;  // seconds from first to last row; 0 when the times are not numbers
  orv::Location last;
};

// Only what the demo needs to plan the run; the replay provider does the full checking.
Track readTrack(const std::string& path) {
  std::ifstream in(path);
  if (!in) throw UsageError{"cannot read the track " + path};
  Track track{path, 0.0, {}};
  std::string line;
  std::getline(in, line);  // header
  std::optional<double> first, last;
  while (std::getline(in, line)) {
    std::vector<std::string> cells;
    std::stringstream row(line);
    for (std::string cell; std::getline(row, cell, ',');) cells.push_back(cell);
    if (cells.size() < 5) continue;
    const auto t = parseNumber(cells[0]);
    if (t && !first) first = t;
    last = t;
    track.last.coordinate = {parseNumber(cells[1]).value_or(0.0),
                             parseNumber(cells[2]).value_or(0.0)};
    track.last.altitude = parseNumber(cells[3]).value_or(0.0);
    track.last.horizontalAccuracy = parseNumber(cells[4]).value_or(-1.0);
  }
  if (first && last) track.duration = std::max(0.0, *last - *first);
  return track;
}

// The bundled walk, written to a private folder for the replay provider.
class BundledTrack {
 public:
  BundledTrack() {
    std::string pattern = (std::filesystem::temp_directory_path() / "orvloc-demo-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("cannot make a temp folder");
    folder_ = pattern;
    path_ = folder_ + "/demo-walk.csv";
    std::ofstream(path_) << kDemoWalkCsv;
  }
  ~BundledTrack() {
    std::error_code ec;
    std::filesystem::remove_all(folder_, ec);
  }
  const std::string& path() const { return path_; }

 private:
  std::string folder_, path_;
};

struct DemoOptions {
  double interval = 1.0;
  std::string speed = "40";
  bool json = false;
  bool log = false;
  std::string track;
};

std::string clockText(double seconds) {
  const long whole = std::lround(seconds);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%ld:%02ld", whole / 60, whole % 60);
  return buf;
}

std::string jsonOf(const orv::Result<std::string>& r) { return r ? r.value() : "null"; }

class Demo {
 public:
  explicit Demo(DemoOptions o) : o_(std::move(o)) {}
  int run();

 private:
  void heading(const std::string& text) {
    if (!o_.json) std::cout << '\n' << text << std::endl;
  }
  // One JSON line per outcome: {"step":..., "location":...} or {"step":..., "hits":[...]}.
  void jsonLine(const std::string& step, const Outcome& o);
  bool failed(const Outcome& o);
  // Waits for the next outcome of `session`; false (and a message) after the time-out.
  bool awaitOne(Session& session, const std::string& what);
  void printLocation(const std::string& step, const Outcome& o);
  void printHits(const std::string& step, const Outcome& o, HitMeasure measure);
  bool continuousRun(Session& session, const Track& track, double speed);
  bool requests(Session& session);
  bool offlineRun(const Track& track, const ServiceOptions& service);

  DemoOptions o_;
  bool ok_ = true;
  std::shared_ptr<orv::LocationRes> lastPosition_;
};

void Demo::jsonLine(const std::string& step, const Outcome& o) {
  std::string line = "{\"step\":\"" + step + "\",";
  if (o.kind == Outcome::Kind::error) {
    line += "\"error\":" + jsonString(o.message) + "}";
  } else if (o.location) {
    line += "\"location\":" + jsonOf(o.location->encode()) + "}";
  } else {
    line += "\"hits\":[";
    for (std::size_t i = 0; i < o.hits.size(); ++i) {
      if (i > 0) line += ',';
      line += jsonOf(o.hits[i]->encode());
    }
    line += "]}";
  }
  std::cout << line << '\n' << std::flush;
}

bool Demo::failed(const Outcome& o) {
  if (o.kind != Outcome::Kind::error) return false;
  std::cerr << "orvloc: " << o.message << '\n';
  ok_ = false;
  return true;
}

bool Demo::awaitOne(Session& session, const std::string& what) {
  if (session.waitFor(session.received() + 1, 35.0)) return true;
  std::cerr << "orvloc: no answer to the " << what << '\n';
  ok_ = false;
  return false;
}

void Demo::printLocation(const std::string& step, const Outcome& o) {
  if (o_.json) jsonLine(step, o);
  if (failed(o) || o_.json || !o.location) return;
  std::cout << "  ";
  locationTable().printHeader(std::cout);
  std::cout << "  ";
  locationTable().printRow(std::cout, locationCells(*o.location));
}

void Demo::printHits(const std::string& step, const Outcome& o, HitMeasure measure) {
  if (o_.json) jsonLine(step, o);
  if (failed(o) || o_.json) return;
  if (o.hits.empty()) {
    std::cout << "  (no results)\n";
    return;
  }
  const Table table = hitTable(measure);
  std::cout << "  ";
  table.printHeader(std::cout);
  for (const auto& hit : o.hits) {
    std::cout << "  ";
    table.printRow(std::cout, hitCells(*hit, measure));
  }
}

bool Demo::continuousRun(Session& session, const Track& track, double speed) {
  const bool atOnce = speed <= 0.0;
  const double playSeconds = atOnce ? 0.0 : track.duration / speed;
  const std::size_t samples =
      atOnce || track.duration <= 0.0
          ? kSamplesAtMaxSpeed
          : static_cast<std::size_t>(std::floor(playSeconds / o_.interval)) + 1;
  heading("Continuous run: " + std::to_string(samples) + " samples, one every " +
          formatNumber(o_.interval) + " s");
  // The location table, after the sample number and the walk's clock.
  std::vector<Column> columns{{"#", 3, true}, {"walk", 5, true}};
  for (auto& column : locationColumns()) columns.push_back(std::move(column));
  const Table table(std::move(columns));
  if (!o_.json) {
    std::cout << "  ";
    table.printHeader(std::cout);
  }
  const auto started = std::chrono::steady_clock::now();
  std::size_t rows = 0;
  session.onOutcome([&](const Outcome& o) {
    if (o_.json) jsonLine("run", o);
    if (failed(o) || !o.location) return;
    lastPosition_ = o.location;
    if (o_.json) return;
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::vector<std::string> cells{
        std::to_string(++rows),
        atOnce ? "-" : clockText(std::min(elapsed * speed, track.duration))};
    for (auto& cell : locationCells(*o.location)) cells.push_back(std::move(cell));
    std::cout << "  ";
    table.printRow(std::cout, cells);
    std::cout << std::flush;
  });
  auto& client = session.client();
  client.setIsLocateOnce(false);
  client.setInterval(o_.interval);
  const std::size_t before = session.received();
  client.startLocation();
  const bool done = session.waitFor(before + samples,
                                    playSeconds + o_.interval * static_cast<double>(samples) + 10);
  client.stopLocation();
  // An answer already on its way still belongs to the run.
  session.runFor(0.2);
  session.onOutcome(nullptr);  // the handler refers to this frame
  if (!done) {
    std::cerr << "orvloc: the run gave " << session.received() - before << " of " << samples
              << " results\n";
    ok_ = false;
  }
  return done && lastPosition_ != nullptr;
}

bool Demo::requests(Session& session) {
  auto& client = session.client();
  const auto& point = lastPosition_->location()->position()->point();
  const double lat = point->latitude(), lng = point->longitude();
  const std::string centre = formatNumber(lng) + "," + formatNumber(lat);
  Outcome answer;
  session.onOutcome([&](const Outcome& o) { answer = o; });

  heading("Reverse geocode of the last position (" + fixedText(lat, 6) + ", " + fixedText(lng, 6) +
          ")");
  client.getReverseCode(lat, lng);
  if (!awaitOne(session, "reverse geocode")) return false;
  printLocation("reverse", answer);

  heading("Geocode \"人民大道\" in 上海市");
  client.getGeocCode("人民大道", "上海市");
  if (!awaitOne(session, "geocode")) return false;
  printHits("geocode", answer, HitMeasure::relevance);

  heading("Place search \"博物馆\" in 上海市 (310100), first page of 5");
  client.poiKeySearch("博物馆", "310100", "上海市", 1, 5);
  if (!awaitOne(session, "place search")) return false;
  printHits("poi", answer, HitMeasure::relevance);

  heading("Nearby search within 500 m of the last position, nearest first, first page of 5");
  client.poiNearbySearch("", centre, 500, "", "distance", 1, 5);
  if (!awaitOne(session, "nearby search")) return false;
  printHits("nearby", answer, HitMeasure::distance);
  return true;
}

bool Demo::offlineRun(const Track& track, const ServiceOptions& service) {
  heading("Network unreachable: a single fix answered on the device (GCJ-02, no address)");
  using orv::detail::NetworkChecker;
  NetworkChecker::setFlagsQueryForTesting([] { return std::optional<uint32_t>(0); });
  auto device = orv::LocationService::useSimulated();
  device->setAuthorizationStatus(orv::AuthorizationStatus::authorizedWhenInUse);
  Session session(service);
  Outcome answer;
  session.onOutcome([&](const Outcome& o) { answer = o; });
  session.client().setIsLocateOnce(true);
  session.client().startLocation();
  // The fix is offered until the run takes it: a run only sees fixes pushed after it started.
  orv::Location fix = track.last;
  fix.timestamp = std::chrono::system_clock::now();
  auto pusher = orv::Timer::scheduled(std::chrono::milliseconds(50), true,
                                      [device, fix](orv::Timer&) { device->pushLocation(fix); });
  device->pushLocation(fix);
  const bool answered = awaitOne(session, "run without network");
  pusher->invalidate();
  session.client().stopLocation();
  NetworkChecker::setFlagsQueryForTesting(nullptr);
  if (!answered) return false;
  printLocation("offline", answer);
  return answer.kind == Outcome::Kind::location;
}

int Demo::run() {
  double speed = 0.0;
  if (o_.speed != "max") {
    const auto n = parseNumber(o_.speed);
    if (!n || *n <= 0.0) throw UsageError{"--speed takes a positive number or \"max\""};
    speed = *n;
  }
  const auto started = std::chrono::steady_clock::now();
  std::unique_ptr<BundledTrack> bundled;
  if (o_.track.empty()) bundled = std::make_unique<BundledTrack>();
  const Track track = readTrack(bundled ? bundled->path() : o_.track);

  orv::emulator::EmulatorOptions emulatorOptions;
  if (o_.log) {
    emulatorOptions.requestLog = [](const std::string& line) {
      std::fprintf(stderr, "emulator: %s\n", line.c_str());
    };
  }
  auto emulator = orv::emulator::Emulator::start(emulatorOptions);
  if (!emulator) {
    std::cerr << "orvloc: cannot start the emulator: " << emulator.error().message << '\n';
    return kExitFailure;
  }
  ServiceOptions service;
  service.key = orv::emulator::kDemoKey;
  service.agree = true;
  service.service = emulator.value()->baseUrl();
  service.ca = emulator.value()->caFile();
  service.log = o_.log;

  declareLocationUse();
  auto replay = orv::LocationService::useReplay({track.path, speed, false});
  if (!replay) {
    std::cerr << "orvloc: " << replay.error().message << '\n';
    return kExitFailure;
  }
  if (!o_.json) {
    std::cout << "orvLib demo: a walk across People's Square, Shanghai, with the local emulator\n"
              << "  service  " << service.service << " (demo key, self-signed CA)\n"
              << "  track    " << clockText(track.duration) << " of walking, replayed "
              << (speed > 0 ? "at " + formatNumber(speed) + "x" : "at once") << '\n';
  }
  {
    // The emulator is on loopback, which the library's default-route check does not look at:
    // without this the demo would answer on the device on a machine with no network.
    orv::detail::NetworkChecker::setFlagsQueryForTesting(
        [] { return std::optional<uint32_t>(orv::detail::NetworkChecker::kReachable); });
    Session session(service);
    if (continuousRun(session, track, speed)) requests(session);
  }
  if (ok_) ok_ = offlineRun(track, service) && ok_;
  orv::detail::NetworkChecker::setFlagsQueryForTesting(nullptr);
  orv::LocationService::useNone();
  emulator.value()->stop();
  if (!o_.json) {
    const double took =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::cout << '\n' << (ok_ ? "Done" : "Failed") << " in " << fixedText(took, 1) << " s.\n";
  }
  return ok_ ? kExitOk : kExitFailure;
}

std::function<int()> setupDemo(CLI::App& cmd) {
  auto o = std::make_shared<DemoOptions>();
  cmd.add_option("--interval", o->interval, "seconds between samples of the run")
      ->capture_default_str()
      ->check(CLI::PositiveNumber);
  cmd.add_option("--speed", o->speed, "replay pace: a factor, or max to play the track at once")
      ->capture_default_str();
  cmd.add_flag("--json", o->json, "print one JSON line per outcome");
  cmd.add_flag("--log", o->log, "show the library's log and the emulator's requests on stderr");
  cmd.add_option("--track", o->track, "replay this CSV instead of the bundled walk");
  return [o] { return Demo(*o).run(); };
}

const bool registered =
    registerCommand({"demo", "run the library against a local emulator of the service", setupDemo});

}  // namespace
}  // namespace orvloc
