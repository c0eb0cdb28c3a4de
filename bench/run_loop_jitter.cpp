// Tick jitter of a 100 ms repeating timer over 50 ticks on the main run loop, driven the two ways
// a host can drive it. Deviation is measured from the ideal schedule start + k * period, so
// accumulated drift shows as a deviation that grows over the run.
#include <benchmark/benchmark.h>
#include <poll.h>

#include <algorithm>
#include <chrono>
#include <vector>

#include "orv/run_loop.h"

namespace {

using Clock = std::chrono::steady_clock;
using Us = std::chrono::duration<double, std::micro>;

constexpr auto kPeriod = std::chrono::milliseconds(100);
constexpr int kTicks = 50;

enum class Drive { RunUntil, HostPoll };

double median(std::vector<double>::const_iterator first, std::vector<double>::const_iterator last) {
  std::vector<double> v(first, last);
  std::sort(v.begin(), v.end());
  const size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

void runUntilDone(orv::RunLoop& loop, const int& ticks) {
  loop.runUntil([&] { return ticks == kTicks; }, kPeriod * (kTicks + 10));
}

// What a host with its own poll() loop does (see examples/host_event_loop.cpp).
void hostPollUntilDone(orv::RunLoop& loop, const int& ticks) {
  while (ticks < kTicks) {
    int timeoutMs = -1;
    if (auto due = loop.timeUntilNextTimer()) {
      // Round up: waking a little early would only spin until the timer is due.
      timeoutMs = static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(*due).count());
    }
    pollfd pfd{loop.pollFd(), POLLIN, 0};
    ::poll(&pfd, 1, timeoutMs);
    loop.processPending();
  }
}

void BM_RepeatingTimerJitter(benchmark::State& state) {
  const auto drive = static_cast<Drive>(state.range(0));
  orv::RunLoop& loop = orv::RunLoop::main();
  std::vector<double> deviation;
  for (auto _ : state) {
    deviation.assign(kTicks, 0);
    int ticks = 0;
    const Clock::time_point start = Clock::now();
    auto timer = orv::Timer::scheduled(kPeriod, true, [&](orv::Timer& t) {
      const auto ideal = start + kPeriod * (ticks + 1);
      deviation[static_cast<size_t>(ticks)] = Us(Clock::now() - ideal).count();
      if (++ticks == kTicks) t.invalidate();
    });
    if (drive == Drive::RunUntil) {
      runUntilDone(loop, ticks);
    } else {
      hostPollUntilDone(loop, ticks);
    }
    timer->invalidate();
  }
  state.counters["median_us"] = median(deviation.begin(), deviation.end());
  state.counters["max_us"] = *std::max_element(deviation.begin(), deviation.end());
  // Drift: how much later the last ten ticks run than the first ten (medians, so that one
  // preempted tick does not pass for drift).
  state.counters["drift_us"] = median(deviation.end() - 10, deviation.end()) -
                               median(deviation.begin(), deviation.begin() + 10);
}

BENCHMARK(BM_RepeatingTimerJitter)
    ->ArgName("host_poll")
    ->Arg(static_cast<int>(Drive::RunUntil))
    ->Arg(static_cast<int>(Drive::HostPoll))
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
