// orvloc locate: a positioning run from the system source, gpsd, an NMEA receiver, GeoClue or a
// recorded track.
#include <fcntl.h>
#include <sys/epoll.h>
#include <unistd.h>
#include <CLI/CLI.hpp>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <iostream>
#include <memory>
#include <optional>
#include <string>

#include "command.h"
#include "location_source.h"
#include "orv/location_service.h"
#include "orv/run_loop.h"
#include "output.h"
#include "platform/descriptor_watch.h"
#include "session.h"
#include "text_number.h"

namespace orvloc {
namespace {

// The positioning failures the client reports begin so; request failures do not.
constexpr std::string_view kPositioningFailure = "定位失败：";

// Installs the provider that `source` names; a message when it cannot.
std::optional<std::string> chooseSource(const std::string& source, double speed) {
  if (source == "system") {
    orv::LocationService::useSystemDefault();
    return std::nullopt;
  }
  if (source.rfind("replay:", 0) == 0) {
    auto chosen = orv::LocationService::useReplay({source.substr(7), speed, false});
    if (!chosen) return chosen.error().message;
    return std::nullopt;
  }
  if (source == "gpsd" || source.rfind("gpsd:", 0) == 0) {
    orv::GpsdOptions gpsd;
    const std::string rest = source.size() > 5 ? source.substr(5) : "";
    if (source != "gpsd" && rest.empty()) throw UsageError{"--source: empty host in " + source};
    // HOST, HOST:PORT, [V6HOST] or [V6HOST]:PORT
    std::string port;
    if (!rest.empty() && rest[0] == '[') {
      const auto close = rest.find(']');
      if (close == std::string::npos) throw UsageError{"--source: unclosed [ in " + source};
      gpsd.host = rest.substr(1, close - 1);
      if (close + 1 < rest.size()) {
        if (rest[close + 1] != ':') throw UsageError{"--source: expected :PORT in " + source};
        port = rest.substr(close + 2);
      }
    } else if (!rest.empty()) {
      const auto colon = rest.find(':');
      gpsd.host = rest.substr(0, colon);
      if (colon != std::string::npos) port = rest.substr(colon + 1);
    }
    if (gpsd.host.empty()) throw UsageError{"--source: empty host in " + source};
    if (!port.empty()) {
      const auto n = parseNumber(port);
      if (!n || *n < 1 || *n > 65535 || *n != static_cast<double>(static_cast<int>(*n))) {
        throw UsageError{"--source: bad port in " + source};
      }
      gpsd.port = static_cast<uint16_t>(*n);
    }
    orv::LocationService::useGpsd(gpsd);
    return std::nullopt;
  }
  if (source == "geoclue") {
    auto chosen = orv::LocationService::useGeoClue({"orvloc"});
    if (!chosen) return chosen.error().message;
    return std::nullopt;
  }
  // nmea:DEVICE[@BAUD], nmea-tcp:HOST:PORT, nmea-udp:PORT
  std::optional<orv::NmeaOptions> nmea;
  if (source.rfind("nmea:", 0) == 0) {
    nmea = orv::NmeaOptions{source.substr(5)};
    if (const auto at = nmea->source.rfind('@'); at != std::string::npos) {
      const auto baud = parseNumber(nmea->source.substr(at + 1));
      if (!baud || *baud != static_cast<double>(static_cast<int>(*baud))) {
        throw UsageError{"--source: bad baud rate in " + source};
      }
      nmea->baudRate = static_cast<int>(*baud);
      nmea->source.resize(at);
    }
  } else if (source.rfind("nmea-tcp:", 0) == 0) {
    nmea = orv::NmeaOptions{"tcp:" + source.substr(9)};
  } else if (source.rfind("nmea-udp:", 0) == 0) {
    nmea = orv::NmeaOptions{"udp:" + source.substr(9)};
  }
  if (nmea) {
    if (auto chosen = orv::LocationService::useNmea(*nmea); !chosen) {
      throw UsageError{"--source: " + chosen.error().message};
    }
    return std::nullopt;
  }
  throw UsageError{
      "--source: expected system, gpsd[:HOST[:PORT]], nmea:DEVICE[@BAUD], "
      "nmea-tcp:HOST:PORT, nmea-udp:PORT, geoclue or replay:FILE, got " +
      source};
}

// SIGINT and SIGTERM end a run cleanly. The handler may interrupt any thread anywhere, the main
// one inside the loop's post() under the loop's lock included, so it only sets a flag and writes
// to a pipe the main loop watches; the run's predicate sees the flag once the loop wakes.
std::atomic<bool> interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the signal handler sets it");
// The pipe lives as long as the process: a handler running on another thread while the scope
// ends never writes to a closed (or reused) descriptor.
int interruptPipe[2] = {-1, -1};

extern "C" void onInterrupt(int) {
  const int saved = errno;
  interrupted = true;
  const char byte = 1;
  // A full pipe already wakes the loop; nothing else to do on failure.
  [[maybe_unused]] const auto written = ::write(interruptPipe[1], &byte, 1);
  errno = saved;
}

class InterruptScope {
 public:
  InterruptScope() {
    if (interruptPipe[0] < 0 && ::pipe2(interruptPipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
    // Readiness is all the loop needs: the predicate reads the flag after this handler ran.
    watch_ = orv::detail::DescriptorWatch::create(interruptPipe[0], EPOLLIN, [](uint32_t) {
      char drained[64];
      while (::read(interruptPipe[0], drained, sizeof drained) > 0) {
      }
    });
    if (!watch_) return;  // then a signal keeps its default action: it ends the process
    struct sigaction action {};
    action.sa_handler = onInterrupt;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, &previousInt_);
    ::sigaction(SIGTERM, &action, &previousTerm_);
    installed_ = true;
  }
  ~InterruptScope() {
    if (!installed_) return;
    ::sigaction(SIGINT, &previousInt_, nullptr);
    ::sigaction(SIGTERM, &previousTerm_, nullptr);
  }
  InterruptScope(const InterruptScope&) = delete;
  InterruptScope& operator=(const InterruptScope&) = delete;

 private:
  std::unique_ptr<orv::detail::DescriptorWatch> watch_;
  struct sigaction previousInt_ {};
  struct sigaction previousTerm_ {};
  bool installed_ = false;
};

std::function<int()> setupLocate(CLI::App& cmd) {
  struct Args {
    ServiceOptions service;
    bool once = false, fast = false;
    double interval = 1.0;
    int count = 5;
    std::string source = "system";
    std::string replay;
    double speed = 1.0;
  };
  auto a = std::make_shared<Args>();
  auto* once = cmd.add_flag("--once", a->once, "one fix, then stop");
  auto* fast = cmd.add_flag("--fast", a->fast, "one fix, the best of a short sampling window");
  once->excludes(fast);
  auto* interval = cmd.add_option("--interval", a->interval, "seconds between samples")
                       ->capture_default_str()
                       ->check(CLI::PositiveNumber);
  auto* count =
      cmd.add_option("--count", a->count, "samples of a continuous run; 0: until SIGINT or SIGTERM")
          ->capture_default_str()
          ->check(CLI::NonNegativeNumber);
  for (auto* single : {once, fast}) single->excludes(interval)->excludes(count);
  auto* source = cmd.add_option("--source", a->source,
                                "system, gpsd[:HOST[:PORT]] (127.0.0.1:2947), "
                                "nmea:DEVICE[@BAUD] (9600), nmea-tcp:HOST:PORT, nmea-udp:PORT, "
                                "geoclue or replay:FILE")
                     ->capture_default_str();
  cmd.add_option("--replay", a->replay, "same as --source replay:FILE")->excludes(source);
  cmd.add_option("--speed", a->speed, "replay pace: 1 recorded, larger faster, 0 at once")
      ->capture_default_str();
  addServiceOptions(cmd, a->service);
  return [a] {
    declareLocationUse();
    if (const auto failure =
            chooseSource(a->replay.empty() ? a->source : "replay:" + a->replay, a->speed)) {
      std::cerr << "orvloc: " << *failure << '\n';
      return kExitFailure;
    }
    // A continuous run waits for its first fix, then samples `count - 1` more.
    ServiceOptions service = a->service;
    const bool single = a->once || a->fast;
    const bool endless = !single && a->count == 0;
    const std::size_t wanted = single ? 1 : static_cast<std::size_t>(a->count);
    if (!single && !endless) service.timeout += a->interval * static_cast<double>(wanted - 1);

    Session session(service);
    OutcomePrinter printer(std::cout, std::cerr, service.table);
    bool anyFailed = false, positioningFailed = false;
    session.onOutcome([&](const Outcome& o) {
      if (printer.print(o)) return;
      anyFailed = true;
      // A request failure ends one sample; a positioning failure ends the run.
      if (single || o.message.rfind(kPositioningFailure, 0) == 0) positioningFailed = true;
    });
    InterruptScope interrupts;
    auto& client = session.client();
    if (a->fast) {
      client.startFastLocation();
    } else {
      client.setIsLocateOnce(single);
      client.setInterval(a->interval);
      client.startLocation();
    }
    const auto finished = [&] {
      return interrupted || positioningFailed || (!endless && session.received() >= wanted);
    };
    if (endless) {
      // Until a signal or a positioning failure; a wait this long never ends by itself.
      constexpr double kForever = 1e9;
      while (!finished()) session.runUntil(finished, kForever);
    } else {
      session.runUntil(finished, service.timeout);
    }
    client.stopLocation();
    if (!finished()) {
      std::cerr << "orvloc: " << session.received() << " of " << wanted << " results within "
                << formatNumber(service.timeout) << " s\n";
      return kExitFailure;
    }
    return anyFailed ? kExitFailure : kExitOk;
  };
}

const bool registered = registerCommand({"locate",
                                         "run positioning (system source, gpsd, an NMEA receiver, "
                                         "GeoClue or a recorded track) and print each result",
                                         setupLocate});

}  // namespace

std::optional<std::string> chooseLocationSource(const std::string& source, double speed) {
  return chooseSource(source, speed);
}
std::shared_ptr<void> catchInterrupts() { return std::make_shared<InterruptScope>(); }
bool interruptedBySignal() { return interrupted; }

}  // namespace orvloc
