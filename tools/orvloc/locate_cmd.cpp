// orvloc locate: a positioning run fed by a recorded track (the replay location provider).
#include <CLI/CLI.hpp>
#include <iostream>
#include <memory>

#include "command.h"
#include "orv/location_service.h"
#include "output.h"
#include "session.h"
#include "text_number.h"

namespace orvloc {
namespace {

std::function<int()> setupLocate(CLI::App& cmd) {
  struct Args {
    ServiceOptions service;
    bool once = false, fast = false;
    double interval = 1.0;
    int count = 5;
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
  auto* count = cmd.add_option("--count", a->count, "samples of a continuous run")
                    ->capture_default_str()
                    ->check(CLI::PositiveNumber);
  for (auto* single : {once, fast}) single->excludes(interval)->excludes(count);
  cmd.add_option("--replay", a->replay, "track CSV: time,lat,lng,alt,hacc,vacc,speed")->required();
  cmd.add_option("--speed", a->speed, "replay pace: 1 recorded, larger faster, 0 at once")
      ->capture_default_str();
  addServiceOptions(cmd, a->service);
  return [a] {
    declareLocationUse();
    auto chosen = orv::LocationService::useReplay({a->replay, a->speed, false});
    if (!chosen) {
      std::cerr << "orvloc: " << chosen.error().message << '\n';
      return kExitFailure;
    }
    // A continuous run waits for its first fix, then samples `count - 1` more.
    ServiceOptions service = a->service;
    const bool single = a->once || a->fast;
    const std::size_t wanted = single ? 1 : static_cast<std::size_t>(a->count);
    if (!single) service.timeout += a->interval * static_cast<double>(wanted - 1);

    Session session(service);
    OutcomePrinter printer(std::cout, std::cerr, service.table);
    bool failed = false;
    session.onOutcome([&](const Outcome& o) {
      if (!printer.print(o)) failed = true;
    });
    auto& client = session.client();
    if (a->fast) {
      client.startFastLocation();
    } else {
      client.setIsLocateOnce(single);
      client.setInterval(a->interval);
      client.startLocation();
    }
    // A failure ends the command: a refused or failed run sends nothing more.
    const bool done =
        session.runUntil([&] { return failed || session.received() >= wanted; }, service.timeout);
    client.stopLocation();
    if (!done) {
      std::cerr << "orvloc: " << session.received() << " of " << wanted << " results within "
                << formatNumber(service.timeout) << " s\n";
      return kExitFailure;
    }
    return failed ? kExitFailure : kExitOk;
  };
}

const bool registered = registerCommand(
    {"locate", "run positioning over a recorded track (--replay) and print each result",
     setupLocate});

}  // namespace
}  // namespace orvloc
