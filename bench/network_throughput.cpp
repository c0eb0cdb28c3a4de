// Requests per second through NetworkClient beside a raw libcurl multi loop doing the same
// transfers against the same local server, in the same run.
//
// One iteration is kBatch requests with at most `in flight` outstanding; a finished request is
// replaced at once, so the window stays full. Pairs of benchmarks run back to back so that both
// sides of a comparison see the same machine load.
#include <benchmark/benchmark.h>
#include <curl/curl.h>
#include <httplib.h>

#include "model/json_decode.h"
#include "network/network_client.h"
#include "network/request_builder.h"
#include "orv/service_configuration.h"
#include "test_server.h"

namespace {

using orv::detail::NetworkClient;
using orv::detail::RequestResult;
using GeocodeList = std::vector<std::shared_ptr<orv::GeocodeRes>>;

constexpr int kBatch = 256;
constexpr size_t kHits = 4;

// A geocode answer of kHits hits, about 1.5 KB.
std::string geocodeArray() {
  std::string out = "[";
  for (size_t i = 0; i < kHits; ++i) {
    if (i > 0) out += ",";
    out += R"({"id":"B0FFG6TGX)" + std::to_string(i) +
           R"(","geoPoint":"116.397128,39.916527","type":"poi","name":"天安门广场",)"
           R"("code":"110101","categories":[{"id":"110200","name":"风景名胜"}],)"
           R"("address":{"name":"北京市东城区东长安街","context":[)"
           R"({"type":"province","name":"北京市","code":"110000"},)"
           R"({"type":"district","name":"东城区","code":"110101"}]},)"
           R"("relevance":0.98,"distance":12.5})";
  }
  return out + "]";
}

orv::test::TestServer& server(bool tls) {
  // A thread per kept-alive connection: room for both sides' windows at once.
  static auto* plain = new orv::test::TestServer(false, 192);
  static auto* secure = new orv::test::TestServer(true, 192);
  static const bool once = [] {
    for (auto* s : {plain, secure}) {
      // With a charset the server does not compress: its compressor would dominate the figures.
      s->handle("/g", [body = geocodeArray()](const httplib::Request&, httplib::Response& res) {
        res.set_content(body, "application/json; charset=utf-8");
      });
    }
    return true;
  }();
  (void)once;
  return tls ? *secure : *plain;
}

void setRate(benchmark::State& state) {
  state.counters["req/s"] = benchmark::Counter(static_cast<double>(state.iterations() * kBatch),
                                               benchmark::Counter::kIsRate);
}

// Build, send, decode the list, complete on the main queue.
void throughClient(benchmark::State& state) {
  const bool tls = state.range(0) != 0;
  const int inFlight = static_cast<int>(state.range(1));
  auto& s = server(tls);
  orv::setServiceConfiguration({"", s.caFile(), ""});
  orv::detail::RequestBuilder b;
  b.urlString = s.baseUrl() + "/g";
  b.queryParameters = {{"access_key", "k"}, {"address", "北京市东城区"}, {"city", "北京"}};
  int started = 0, finished = 0, failed = 0;
  std::function<void()> startOne = [&] {
    ++started;
    NetworkClient::shared().request<GeocodeList>(b.makeURLRequest().value(),
                                                 [&](RequestResult<GeocodeList> r) {
                                                   ++finished;
                                                   if (!r.isSuccess() || r.value().size() != kHits)
                                                     ++failed;
                                                   if (started < kBatch) startOne();
                                                 });
  };
  auto batch = [&] {
    started = finished = 0;
    for (int i = 0; i < inFlight; ++i) startOne();
    orv::RunLoop::main().runUntil([&] { return finished == kBatch; }, std::chrono::seconds(60));
    return finished == kBatch && failed == 0;
  };
  if (!batch()) state.SkipWithError("request failed");  // warm-up: connections and sessions
  for (auto _ : state) {
    if (!batch()) {
      state.SkipWithError("request failed");
      break;
    }
  }
  setRate(state);
  orv::setServiceConfiguration({});
}

size_t collect(char* data, size_t size, size_t n, void* user) {
  static_cast<std::string*>(user)->append(data, size * n);
  return size * n;
}

// The same transfers on a bare multi handle: reused easy handles, no decoding, no hand-off.
void rawCurl(benchmark::State& state) {
  const bool tls = state.range(0) != 0;
  const int inFlight = static_cast<int>(state.range(1));
  auto& s = server(tls);
  const std::string url = s.baseUrl() +
                          "/g?access_key=k&address=%E5%8C%97%E4%BA%AC%E5%B8%82%E4%B8%9C%E5%9F%8E"
                          "%E5%8C%BA&city=%E5%8C%97%E4%BA%AC";
  const std::string ca = s.caFile();
  CURLM* multi = curl_multi_init();
  std::vector<CURL*> easies(static_cast<size_t>(inFlight));
  std::vector<std::string> bodies(easies.size());
  curl_slist* headers = curl_slist_append(nullptr, "Content-Type: application/json");
  for (size_t i = 0; i < easies.size(); ++i) {
    CURL* e = easies[i] = curl_easy_init();
    curl_easy_setopt(e, CURLOPT_URL, url.c_str());
    curl_easy_setopt(e, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(e, CURLOPT_ACCEPT_ENCODING, "");
    curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, collect);
    curl_easy_setopt(e, CURLOPT_WRITEDATA, &bodies[i]);
    curl_easy_setopt(e, CURLOPT_PRIVATE, &bodies[i]);
    if (!ca.empty()) curl_easy_setopt(e, CURLOPT_CAINFO, ca.c_str());
  }
  auto batch = [&] {
    int started = 0, finished = 0;
    bool ok = true;
    for (CURL* e : easies) {
      curl_multi_add_handle(multi, e);
      ++started;
    }
    while (finished < kBatch) {
      int running = 0;
      curl_multi_perform(multi, &running);
      int queued = 0;
      while (CURLMsg* m = curl_multi_info_read(multi, &queued)) {
        if (m->msg != CURLMSG_DONE) continue;
        CURL* e = m->easy_handle;
        std::string* body = nullptr;
        curl_easy_getinfo(e, CURLINFO_PRIVATE, &body);
        ok = ok && m->data.result == CURLE_OK && !body->empty();
        body->clear();
        ++finished;
        curl_multi_remove_handle(multi, e);
        if (started < kBatch) {
          curl_multi_add_handle(multi, e);
          ++started;
        }
      }
      if (finished < kBatch) curl_multi_poll(multi, nullptr, 0, 1000, nullptr);
    }
    return ok;
  };
  if (!batch()) state.SkipWithError("transfer failed");
  for (auto _ : state) {
    if (!batch()) {
      state.SkipWithError("transfer failed");
      break;
    }
  }
  for (CURL* e : easies) curl_easy_cleanup(e);
  curl_multi_cleanup(multi);
  curl_slist_free_all(headers);
  setRate(state);
}

// {tls, requests in flight}; 1 in flight is the sequential case.
[[maybe_unused]] const bool registered = [] {
  for (int tls : {0, 1}) {
    for (int inFlight : {1, 64}) {
      benchmark::RegisterBenchmark("throughClient", throughClient)
          ->Args({tls, inFlight})
          ->UseRealTime();
      benchmark::RegisterBenchmark("rawCurl", rawCurl)->Args({tls, inFlight})->UseRealTime();
    }
  }
  return true;
}();

}  // namespace

BENCHMARK_MAIN();
