// Requests per second through NetworkClient beside a raw libcurl multi loop, same local server.
#include <benchmark/benchmark.h>
#include <curl/curl.h>
#include <httplib.h>

#include "network/network_client.h"
#include "network/request_builder.h"
#include "orv/service_configuration.h"
#include "test_server.h"

namespace {

using orv::detail::EmptyResponse;
using orv::detail::NetworkClient;
using orv::detail::RequestResult;

std::string geocodeArray() {
  std::string one =
      R"({"name":"天安门广场","address":"北京市东城区东长安街","geoPoint":"116.397,39.908",)"
      R"("type":"poi","code":"110101","relevance":0.98,"distance":12.5})";
  std::string out = "[";
  while (out.size() < 1400) out += (out.size() > 1 ? "," : "") + one;
  return out + "]";
}

orv::test::TestServer& server(bool tls) {
  static auto* plain = new orv::test::TestServer(false);
  static auto* secure = new orv::test::TestServer(true);
  static const bool once = [] {
    for (auto* s : {plain, secure}) {
      s->handle("/g", [body = geocodeArray()](const httplib::Request&, httplib::Response& res) {
        res.set_content(body, "application/json");
      });
    }
    return true;
  }();
  (void)once;
  return tls ? *secure : *plain;
}

void throughClient(benchmark::State& state) {
  const bool tls = state.range(0) != 0;
  const int inFlight = static_cast<int>(state.range(1));
  auto& s = server(tls);
  orv::setServiceConfiguration({"", s.caFile(), ""});
  orv::detail::RequestBuilder b;
  b.urlString = s.baseUrl() + "/g";
  b.queryParameters = {{"access_key", "k"}, {"address", "北京"}};
  int64_t done = 0;
  for (auto _ : state) {
    int finished = 0;
    for (int i = 0; i < inFlight; ++i) {
      NetworkClient::shared().request<EmptyResponse>(
          b.makeURLRequest().value(),
          [&](RequestResult<EmptyResponse> r) { finished += r.isSuccess() ? 1 : 1000000; });
    }
    orv::RunLoop::main().runUntil([&] { return finished >= inFlight; }, std::chrono::seconds(30));
    if (finished != inFlight) state.SkipWithError("request failed");
    done += inFlight;
  }
  state.counters["req/s"] =
      benchmark::Counter(static_cast<double>(done), benchmark::Counter::kIsRate);
}

size_t sink(char*, size_t size, size_t n, void* user) {
  static_cast<std::string*>(user)->append(size * n, 0);
  return size * n;
}

void rawCurl(benchmark::State& state) {
  const bool tls = state.range(0) != 0;
  const int inFlight = static_cast<int>(state.range(1));
  auto& s = server(tls);
  const std::string url = s.baseUrl() + "/g?access_key=k&address=%E5%8C%97%E4%BA%AC";
  const std::string ca = s.caFile();
  CURLM* multi = curl_multi_init();
  std::vector<CURL*> easies(inFlight);
  std::vector<std::string> bodies(inFlight);
  for (int i = 0; i < inFlight; ++i) {
    easies[i] = curl_easy_init();
    curl_easy_setopt(easies[i], CURLOPT_URL, url.c_str());
    curl_easy_setopt(easies[i], CURLOPT_WRITEFUNCTION, sink);
    curl_easy_setopt(easies[i], CURLOPT_WRITEDATA, &bodies[i]);
    if (!ca.empty()) curl_easy_setopt(easies[i], CURLOPT_CAINFO, ca.c_str());
  }
  int64_t done = 0;
  for (auto _ : state) {
    for (auto* e : easies) curl_multi_add_handle(multi, e);
    int running = 1;
    while (running > 0) {
      curl_multi_perform(multi, &running);
      if (running > 0) curl_multi_poll(multi, nullptr, 0, 1000, nullptr);
    }
    int q = 0;
    while (CURLMsg* m = curl_multi_info_read(multi, &q)) {
      if (m->data.result != CURLE_OK) state.SkipWithError("transfer failed");
    }
    for (auto* e : easies) curl_multi_remove_handle(multi, e);
    done += inFlight;
  }
  for (auto* e : easies) curl_easy_cleanup(e);
  curl_multi_cleanup(multi);
  state.counters["req/s"] =
      benchmark::Counter(static_cast<double>(done), benchmark::Counter::kIsRate);
}

// Args: {tls, requests in flight}; 1 in flight is the sequential case.
BENCHMARK(throughClient)->ArgsProduct({{0, 1}, {1, 64}})->UseRealTime();
BENCHMARK(rawCurl)->ArgsProduct({{0, 1}, {1, 64}})->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
