// Transport failures: refused, reset, silent servers, size limits and TLS trust.
#include <gtest/gtest.h>
#include <httplib.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <set>
#include <thread>

#include "network/request_builder.h"
#include "network/transport.h"
#include "orv/service_configuration.h"
#include "test_server.h"

namespace orv::detail {
namespace {

URLRequest request(const std::string& url, double timeout = 10,
                   HTTPMethod method = HTTPMethod::get) {
  RequestBuilder b;
  b.urlString = url;
  b.timeoutInterval = timeout;
  URLRequest r = b.makeURLRequest().value();
  r.method = method;
  if (method == HTTPMethod::post) r.body = R"({"n":1})";
  return r;
}

// One transfer on the shared session, waited for.
TransferOutcome send(const std::string& url, double timeout = 10,
                     HTTPMethod method = HTTPMethod::get) {
  std::promise<TransferOutcome> done;
  Transport::shared().start(request(url, timeout, method),
                            [&](TransferOutcome o) { done.set_value(std::move(o)); });
  auto outcome = done.get_future();
  EXPECT_EQ(outcome.wait_for(std::chrono::seconds(20)), std::future_status::ready);
  return outcome.get();
}

void answerText(test::TestServer& server, const std::string& path) {
  server.handle(path, [](const httplib::Request&, httplib::Response& res) {
    res.set_content(R"({"text":"t"})", "application/json");
  });
}

void expectTransportError(const TransferOutcome& r, int code) {
  ASSERT_TRUE(r.error.has_value());
  EXPECT_EQ(r.error->domain, "CURLE");
  EXPECT_EQ(r.error->code, code) << r.error->message;
}

// A failure after the headers keeps the response; one before them has none.
TEST(Transport, MisbehavingServers) {
  using B = test::RawServer::Behaviour;
  auto r = send("http://127.0.0.1:" + std::to_string(test::unusedLoopbackPort()) + "/x");
  expectTransportError(r, 7);  // CURLE_COULDNT_CONNECT
  EXPECT_EQ(r.response, nullptr);
  const std::tuple<B, double, int, bool> cases[] = {
      {B::resetMidBody, 10, 56, true},   // CURLE_RECV_ERROR
      {B::stallMidBody, 0.3, 28, true},  // CURLE_OPERATION_TIMEDOUT
      {B::neverAnswer, 0.3, 28, false},
      {B::notHttp, 10, 1, false},  // CURLE_UNSUPPORTED_PROTOCOL: HTTP/0.9 is refused
  };
  for (const auto& [behaviour, timeout, code, hasResponse] : cases) {
    test::RawServer server(behaviour);
    auto r = send(server.baseUrl() + "/x", timeout);
    expectTransportError(r, code);
    ASSERT_EQ(r.response != nullptr, hasResponse) << code;
    EXPECT_EQ(hasResponse ? r.response->statusCode : 200, 200);
  }
}

// The key must never leave the configured host: a redirect is the answer, never followed.
TEST(Transport, RedirectsAreNotFollowed) {
  test::TestServer elsewhere, origin;
  answerText(elsewhere, "/x");
  for (const int status : {302, 307}) {
    origin.handle("/x", [&](const httplib::Request&, httplib::Response& res) {
      res.status = status;
      res.set_header("Location", elsewhere.baseUrl() + "/x?access_key=k");
    });
    for (const HTTPMethod method : {HTTPMethod::get, HTTPMethod::post}) {
      auto r = send(origin.baseUrl() + "/x?access_key=k", 10, method);
      ASSERT_NE(r.response, nullptr) << status;
      EXPECT_EQ(r.response->statusCode, status);
    }
  }
  EXPECT_EQ(elsewhere.receivedCount(), 0u);
  // The POSTs arrive with their body and the one Content-Type the request names.
  const auto got = origin.received();
  ASSERT_EQ(got.size(), 4u);
  EXPECT_EQ(got[1].body, R"({"n":1})");
  EXPECT_EQ(got[1].headerCount("Content-Type"), 1u);
}

// Beyond the transfers that run at once, a transfer waits its turn with its time-out running from
// its start: it ends when that passes, not when a running transfer ends. At the session's end the
// running ones complete once each.
TEST(Transport, WaitingTransferKeepsItsTimeOut) {
  test::RawServer silent(test::RawServer::Behaviour::neverAnswer);
  std::atomic<size_t> runningEnded = 0;
  {
    Transport session;
    for (size_t i = 0; i < Transport::kMaxTransfersInFlight; ++i) {
      session.start(request(silent.baseUrl() + "/x", 60), [&](TransferOutcome o) {
        EXPECT_EQ(o.error ? o.error->code : 0, 42);  // ended with the session, not timed out
        ++runningEnded;
      });
    }
    std::promise<TransferOutcome> late;
    session.start(request(silent.baseUrl() + "/x", 0.2),
                  [&](TransferOutcome o) { late.set_value(std::move(o)); });
    const TransferOutcome o = late.get_future().get();
    expectTransportError(o, 28);  // CURLE_OPERATION_TIMEDOUT
    EXPECT_EQ(runningEnded, 0u);
    EXPECT_GE(o.times.queued, std::chrono::milliseconds(200));
    EXPECT_EQ(o.times.connected.count(), 0);
  }
  EXPECT_EQ(runningEnded, Transport::kMaxTransfersInFlight);
}

// A request the server has read goes once, even when the server then closes without an answer,
// on a new connection (0 answered first) or a kept-alive one (1 answered first).
TEST(Transport, RequestReadByTheServerIsNeverSentAgain) {
  for (const int answered : {0, 1}) {
    for (const HTTPMethod method : {HTTPMethod::get, HTTPMethod::post}) {
      test::ClosingServer server(answered);
      if (answered == 1) {
        ASSERT_FALSE(send(server.baseUrl() + "/x", 10, method).error);
      }
      expectTransportError(send(server.baseUrl() + "/x", 10, method), 52);
      EXPECT_EQ(server.requestsRead(), answered + 1u) << rawValue(method);
    }
  }
}

// Only a request that never reached the server goes again: the server closes idle connections with
// a TLS close_notify, and a burst after that must not fail on the connections it closed.
TEST(Transport, ConnectionsClosedByTheServerAreNotReused) {
  constexpr int kKeepAliveSeconds = 1;
  test::TestServer server(true, 72, kKeepAliveSeconds);
  answerText(server, "/x");
  setServiceConfiguration({"", server.caFile(), ""});
  const URLRequest r = request(server.baseUrl() + "/x");
  for (const int round : {0, 1}) {
    // The second burst comes after the server has closed the idle connections.
    if (round == 1) {
      ASSERT_TRUE(server.waitForConnectionsClosed(std::chrono::seconds(20)));
    }
    constexpr int kRequests = 16;
    std::atomic<int> succeeded = 0, left = kRequests;
    std::promise<void> all;
    for (int i = 0; i < kRequests; ++i) {
      Transport::shared().start(r, [&](TransferOutcome o) {
        succeeded += o.error ? 0 : 1;
        if (--left == 0) all.set_value();
      });
    }
    ASSERT_EQ(all.get_future().wait_for(std::chrono::seconds(20)), std::future_status::ready);
    EXPECT_EQ(succeeded, kRequests) << round;
  }
  setServiceConfiguration({});
}

// Refused from Content-Length, met while receiving chunks, or met while inflating a compressed
// body (the server compresses JSON); a body exactly at the limit goes on to decoding.
TEST(Transport, OversizeBodyIsATransportError) {
  auto& session = Transport::shared();
  EXPECT_EQ(session.responseBodyLimit(), Transport::kDefaultResponseBodyLimit);
  session.setResponseBodyLimit(1024);
  test::TestServer server;
  struct Case {
    size_t size;
    const char* type;
    bool chunked;
  };
  for (const Case c :
       {Case{1024, "application/octet-stream", false},
        Case{1025, "application/octet-stream", false}, Case{1025, "application/json", false},
        Case{4000, "application/json", true}}) {
    server.handle("/big", [c](const httplib::Request&, httplib::Response& res) {
      if (!c.chunked) return res.set_content(std::string(c.size, 'x'), c.type);
      res.set_chunked_content_provider(c.type, [c](size_t, httplib::DataSink& sink) {
        const std::string part(c.size / 4, 'y');
        for (int i = 0; i < 4; ++i) sink.write(part.data(), part.size());
        sink.done();
        return true;
      });
    });
    auto r = send(server.baseUrl() + "/big");
    EXPECT_EQ(r.response->statusCode, 200);
    if (c.size > 1024) {
      expectTransportError(r, 63);  // CURLE_FILESIZE_EXCEEDED
      EXPECT_EQ(r.error->message, "Response body exceeds the limit of 1024 bytes");
    } else {
      EXPECT_EQ(r.body->size(), 1024u);
    }
  }
  session.setResponseBodyLimit(Transport::kDefaultResponseBodyLimit);
}

// Ids of this process's threads called "orv-network".
std::set<std::string> networkThreads() {
  std::set<std::string> out;
  for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
    std::ifstream comm(task.path() / "comm");
    std::string line;
    if (std::getline(comm, line) && line == "orv-network") {
      out.insert(task.path().filename().string());
    }
  }
  return out;
}

long voluntarySwitches(const std::string& tid) {
  std::ifstream status("/proc/self/task/" + tid + "/status");
  const std::string key = "voluntary_ctxt_switches:";
  for (std::string line; std::getline(status, line);) {
    if (line.starts_with(key)) return std::stol(line.substr(key.size()));
  }
  return -1;
}

// Cancelling ends a transfer in flight at once, with one completion; cancelling one that has
// ended, or an id never given out, does nothing.
TEST(Transport, CancelAbortsATransferInFlight) {
  test::RawServer silent(test::RawServer::Behaviour::neverAnswer);
  Transport session;
  std::promise<TransferOutcome> done;
  std::atomic<int> completions{0};
  const uint64_t id = session.start(request(silent.baseUrl() + "/x", 60), [&](TransferOutcome o) {
    if (++completions == 1) done.set_value(std::move(o));
  });
  ASSERT_NE(id, 0u);
  session.cancel(id);
  auto outcome = done.get_future();
  ASSERT_EQ(outcome.wait_for(std::chrono::seconds(20)), std::future_status::ready);
  const TransferOutcome o = outcome.get();
  expectTransportError(o, 42);
  EXPECT_EQ(o.error->message, "cancelled");

  test::TestServer server;
  answerText(server, "/t");
  std::promise<TransferOutcome> answered;
  const uint64_t finished = session.start(request(server.baseUrl() + "/t"), [&](TransferOutcome r) {
    answered.set_value(std::move(r));
  });
  ASSERT_TRUE(answered.get_future().get().body.has_value());
  session.cancel(finished);
  session.cancel(987654321);
  EXPECT_EQ(completions.load(), 1);
}

// A session of its own: between transfers its thread sleeps (woken by work, not by a clock); at
// its end the thread is joined and the transfer in flight completes once.
TEST(Transport, SessionIdlesAndEndsCleanly) {
  const auto before = networkThreads();
  std::vector<TransferOutcome> outcomes;
  std::promise<void> reached, release;
  const std::shared_future<void> released = release.get_future().share();
  test::TestServer server;
  server.handle("/x", [&](const httplib::Request&, httplib::Response&) {
    reached.set_value();
    released.wait();
  });
  {
    Transport session;
    std::string tid;
    for (const auto& t : networkThreads()) {
      if (!before.count(t)) tid = t;
    }
    ASSERT_FALSE(tid.empty());
    test::ClosingServer idle(1);  // keeps the connection open after answering
    std::promise<TransferOutcome> done;
    session.start(request(idle.baseUrl() + "/x"), [&](TransferOutcome o) { done.set_value(o); });
    ASSERT_TRUE(done.get_future().get().body.has_value());
    // Time to go back to sleep after the completion.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const long switches = voluntarySwitches(tid);
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    EXPECT_EQ(voluntarySwitches(tid), switches);

    session.start(request(server.baseUrl() + "/x"),
                  [&](TransferOutcome o) { outcomes.push_back(std::move(o)); });
    reached.get_future().wait();
  }
  release.set_value();
  EXPECT_EQ(networkThreads(), before);
  ASSERT_EQ(outcomes.size(), 1u);
  ASSERT_TRUE(outcomes[0].error.has_value());
  EXPECT_EQ(outcomes[0].error->code, 42);  // CURLE_ABORTED_BY_CALLBACK
}

TEST(Transport, TlsPeerAndHostAreVerified) {
  test::TestServer good(true);
  answerText(good, "/x");
  auto wrongName = std::make_shared<test::TestCertificate>(
      std::vector<std::string>{"DNS:wrong.example"}, "wrong.example");
  test::TestServer misnamed(wrongName);
  test::TestCertificate other;

  setServiceConfiguration({"", good.caFile(), ""});
  EXPECT_FALSE(send(good.baseUrl() + "/x").error);
  EXPECT_FALSE(send("https://localhost:" + std::to_string(good.port()) + "/x").error);
  setServiceConfiguration({"", other.certFile(), ""});       // untrusted issuer
  expectTransportError(send(good.baseUrl() + "/x"), 60);     // CURLE_PEER_FAILED_VERIFICATION
  setServiceConfiguration({"", wrongName->certFile(), ""});  // trusted, but not for 127.0.0.1
  expectTransportError(send(misnamed.baseUrl() + "/x"), 60);
  setServiceConfiguration({});
}

TEST(Transport, ProxyComesOnlyFromTheConfiguration) {
  test::TestServer origin, proxy;
  answerText(origin, "/x");
  // A forward proxy receives the absolute URL; this one answers for the named host itself, so
  // the name is never resolved.
  answerText(proxy, "http://orv-proxy-test.invalid/x");

  ::setenv("http_proxy", proxy.baseUrl().c_str(), 1);
  EXPECT_FALSE(send(origin.baseUrl() + "/x").error);
  ::unsetenv("http_proxy");
  EXPECT_EQ(proxy.receivedCount(), 0u);

  setServiceConfiguration({"", "", proxy.baseUrl()});
  auto viaProxy = send("http://orv-proxy-test.invalid/x");
  setServiceConfiguration({});
  ASSERT_FALSE(viaProxy.error) << viaProxy.error->message;
  ASSERT_EQ(proxy.receivedCount(), 1u);
  EXPECT_EQ(proxy.received()[0].target, "http://orv-proxy-test.invalid/x");
}

}  // namespace
}  // namespace orv::detail
