// Requests per second through NetworkClient beside a raw libcurl multi loop doing the same
// transfers against the same local server, in the same run.
//
// A batch is kBatch requests with at most `in flight` outstanding; a finished request is replaced
// at once, so the window stays full.
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

// The geocode request both sides send.
orv::detail::RequestBuilder geocodeBuilder(orv::test::TestServer& s) {
  orv::detail::RequestBuilder b;
  b.urlString = s.baseUrl() + "/g";
  b.queryParameters = {{"access_key", "k"}, {"address", "北京市东城区"}, {"city", "北京"}};
  return b;
}

// Build, send, decode the list, complete on the main queue; a completion starts the next request.
class ClientLoop {
 public:
  ClientLoop(orv::test::TestServer& s, int inFlight)
      : inFlight_(inFlight), builder_(geocodeBuilder(s)) {
    orv::setServiceConfiguration({"", s.caFile(), ""});
  }
  ~ClientLoop() { orv::setServiceConfiguration({}); }

  bool batch() {
    started_ = finished_ = failed_ = 0;
    for (int i = 0; i < inFlight_; ++i) startOne();
    orv::RunLoop::main().runUntil([&] { return finished_ == kBatch; }, std::chrono::seconds(60));
    return finished_ == kBatch && failed_ == 0;
  }

 private:
  void startOne() {
    ++started_;
    NetworkClient::shared().request<GeocodeList>(builder_.makeURLRequest().value(),
                                                 [this](RequestResult<GeocodeList> r) {
                                                   ++finished_;
                                                   if (!r.isSuccess() || r.value().size() != kHits)
                                                     ++failed_;
                                                   if (started_ < kBatch) startOne();
                                                 });
  }

  int inFlight_;
  orv::detail::RequestBuilder builder_;
  int started_ = 0, finished_ = 0, failed_ = 0;
};

size_t collect(char* data, size_t size, size_t n, void* user) {
  static_cast<std::string*>(user)->append(data, size * n);
  return size * n;
}

// The same transfers on a bare multi handle: reused easy handles, no decoding, no hand-off.
class RawLoop {
 public:
  RawLoop(orv::test::TestServer& s, int inFlight)
      : url_(geocodeBuilder(s).makeURLRequest().value().url),
        ca_(s.caFile()),
        multi_(curl_multi_init()),
        headers_(curl_slist_append(nullptr, "Content-Type: application/json")),
        easies_(static_cast<size_t>(inFlight)),
        bodies_(easies_.size()) {
    for (size_t i = 0; i < easies_.size(); ++i) {
      CURL* e = easies_[i] = curl_easy_init();
      curl_easy_setopt(e, CURLOPT_URL, url_.c_str());
      curl_easy_setopt(e, CURLOPT_HTTPHEADER, headers_);
      curl_easy_setopt(e, CURLOPT_ACCEPT_ENCODING, "");
      curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, collect);
      curl_easy_setopt(e, CURLOPT_WRITEDATA, &bodies_[i]);
      curl_easy_setopt(e, CURLOPT_PRIVATE, &bodies_[i]);
      if (!ca_.empty()) curl_easy_setopt(e, CURLOPT_CAINFO, ca_.c_str());
    }
  }
  ~RawLoop() {
    for (CURL* e : easies_) curl_easy_cleanup(e);
    curl_multi_cleanup(multi_);
    curl_slist_free_all(headers_);
  }

  bool batch() {
    int started = 0, finished = 0;
    bool ok = true;
    for (CURL* e : easies_) {
      curl_multi_add_handle(multi_, e);
      ++started;
    }
    while (finished < kBatch) {
      int running = 0;
      curl_multi_perform(multi_, &running);
      int queued = 0;
      while (CURLMsg* m = curl_multi_info_read(multi_, &queued)) {
        if (m->msg != CURLMSG_DONE) continue;
        CURL* e = m->easy_handle;
        std::string* body = nullptr;
        curl_easy_getinfo(e, CURLINFO_PRIVATE, &body);
        ok = ok && m->data.result == CURLE_OK && !body->empty();
        body->clear();
        ++finished;
        curl_multi_remove_handle(multi_, e);
        if (started < kBatch) {
          curl_multi_add_handle(multi_, e);
          ++started;
        }
      }
      if (finished < kBatch) curl_multi_poll(multi_, nullptr, 0, 1000, nullptr);
    }
    return ok;
  }

 private:
  std::string url_, ca_;
  CURLM* multi_;
  curl_slist* headers_;
  std::vector<CURL*> easies_;
  std::vector<std::string> bodies_;
};

template <class Loop>
bool timedBatch(Loop& loop, double& seconds) {
  const auto start = std::chrono::steady_clock::now();
  const bool ok = loop.batch();
  seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return ok;
}

// Args {tls, requests in flight}; 1 in flight is the sequential case. Each iteration runs one
// batch on each side, so both see the same machine load even on a busy host.
void clientVsRaw(benchmark::State& state) {
  auto& s = server(state.range(0) != 0);
  const int inFlight = static_cast<int>(state.range(1));
  ClientLoop client(s, inFlight);
  RawLoop raw(s, inFlight);
  // Warm-up: connections, TLS sessions, handle pools.
  if (!client.batch() || !raw.batch()) state.SkipWithError("warm-up failed");
  double clientSeconds = 0, rawSeconds = 0;
  for (auto _ : state) {
    if (!timedBatch(client, clientSeconds) || !timedBatch(raw, rawSeconds)) {
      state.SkipWithError("request failed");
      break;
    }
  }
  const double requests = static_cast<double>(state.iterations() * kBatch);
  state.counters["client_req/s"] = requests / clientSeconds;
  state.counters["raw_req/s"] = requests / rawSeconds;
  state.counters["client/raw"] = rawSeconds / clientSeconds;
}

BENCHMARK(clientVsRaw)->ArgsProduct({{0, 1}, {1, 64}})->UseRealTime();

// The layer's own cost per sequential request, without I/O: build, hand-off to the network
// thread, a transfer that libcurl refuses at once (unsupported scheme), hand-off to the main queue.
void handOffRoundTrip(benchmark::State& state) {
  orv::detail::RequestBuilder b;
  b.urlString = "ftp://127.0.0.1/x";
  for (auto _ : state) {
    bool done = false;
    NetworkClient::shared().request<orv::detail::EmptyResponse>(
        b.makeURLRequest().value(),
        [&](RequestResult<orv::detail::EmptyResponse>) { done = true; });
    orv::RunLoop::main().runUntil([&] { return done; }, std::chrono::seconds(10));
  }
}

BENCHMARK(handOffRoundTrip)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
