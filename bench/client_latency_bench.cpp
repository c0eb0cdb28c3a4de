// Latency from a fix to the host's delegate over loopback HTTPS, beside the raw transfer of the
// same request, and the library's own work on one fix without any transfer.
//
// fixToDelegate alternates, in each iteration, one fusion-location request through the client
// (getTrackLocation up to onReceivedLocationWithOrvLocation on the main loop) with one transfer of
// the identical request on a bare libcurl handle, so both see the same machine load. Counters give
// the median and p99 of both, in microseconds, and the difference of the medians: the library's
// share (build, encode, hand-off to the transport thread, decode, dispatch to the main loop).
// runToDelegate does the same starting from a device fix pushed into a single positioning run.
#include <benchmark/benchmark.h>
#include <curl/curl.h>
#include <httplib.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "client/request_fill.h"
#include "model/json_decode.h"
#include "network/network_checker.h"
#include "network/network_client.h"
#include "network/request_builder.h"
#include "network/service.h"
#include "orv/bundle.h"
#include "orv/client.h"
#include "orv/location_service.h"
#include "test_server.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kAnswer =
    R"({"id":"r-0001","asset":"asset-0001","location":{)"
    R"("timestamp":1700000000123,"address":{"name":"北京市东城区东长安街",)"
    R"("context":[{"type":"province","name":"北京市","code":"110000"},)"
    R"({"type":"district","name":"东城区","code":"110101"}]},)"
    R"("place":{"type":"building","name":"天安门","distance":{"line":42.5}},)"
    R"("position":{"point":{"longitude":116.4039,"latitude":39.9151}}}})";

orv::test::TestServer& server() {
  static auto* s = [] {
    auto* created = new orv::test::TestServer(true, 8);
    // With a charset the server does not compress: its compressor would dominate the figures.
    created->handle(std::string(orv::detail::kTrackPointsPath),
                    [](const httplib::Request&, httplib::Response& res) {
                      res.set_content(kAnswer, "application/json; charset=utf-8");
                    });
    return created;
  }();
  return *s;
}

class CountingDelegate : public orv::LocationDelegate {
 public:
  void onReceivedLocationWithOrvLocation(std::shared_ptr<orv::LocationRes>) override { ++received; }
  void onLocationErrorWithMsg(const std::string&) override { ++errors; }
  int received = 0;
  int errors = 0;
};

orv::Location benchFix() {
  orv::Location fix;
  fix.coordinate = {39.9087, 116.3975};
  fix.altitude = 52.0;
  fix.horizontalAccuracy = 8.0;
  fix.verticalAccuracy = 4.0;
  fix.speed = 1.2;
  return fix;
}

// Microsecond samples, summarised.
struct Samples {
  std::vector<double> us;
  void add(Clock::duration d) {
    us.push_back(std::chrono::duration<double, std::micro>(d).count());
  }
  double quantile(double q) {
    if (us.empty()) return 0;
    std::sort(us.begin(), us.end());
    return us[std::min(us.size() - 1, static_cast<size_t>(q * static_cast<double>(us.size())))];
  }
};

size_t collect(char* data, size_t size, size_t n, void* user) {
  static_cast<std::string*>(user)->append(data, size * n);
  return size * n;
}

// The fusion-location request as the client builds it for `fix`.
orv::detail::RequestBuilder trackBuilder(const orv::Location& fix) {
  orv::detail::RequestBuilder b;
  b.urlString = orv::detail::serviceUrl(orv::detail::kTrackPointsPath);
  b.method = orv::detail::HTTPMethod::post;
  b.queryParameters = {
      {"access_key", "bench-key"}, {"response_sprf", "gcj02"}, {"needAddress", "true"}};
  b.bodyParameters = orv::detail::makeTrackRequest(fix, orv::detail::currentDevice());
  return b;
}

// The request the client sends for `fix`, on a reused easy handle (keep-alive, TLS session).
class RawTransfer {
 public:
  explicit RawTransfer(const orv::Location& fix) {
    request_ = trackBuilder(fix).makeURLRequest().value();
    easy_ = curl_easy_init();
    headers_ = curl_slist_append(nullptr, "Content-Type: application/json");
    curl_easy_setopt(easy_, CURLOPT_URL, request_.url.c_str());
    curl_easy_setopt(easy_, CURLOPT_POSTFIELDS, request_.body->c_str());
    curl_easy_setopt(easy_, CURLOPT_POSTFIELDSIZE, static_cast<long>(request_.body->size()));
    curl_easy_setopt(easy_, CURLOPT_HTTPHEADER, headers_);
    curl_easy_setopt(easy_, CURLOPT_WRITEFUNCTION, collect);
    curl_easy_setopt(easy_, CURLOPT_WRITEDATA, &body_);
    curl_easy_setopt(easy_, CURLOPT_CAINFO, server().caFile().c_str());
  }
  ~RawTransfer() {
    curl_easy_cleanup(easy_);
    curl_slist_free_all(headers_);
  }
  RawTransfer(const RawTransfer&) = delete;
  RawTransfer& operator=(const RawTransfer&) = delete;

  bool perform() {
    body_.clear();
    long status = 0;
    const bool ok = curl_easy_perform(easy_) == CURLE_OK;
    curl_easy_getinfo(easy_, CURLINFO_RESPONSE_CODE, &status);
    return ok && status == 200 && !body_.empty();
  }

 private:
  orv::detail::URLRequest request_;
  CURL* easy_ = nullptr;
  curl_slist* headers_ = nullptr;
  std::string body_;
};

// A client configured for the local service, with consent and a key; log lines discarded.
struct BenchClient {
  BenchClient() {
    orv::OrvClientLocation::setLogSink([](std::string_view) {});
    orv::OrvClientLocation::setServiceConfiguration({server().baseUrl(), server().caFile(), ""});
    client = std::make_unique<orv::OrvClientLocation>(delegate);
    client->setAgreePrivacy(true);
    client->initKey("bench-key");
  }
  ~BenchClient() {
    client.reset();
    orv::OrvClientLocation::setServiceConfiguration({});
    orv::OrvClientLocation::setLogSink({});
  }
  // Runs the main loop until the delegate has heard `n` outcomes in all.
  bool awaitOutcomes(int n) {
    return orv::RunLoop::main().runUntil([&] { return delegate->received + delegate->errors >= n; },
                                         std::chrono::seconds(10));
  }
  std::shared_ptr<CountingDelegate> delegate = std::make_shared<CountingDelegate>();
  std::unique_ptr<orv::OrvClientLocation> client;
};

void report(benchmark::State& state, Samples& client, Samples& raw) {
  const double clientMedian = client.quantile(0.5), rawMedian = raw.quantile(0.5);
  state.counters["client_med_us"] = clientMedian;
  state.counters["client_p99_us"] = client.quantile(0.99);
  state.counters["raw_med_us"] = rawMedian;
  state.counters["raw_p99_us"] = raw.quantile(0.99);
  state.counters["share_med_us"] = clientMedian - rawMedian;
}

// `start` begins one fix's journey; the iteration ends when its outcome reaches the delegate.
template <class Start>
void measure(benchmark::State& state, BenchClient& bench, Start start) {
  const orv::Location fix = benchFix();
  RawTransfer raw(fix);
  Samples clientUs, rawUs;
  int expected = 0;
  for (int i = 0; i < 20; ++i) {  // warm-up: connections, TLS sessions, caches
    start(fix);
    if (!bench.awaitOutcomes(++expected) || !raw.perform()) {
      state.SkipWithError("warm-up request failed");
      return;
    }
  }
  for (auto _ : state) {
    const auto t0 = Clock::now();
    start(fix);
    const bool done = bench.awaitOutcomes(++expected);
    const auto t1 = Clock::now();
    const bool rawOk = raw.perform();
    const auto t2 = Clock::now();
    if (!done || !rawOk || bench.delegate->errors != 0) {
      state.SkipWithError("request failed");
      break;
    }
    clientUs.add(t1 - t0);
    rawUs.add(t2 - t1);
    state.SetIterationTime(std::chrono::duration<double>(t1 - t0).count());
  }
  report(state, clientUs, rawUs);
}

void fixToDelegate(benchmark::State& state) {
  BenchClient bench;
  measure(state, bench, [&](const orv::Location& fix) { bench.client->getTrackLocation(fix); });
}

// From a device fix delivered to a single run (controller, reachability, request) to the delegate.
void runToDelegate(benchmark::State& state) {
  auto provider = orv::LocationService::useSimulated();
  provider->setAuthorizationStatus(orv::AuthorizationStatus::authorizedWhenInUse);
  orv::Bundle::mainBundle().setObject("NSLocationWhenInUseUsageDescription", std::string("bench"));
  orv::detail::NetworkChecker::setFlagsQueryForTesting(
      [] { return std::optional<uint32_t>(orv::detail::NetworkChecker::kReachable); });
  {
    BenchClient bench;
    measure(state, bench, [&](const orv::Location& fix) {
      bench.client->startLocation();
      provider->pushLocation(fix);
    });
  }
  orv::detail::NetworkChecker::setFlagsQueryForTesting({});
  orv::Bundle::mainBundle().clear();
  orv::LocationService::useNone();
}

// The library's own work for one fix with the transfer taken out: fill and encode the body, build
// the request, decode the answer, and hand it to the main loop.
void libraryWorkPerFix(benchmark::State& state) {
  const orv::Location fix = benchFix();
  int delivered = 0;
  for (auto _ : state) {
    auto request = trackBuilder(fix).makeURLRequest();
    benchmark::DoNotOptimize(request);
    auto decoded = orv::detail::JsonDecode<std::shared_ptr<orv::LocationRes>>::decode(kAnswer);
    orv::RunLoop::main().post(
        [&delivered, answer = std::move(decoded)] { delivered += answer.ok() ? 1 : 0; });
    orv::RunLoop::main().processPending();
  }
  if (delivered != static_cast<int>(state.iterations())) state.SkipWithError("decode failed");
}

BENCHMARK(fixToDelegate)->UseManualTime()->Iterations(2000)->Unit(benchmark::kMicrosecond);
BENCHMARK(runToDelegate)->UseManualTime()->Iterations(2000)->Unit(benchmark::kMicrosecond);
BENCHMARK(libraryWorkPerFix)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
