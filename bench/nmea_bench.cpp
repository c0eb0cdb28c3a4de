// NMEA: sentence bytes to fix, per epoch of a u-blox style multi-constellation cycle (RMC, VTG,
// GGA, three GSA, five GSV, GLL, GST: 13 sentences, about 900 bytes, one fix); the latency
// from an epoch written to a pseudo-terminal to its fix reaching the provider's sink; and, while
// a FIFO source is kept full, how late a 1 ms timer on the same loop fires and how much the
// process grows.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "location/nmea_parser.h"
#include "location/nmea_provider.h"
#include "orv/run_loop.h"

namespace {

std::string sentence(const std::string& body) {
  unsigned x = 0;
  for (char c : body) x ^= static_cast<unsigned char>(c);
  char sum[8];
  std::snprintf(sum, sizeof sum, "*%02X\r\n", x);
  return "$" + body + sum;
}

// One hour of a receiver driving east at 1 Hz, one string per epoch.
std::vector<std::string> drive() {
  std::vector<std::string> epochs;
  for (int i = 0; i < 3600; ++i) {
    char t[16];
    char lon[16];
    std::snprintf(t, sizeof t, "%02d%02d%02d.00", 8 + i / 3600, i / 60 % 60, i % 60);
    std::snprintf(lon, sizeof lon, "%010.5f", 11623.45678 + 0.00875 * i);
    const std::string pos = std::string("3954.12345,N,") + lon + ",E";
    std::string e;
    e += sentence(std::string("GNRMC,") + t + ",A," + pos + ",24.298,87.65,071226,,,A,V");
    e += sentence("GNVTG,87.65,T,,M,24.298,N,45.000,K,A");
    e += sentence(std::string("GNGGA,") + t + "," + pos + ",1,18,0.72,52.3,M,-8.1,M,,");
    e += sentence("GNGSA,A,3,02,05,12,13,15,18,20,25,29,,,,1.31,0.72,1.09,1");
    e += sentence("GNGSA,A,3,65,66,75,76,,,,,,,,,1.31,0.72,1.09,2");
    e += sentence("GNGSA,A,3,03,05,13,,,,,,,,,,1.31,0.72,1.09,3");
    e += sentence("GPGSV,3,1,10,02,46,300,38,05,55,052,42,12,20,118,33,13,35,080,40,1");
    e += sentence("GPGSV,3,2,10,15,28,044,36,18,61,271,44,20,14,319,30,25,37,210,39,1");
    e += sentence("GPGSV,3,3,10,29,72,171,45,31,05,263,,1");
    e += sentence("GLGSV,1,1,04,65,40,050,35,66,62,310,41,75,22,120,30,76,55,205,38,1");
    e += sentence("GAGSV,1,1,03,03,33,270,37,05,48,101,40,13,12,160,28,7");
    e += sentence("GNGLL," + pos + "," + t + ",A,A");
    e += sentence(std::string("GNGST,") + t + ",12,1.8,1.2,65.3,1.5,1.1,2.6");
    epochs.push_back(std::move(e));
  }
  return epochs;
}

void nmeaBytesToFix(benchmark::State& state) {
  const auto epochs = drive();
  orv::detail::NmeaParser parser;
  std::vector<orv::Location> fixes;
  fixes.reserve(4);
  size_t i = 0;
  size_t bytes = 0;
  size_t made = 0;
  for (auto _ : state) {
    if (i == epochs.size()) {
      i = 0;
      parser.reset();  // time would go backwards: a new stream
    }
    fixes.clear();
    parser.feed(epochs[i], fixes);
    bytes += epochs[i].size();
    made += fixes.size();
    ++i;
    benchmark::DoNotOptimize(fixes.data());
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
  state.SetBytesProcessed(static_cast<int64_t>(bytes));
  state.counters["fixes_per_epoch"] =
      static_cast<double>(made) / static_cast<double>(state.iterations());
}

struct TimingSink : orv::LocationSink {
  void deliverLocations(std::vector<orv::Location> locations) override {
    fixes += locations.size();
    arrived = std::chrono::steady_clock::now();
  }
  void deliverError(std::string) override { ++errors; }
  size_t fixes = 0;
  size_t errors = 0;
  std::chrono::steady_clock::time_point arrived;
};

void nmeaPtyLatency(benchmark::State& state) {
  int master = -1;
  int slave = -1;
  char name[64];
  termios raw{};
  ::cfmakeraw(&raw);
  if (::openpty(&master, &slave, name, &raw, nullptr) != 0) {
    state.SkipWithError("no pseudo-terminal");
    return;
  }
  auto endpoint = orv::detail::NmeaEndpoint::parse(name, 115200);
  orv::detail::NmeaProvider provider(endpoint.value());
  auto sink = std::make_shared<TimingSink>();
  provider.start(sink);
  orv::RunLoop& loop = orv::RunLoop::current();
  const auto epochs = drive();
  const auto send = [&](const std::string& e) {
    return ::write(master, e.data(), e.size()) == static_cast<ssize_t>(e.size());
  };
  // The first epoch of a stream leaves with the second; after that each leaves at its last line.
  if (!send(epochs[0]) || !send(epochs[1]) ||
      !loop.runUntil([&] { return sink->fixes >= 1; }, std::chrono::seconds(5))) {
    state.SkipWithError("no fix from the pseudo-terminal");
  }
  std::vector<double> micros;
  size_t i = 2;
  for (auto _ : state) {
    const size_t before = sink->fixes;
    const auto written = std::chrono::steady_clock::now();
    if (!send(epochs[i++ % epochs.size()]) ||
        !loop.runUntil([&] { return sink->fixes > before; }, std::chrono::seconds(5))) {
      state.SkipWithError("no fix");
      break;
    }
    const std::chrono::duration<double> took = sink->arrived - written;
    state.SetIterationTime(took.count());
    micros.push_back(took.count() * 1e6);
  }
  if (!micros.empty()) {
    std::sort(micros.begin(), micros.end());
    state.counters["median_us"] = micros[micros.size() / 2];
    state.counters["p99_us"] = micros[micros.size() * 99 / 100];
  }
  provider.stop(*sink);
  ::close(master);
  ::close(slave);
}

long residentKiB() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
  }
  return 0;
}

void nmeaFloodTimerLateness(benchmark::State& state) {
  std::string dir = (std::filesystem::temp_directory_path() / "orv-bench-XXXXXX").string();
  if (::mkdtemp(dir.data()) == nullptr || ::mkfifo((dir + "/nmea").c_str(), 0600) != 0) {
    state.SkipWithError("no FIFO");
    return;
  }
  const std::string path = dir + "/nmea";
  orv::detail::NmeaProvider provider(orv::detail::NmeaEndpoint::parse(path, 9600).value());
  auto sink = std::make_shared<TimingSink>();
  provider.start(sink);
  const int writer = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
  const int stop = ::eventfd(0, EFD_CLOEXEC);
  const auto epochs = drive();
  std::thread flood([&] {
    for (size_t i = 0;;) {
      pollfd fds[2] = {{stop, POLLIN, 0}, {writer, POLLOUT, 0}};
      if (::poll(fds, 2, -1) < 0 || fds[0].revents != 0) return;
      const std::string& e = epochs[i % epochs.size()];
      if (::write(writer, e.data(), e.size()) > 0) ++i;
    }
  });
  orv::RunLoop& loop = orv::RunLoop::current();
  loop.runFor(std::chrono::milliseconds(200));  // warm up: buffers and allocator at steady state
  const long rssBefore = residentKiB();
  const size_t fixesBefore = sink->fixes;
  const auto began = std::chrono::steady_clock::now();
  std::vector<double> late;
  for (auto _ : state) {
    std::chrono::steady_clock::time_point firedAt;
    const auto set = std::chrono::steady_clock::now();
    auto timer = orv::Timer::scheduled(std::chrono::milliseconds(1), false, [&](orv::Timer&) {
      firedAt = std::chrono::steady_clock::now();
    });
    if (!loop.runUntil([&] { return firedAt != decltype(firedAt){}; }, std::chrono::seconds(5))) {
      state.SkipWithError("the timer never fired");
      break;
    }
    state.SetIterationTime(std::chrono::duration<double>(firedAt - set).count());
    late.push_back(std::chrono::duration<double, std::micro>(firedAt - set).count() - 1000);
  }
  const std::chrono::duration<double> ran = std::chrono::steady_clock::now() - began;
  if (!late.empty()) {
    std::sort(late.begin(), late.end());
    state.counters["late_median_us"] = late[late.size() / 2];
    state.counters["late_p99_us"] = late[late.size() * 99 / 100];
  }
  state.counters["fixes_per_s"] = static_cast<double>(sink->fixes - fixesBefore) / ran.count();
  state.counters["rss_growth_kib"] = static_cast<double>(residentKiB() - rssBefore);
  const uint64_t one = 1;
  if (::write(stop, &one, sizeof one) != sizeof one) std::abort();
  flood.join();
  provider.stop(*sink);
  ::close(writer);
  ::close(stop);
  std::filesystem::remove_all(dir);
}

}  // namespace

BENCHMARK(nmeaBytesToFix);
BENCHMARK(nmeaPtyLatency)->UseManualTime()->Iterations(2000)->Unit(benchmark::kMicrosecond);
BENCHMARK(nmeaFloodTimerLateness)->UseManualTime()->Iterations(2000)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
