// Transport failures: refused, reset, silent servers and TLS trust.
#include <gtest/gtest.h>
#include <httplib.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <set>
#include <thread>

#include "network/network_client.h"
#include "network/request_builder.h"
#include "network/transport.h"
#include "orv/service_configuration.h"
#include "test_decode.h"
#include "test_server.h"

namespace orv::detail {
namespace {

RequestResult<test::Echo> send(const URLRequest& request) {
  std::optional<RequestResult<test::Echo>> out;
  NetworkClient::shared().request<test::Echo>(
      request, [&](RequestResult<test::Echo> r) { out.emplace(std::move(r)); });
  EXPECT_TRUE(RunLoop::main().runUntil([&] { return out.has_value(); }, std::chrono::seconds(20)));
  return out ? std::move(*out) : RequestResult<test::Echo>::failure(Error{});
}

URLRequest request(const std::string& url, double timeout = 10,
                   HTTPMethod method = HTTPMethod::get) {
  RequestBuilder b;
  b.urlString = url;
  b.timeoutInterval = timeout;
  auto built = b.makeURLRequest();
  EXPECT_TRUE(built.ok());
  URLRequest r = built.ok() ? built.value() : URLRequest{};
  r.method = method;
  if (method == HTTPMethod::post) r.body = R"({"n":1})";
  return r;
}

RequestResult<test::Echo> fetch(const std::string& url, double timeout = 10) {
  return send(request(url, timeout));
}

void expectTransportError(const RequestResult<test::Echo>& r, int code) {
  ASSERT_FALSE(r.isSuccess());
  EXPECT_EQ(r.error().domain, "CURLE");
  EXPECT_EQ(r.error().code, code) << r.error().message;
  EXPECT_FALSE(r.error().message.empty());
}

TEST(Transport, ConnectionRefused) {
  auto r = fetch("http://127.0.0.1:" + std::to_string(test::unusedLoopbackPort()) + "/x");
  expectTransportError(r, 7);  // CURLE_COULDNT_CONNECT
  EXPECT_EQ(r.response(), nullptr);
}

// A failure after the headers keeps the response; one before them has none.
TEST(Transport, MisbehavingServers) {
  using B = test::RawServer::Behaviour;
  struct Case {
    B behaviour;
    double timeout;
    int code;
    bool hasResponse;
  };
  const Case cases[] = {
      {B::resetMidBody, 10, 56, true},   // CURLE_RECV_ERROR
      {B::stallMidBody, 0.3, 28, true},  // CURLE_OPERATION_TIMEDOUT
      {B::neverAnswer, 0.3, 28, false},
      {B::notHttp, 10, 1, false},  // CURLE_UNSUPPORTED_PROTOCOL: HTTP/0.9 is refused
  };
  for (const Case& c : cases) {
    test::RawServer server(c.behaviour);
    const auto start = std::chrono::steady_clock::now();
    auto r = fetch(server.baseUrl() + "/x", c.timeout);
    expectTransportError(r, c.code);
    ASSERT_EQ(r.response() != nullptr, c.hasResponse) << c.code;
    if (c.hasResponse) {
      EXPECT_EQ(r.response()->statusCode, 200);
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5)) << c.code;
  }
}

// The key must never leave the configured host: a redirect is the answer, never followed.
TEST(Transport, RedirectsAreNotFollowed) {
  test::TestServer elsewhere, origin;
  elsewhere.handle("/x", [](const httplib::Request&, httplib::Response& res) {
    res.set_content(R"({"text":"e"})", "application/json");
  });
  for (const int status : {301, 302, 303, 307, 308}) {
    origin.handle("/x", [&](const httplib::Request&, httplib::Response& res) {
      res.status = status;
      res.set_header("Location", elsewhere.baseUrl() + "/x?access_key=k");
    });
    for (const HTTPMethod method : {HTTPMethod::get, HTTPMethod::post}) {
      auto r = send(request(origin.baseUrl() + "/x?access_key=k", 10, method));
      ASSERT_FALSE(r.isSuccess()) << status;
      ASSERT_NE(r.response(), nullptr) << status;
      EXPECT_EQ(r.response()->statusCode, status);
    }
  }
  EXPECT_EQ(origin.receivedCount(), 10u);
  EXPECT_EQ(elsewhere.receivedCount(), 0u);
}

// A request the server has read goes once, even when the server then closes without an answer,
// on a new connection (0 answered first) or a kept-alive one (1 answered first). Only a request
// that never reached the server goes again (see ConnectionsClosedByTheServerAreNotReused).
TEST(Transport, RequestReadByTheServerIsNeverSentAgain) {
  for (const int answered : {0, 1}) {
    for (const HTTPMethod method : {HTTPMethod::get, HTTPMethod::post}) {
      test::ClosingServer server(answered);
      if (answered == 1) {
        ASSERT_TRUE(send(request(server.baseUrl() + "/x", 10, method)).isSuccess());
      }
      expectTransportError(send(request(server.baseUrl() + "/x", 10, method)), 52);
      EXPECT_EQ(server.requestsRead(), answered + 1u) << rawValue(method);
    }
  }
}

// Ids of this process's threads called `name`.
std::set<std::string> threadsNamed(const std::string& name) {
  std::set<std::string> out;
  for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
    std::ifstream comm(task.path() / "comm");
    std::string line;
    if (std::getline(comm, line) && line == name) out.insert(task.path().filename().string());
  }
  return out;
}

long voluntarySwitches(const std::string& tid) {
  std::ifstream status("/proc/self/task/" + tid + "/status");
  const std::string key = "voluntary_ctxt_switches:";
  for (std::string line; std::getline(status, line);) {
    if (line.rfind(key, 0) == 0) return std::stol(line.substr(key.size()));
  }
  return -1;
}

// Its own session's end: the thread is joined and each unfinished transfer completes once.
TEST(Transport, EndedSessionJoinsItsThreadAndEndsItsTransfers) {
  const auto before = threadsNamed("orv-network");
  test::RawServer silent(test::RawServer::Behaviour::neverAnswer);
  for (const bool inFlight : {false, true}) {
    std::vector<TransferOutcome> outcomes;
    {
      Transport session;
      EXPECT_EQ(threadsNamed("orv-network").size(), before.size() + 1);
      session.start(request(silent.baseUrl() + "/x"),
                    [&](TransferOutcome o) { outcomes.push_back(std::move(o)); });
      // Long enough to be connected and waiting for the answer.
      if (inFlight) std::this_thread::sleep_for(std::chrono::milliseconds(300));
    }
    EXPECT_EQ(threadsNamed("orv-network"), before);
    ASSERT_EQ(outcomes.size(), 1u) << inFlight;
    ASSERT_TRUE(outcomes[0].error.has_value());
    EXPECT_EQ(outcomes[0].error->code, 42);  // CURLE_ABORTED_BY_CALLBACK
  }
}

// Between transfers the network thread sleeps: it is woken by work, not by a clock.
TEST(Transport, IdleSessionDoesNotWake) {
  const auto before = threadsNamed("orv-network");
  Transport session;
  std::string tid;
  for (const auto& t : threadsNamed("orv-network")) {
    if (!before.count(t)) tid = t;
  }
  ASSERT_FALSE(tid.empty());
  test::ClosingServer server(1);  // keeps the connection open after answering
  std::promise<TransferOutcome> done;
  session.start(request(server.baseUrl() + "/x"), [&](TransferOutcome o) { done.set_value(o); });
  ASSERT_TRUE(done.get_future().get().body.has_value());
  // Time to go back to sleep after the completion.
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  const long switches = voluntarySwitches(tid);
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  EXPECT_EQ(voluntarySwitches(tid), switches);
}

TEST(Transport, TlsPeerAndHostAreVerified) {
  test::TestServer good(true);
  good.handle("/x", [](const httplib::Request&, httplib::Response& res) {
    res.set_content(R"({"text":"t"})", "application/json");
  });
  auto wrongName = std::make_shared<test::TestCertificate>(
      std::vector<std::string>{"DNS:wrong.example"}, "wrong.example");
  test::TestServer misnamed(wrongName);
  test::TestCertificate other;

  setServiceConfiguration({"", good.caFile(), ""});
  EXPECT_TRUE(fetch(good.baseUrl() + "/x").isSuccess());
  auto viaName = fetch("https://localhost:" + std::to_string(good.port()) + "/x");
  EXPECT_TRUE(viaName.isSuccess()) << (viaName.isSuccess() ? "" : viaName.error().message);

  setServiceConfiguration({"", other.certFile(), ""});     // untrusted issuer
  expectTransportError(fetch(good.baseUrl() + "/x"), 60);  // CURLE_PEER_FAILED_VERIFICATION

  setServiceConfiguration({"", wrongName->certFile(), ""});  // trusted, but not for 127.0.0.1
  expectTransportError(fetch(misnamed.baseUrl() + "/x"), 60);
  setServiceConfiguration({});
}

TEST(Transport, ProxyComesOnlyFromTheConfiguration) {
  auto answer = [](const httplib::Request&, httplib::Response& res) {
    res.set_content(R"({"text":"p"})", "application/json");
  };
  test::TestServer origin, proxy;
  origin.handle("/x", answer);
  // A forward proxy receives the absolute URL; this one answers for the named host itself, so
  // the name is never resolved.
  proxy.handle("http://orv-proxy-test.invalid/x", answer);

  // The environment's proxy is ignored...
  ::setenv("http_proxy", proxy.baseUrl().c_str(), 1);
  EXPECT_TRUE(fetch(origin.baseUrl() + "/x").isSuccess());
  ::unsetenv("http_proxy");
  EXPECT_EQ(proxy.receivedCount(), 0u);

  // ...and the configured one used.
  setServiceConfiguration({"", "", proxy.baseUrl()});
  auto viaProxy = fetch("http://orv-proxy-test.invalid/x");
  setServiceConfiguration({});
  ASSERT_TRUE(viaProxy.isSuccess()) << viaProxy.error().message;
  EXPECT_EQ(viaProxy.value().text, "p");
  ASSERT_EQ(proxy.receivedCount(), 1u);
  EXPECT_EQ(proxy.received()[0].target, "http://orv-proxy-test.invalid/x");
}

// The server closes idle connections with a TLS close_notify; a burst after that must not fail on
// the connections it closed.
TEST(Transport, ConnectionsClosedByTheServerAreNotReused) {
  constexpr int kKeepAliveSeconds = 1;
  test::TestServer server(true, 72, kKeepAliveSeconds);
  server.handle("/x", [](const httplib::Request&, httplib::Response& res) {
    res.set_content(R"({"text":"k"})", "application/json");
  });
  setServiceConfiguration({"", server.caFile(), ""});
  RequestBuilder b;
  b.urlString = server.baseUrl() + "/x";
  const URLRequest request = b.makeURLRequest().value();
  auto burst = [&] {
    constexpr int kRequests = 16;
    int done = 0, succeeded = 0;
    for (int i = 0; i < kRequests; ++i) {
      NetworkClient::shared().request<test::Echo>(request, [&](RequestResult<test::Echo> r) {
        ++done;
        succeeded += r.isSuccess() ? 1 : 0;
      });
    }
    RunLoop::main().runUntil([&] { return done == kRequests; }, std::chrono::seconds(20));
    return succeeded == kRequests;
  };
  EXPECT_TRUE(burst());
  std::this_thread::sleep_for(std::chrono::milliseconds(kKeepAliveSeconds * 1500));
  EXPECT_TRUE(burst());
  setServiceConfiguration({});
}

}  // namespace
}  // namespace orv::detail
