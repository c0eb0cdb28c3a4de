// NetworkClient: the rules applied to a finished transfer, and many requests against a loopback
// server over HTTP and HTTPS.
#include <gtest/gtest.h>
#include <httplib.h>

#include <algorithm>
#include <chrono>
#include <string>

#include "model/json_decode.h"
#include "network/network_client.h"
#include "network/request_builder.h"
#include "orv/geocode_res.h"
#include "orv/service_configuration.h"
#include "test_server.h"

namespace orv::detail {
namespace {

// Any decodable type will do: a geocode list.
using List = std::vector<std::shared_ptr<GeocodeRes>>;

// The first rule that applies decides: a transport error (keeping the response), no response, a
// status outside 2xx, no body, a body that does not decode (logged with its raw data; text that
// is not UTF-8 is not logged as it is). An empty body is still a body.
TEST(HandleResponse, FirstRuleThatAppliesDecides) {
  struct Case {
    int status;  // 0: no response
    std::optional<std::string> body;
    std::optional<Error> error;
    std::string message;  // empty: decodes
    std::string logged;   // the end of the one log line, when one is written
    RequestFailure kind = RequestFailure::notBuildable;  // on failure
  };
  const std::string list = "[]";
  const Case cases[] = {
      {500, list, Error{"CURLE", 56, "reset"}, "reset", "", RequestFailure::transport},
      {0, list, std::nullopt, "无效的请求", "", RequestFailure::noResponse},
      {199, list, std::nullopt, statusError(199).message, "", RequestFailure::status},
      {300, list, std::nullopt, statusError(300).message, "", RequestFailure::status},
      {200, list, std::nullopt, "", ""},
      {299, list, std::nullopt, "", ""},
      {204, std::nullopt, std::nullopt, "数据解码失败", "", RequestFailure::undecodable},
      {204, "", std::nullopt, "数据解码失败", "，原始数据：", RequestFailure::undecodable},
      {200, "not json", std::nullopt, "数据解码失败", "，原始数据：not json",
       RequestFailure::undecodable},
      {200, "\xff\xfe{", std::nullopt, "数据解码失败", "，原始数据：无数据",
       RequestFailure::undecodable},
  };
  static std::vector<std::string> lines;  // outlives the test: the sink may be left set on failure
  setLogEnabled(true);
  setLogSink([&](std::string_view line) { lines.emplace_back(line); });
  for (const Case& c : cases) {
    lines.clear();
    auto response = std::make_shared<HTTPResponse>();
    response->statusCode = c.status;
    std::optional<RequestResult<List>> out;
    NetworkClient::handleResponse<List>(c.body, c.status ? response : nullptr, c.error,
                                        [&](RequestResult<List> r) { out.emplace(std::move(r)); });
    ASSERT_TRUE(out.has_value());
    EXPECT_EQ(out->response(), c.status ? response : nullptr) << c.status;
    if (c.message.empty()) {
      ASSERT_TRUE(out->isSuccess()) << c.status << " " << out->error().message;
      EXPECT_TRUE(out->value().empty());
    } else {
      EXPECT_EQ(out->error().message, c.message) << c.status;
      EXPECT_EQ(out->error().kind, c.kind) << c.status;
    }
    ASSERT_EQ(lines.size(), c.logged.empty() ? 0u : 1u) << c.status;
    if (!c.logged.empty()) {
      EXPECT_TRUE(lines[0].starts_with("解析错误：") && lines[0].ends_with(c.logged)) << lines[0];
    }
  }
  setLogSink({});
  setLogEnabled(false);
}

// One line per failed transfer: which, its error, and where its time went (milliseconds from its
// start).
std::string describeFailure(int index, const Error& error, const TransferTimes& t) {
  const auto ms = [](std::chrono::microseconds us) { return std::to_string(us.count() / 1000); };
  return "#" + std::to_string(index) + " " + error.domain + " " + std::to_string(error.code) +
         " \"" + error.message + "\" queued " + ms(t.queued) + " connected " + ms(t.connected) +
         " secured " + ms(t.secured) + " sent " + ms(t.sent) + " first byte " + ms(t.firstByte) +
         " total " + ms(t.total) + " new connections " + std::to_string(t.connectionsOpened) +
         " port " + std::to_string(t.localPort) + "\n";
}

// The server waits on a silent client as long as the requests' time-out: under load only the
// transport's own time-out may end a request.
constexpr int kRequestTimeoutSeconds = 100;

class NetworkClientTest : public ::testing::TestWithParam<bool> {
 protected:
  NetworkClientTest() : server(GetParam(), 72, kRequestTimeoutSeconds) {
    setServiceConfiguration({"", server.caFile(), ""});
  }
  ~NetworkClientTest() override { setServiceConfiguration({}); }
  test::TestServer server;
};

// Each completion comes once, on the main loop, also when requests wait their turn.
TEST_P(NetworkClientTest, ManyConcurrentRequestsEachCompleteOnce) {
  // With a charset the server leaves the body uncompressed: compressing every answer is slow.
  server.handle("/m", [](const httplib::Request&, httplib::Response& res) {
    res.set_content("[]", "application/json; charset=utf-8");
  });
  constexpr int kRequests = 1000;
  RequestBuilder builder;
  builder.urlString = server.baseUrl() + "/m";
  // The time-out runs from the start, also while a request waits for one of the connections.
  builder.timeoutInterval = kRequestTimeoutSeconds;
  const URLRequest request = builder.makeURLRequest().value();
  const auto mainThread = std::this_thread::get_id();
  std::vector<int> calls(kRequests, 0);
  int done = 0, succeeded = 0;
  std::string failures;
  for (int i = 0; i < kRequests; ++i) {
    NetworkClient::shared().request<List>(request, [&, i](RequestResult<List> r) {
      ++calls[i];
      ++done;
      succeeded += r.isSuccess() && std::this_thread::get_id() == mainThread ? 1 : 0;
      if (!r.isSuccess()) failures += describeFailure(i, r.error(), r.times());
    });
  }
  // Every request has ended by its time-out; twice that only catches a transport that breaks it.
  ASSERT_TRUE(RunLoop::main().runUntil([&] { return done == kRequests; },
                                       std::chrono::seconds(2 * kRequestTimeoutSeconds)));
  EXPECT_EQ(succeeded, kRequests) << failures;
  EXPECT_EQ(std::count(calls.begin(), calls.end(), 1), kRequests);
}

INSTANTIATE_TEST_SUITE_P(Schemes, NetworkClientTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "https" : "http"; });

}  // namespace
}  // namespace orv::detail
