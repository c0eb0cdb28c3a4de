// gpsd provider: time from a TPV line written to the socket to its fix reaching the sink (taken
// on the reader thread, so the waiting side's wake-up is not counted), median and p99, and the
// process CPU per fix (the fake gpsd's writes included).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <ctime>
#include <mutex>
#include <vector>

#include "fake_gpsd.h"
#include "location/gpsd_provider.h"

namespace {

using Clock = std::chrono::steady_clock;

struct TimingSink final : orv::LocationSink {
  void deliverLocations(std::vector<orv::Location>) override {
    const auto now = Clock::now();
    std::lock_guard lock(mutex);
    arrived = now;
    ++count;
    changed.notify_one();
  }
  void deliverError(std::string) override {}
  std::mutex mutex;
  std::condition_variable changed;
  Clock::time_point arrived;
  size_t count = 0;
};

double cpuSeconds() {
  timespec t{};
  ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

void BM_TpvLineToSink(benchmark::State& state) {
  orv::test::FakeGpsd gpsd;
  orv::detail::GpsdProvider provider({"127.0.0.1", gpsd.port()});
  auto sink = std::make_shared<TimingSink>();
  provider.start(sink);
  if (!gpsd.accept()) {
    state.SkipWithError("the provider did not connect");
    return;
  }
  gpsd.greet();
  const std::string line =
      R"({"class":"TPV","device":"/dev/ttyACM0","mode":3,"time":"2026-12-07T00:37:20.000Z",)"
      R"("ept":0.005,"lat":39.900000000,"lon":116.400000000,"altHAE":50.0000,"altMSL":50.0000,)"
      R"("alt":50.0000,"track":90.0000,"magtrack":83.0543,"magvar":-6.9,"speed":0.257,)"
      R"("climb":0.000,"geoidSep":0.000,"eph":17.100})"
      "\r\n";
  std::vector<double> micros;
  const double cpuBefore = cpuSeconds();
  for (auto _ : state) {
    const size_t before = sink->count;
    const auto written = Clock::now();
    gpsd.send(line);
    std::unique_lock lock(sink->mutex);
    sink->changed.wait(lock, [&] { return sink->count > before; });
    micros.push_back(std::chrono::duration<double, std::micro>(sink->arrived - written).count());
  }
  const double cpu = cpuSeconds() - cpuBefore;
  provider.stop(*sink);
  std::sort(micros.begin(), micros.end());
  state.counters["median_us"] = micros[micros.size() / 2];
  state.counters["p99_us"] = micros[std::min(micros.size() - 1, micros.size() * 99 / 100)];
  state.counters["cpu_us_per_fix"] = cpu * 1e6 / static_cast<double>(micros.size());
}
BENCHMARK(BM_TpvLineToSink)->Iterations(5000)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
