// NetworkClient against real loopback servers, over HTTP and HTTPS.
#include <gtest/gtest.h>
#include <httplib.h>

#include <algorithm>
#include <thread>

#include "network/network_client.h"
#include "network/request_builder.h"
#include "orv/service_configuration.h"
#include "test_decode.h"
#include "test_server.h"

namespace orv::detail {
namespace {

using test::Echo;
using Kind = NetworkError::Kind;

class NetworkClientTest : public ::testing::TestWithParam<bool> {
 protected:
  NetworkClientTest() : server(GetParam()) { setServiceConfiguration({"", server.caFile(), ""}); }
  ~NetworkClientTest() override { setServiceConfiguration({}); }

  RequestBuilder at(const std::string& path, HTTPMethod method = HTTPMethod::get) {
    RequestBuilder b;
    b.urlString = server.baseUrl() + path;
    b.method = method;
    b.timeoutInterval = 10;
    return b;
  }
  void answer(const std::string& path, int status, std::string body,
              std::string type = "application/json") {
    server.handle(path, [=](const httplib::Request&, httplib::Response& res) {
      res.status = status;
      // A 304 carries no body; one written anyway would corrupt the kept-alive connection.
      if (status != 304) res.set_content(body, type.c_str());
    });
  }
  // One request; its completion must come once, on this (the main) thread.
  RequestResult<Echo> send(const RequestBuilder& builder) {
    std::optional<RequestResult<Echo>> out;
    int calls = 0;
    const auto mainThread = std::this_thread::get_id();
    NetworkClient::shared().request<Echo>(builder.makeURLRequest().value(),
                                          [&](RequestResult<Echo> r) {
                                            ++calls;
                                            EXPECT_EQ(std::this_thread::get_id(), mainThread);
                                            out.emplace(std::move(r));
                                          });
    EXPECT_TRUE(
        RunLoop::main().runUntil([&] { return out.has_value(); }, std::chrono::seconds(20)));
    EXPECT_EQ(calls, 1);
    return out ? std::move(*out) : RequestResult<Echo>::failure(Error{"test", 0, "no completion"});
  }
  test::TestServer server;
};

// 2xx decodes; anything else is a status error that keeps the response. 1xx codes are interim
// over HTTP/1.1 and never final; 199 is covered without a server below.
TEST_P(NetworkClientTest, StatusRules) {
  for (const int status : {200, 299, 300, 304}) {
    answer("/s", status, R"({"text":"hi"})");
    auto r = send(at("/s"));
    ASSERT_NE(r.response(), nullptr) << status;
    EXPECT_EQ(r.response()->statusCode, status);
    if (status < 300) {
      ASSERT_TRUE(r.isSuccess()) << status << " " << r.error().message;
      EXPECT_EQ(r.value().text, "hi");
    } else {
      ASSERT_FALSE(r.isSuccess()) << status;
      EXPECT_EQ(r.error().message, statusError(status).message);
    }
  }
}

// An empty body is still a body: it goes to decoding, unlike a missing one. Text that is not
// UTF-8 is not logged as it is.
TEST_P(NetworkClientTest, UndecodableBodiesLogTheirRawData) {
  const std::tuple<int, std::string, std::string> cases[] = {
      {204, "", ""}, {200, "not json", "not json"}, {200, "\xff\xfe{", "无数据"}};
  setLogEnabled(true);
  for (const auto& [status, body, logged] : cases) {
    std::vector<std::string> lines;
    setLogSink([&](std::string_view line) { lines.emplace_back(line); });
    answer("/d", status, body);
    auto r = send(at("/d"));
    ASSERT_FALSE(r.isSuccess());
    EXPECT_TRUE(isNetworkError(r.error(), Kind::decodingFailed));
    ASSERT_NE(r.response(), nullptr);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(lines[0].starts_with("解析错误：")) << lines[0];
    EXPECT_TRUE(lines[0].ends_with("，原始数据：" + logged)) << lines[0];
  }
  setLogSink({});
  setLogEnabled(false);
}

TEST_P(NetworkClientTest, ServerReceivesExactQueryHeadersAndBody) {
  answer("/q", 200, R"({"text":"ok"})");
  const std::map<std::string, std::string> query = {
      {"access_key", "k&=+#% é"}, {"empty", ""}, {"城市", "北京 朝阳区"}};
  auto get = at("/q?old=1");
  get.queryParameters = query;
  ASSERT_TRUE(send(get).isSuccess());

  struct Body {
    Result<std::string> toJson() const { return std::string(R"({"k":"v"})"); }
  };
  auto post = at("/q", HTTPMethod::post);
  post.headers = {{"content-type", "text/plain"}, {"X-Custom", "1"}};
  post.bodyParameters = Body{};
  ASSERT_TRUE(send(post).isSuccess());

  auto got = server.received();
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0].method, "GET");
  EXPECT_EQ(got[0].query, (std::multimap<std::string, std::string>(query.begin(), query.end())));
  EXPECT_EQ(got[0].header("Content-Type"), "application/json");
  EXPECT_TRUE(got[0].body.empty());
  EXPECT_EQ(got[1].method, "POST");
  EXPECT_EQ(got[1].body, R"({"k":"v"})");
  EXPECT_EQ(got[1].header("Content-Type"), "text/plain");
  EXPECT_EQ(got[1].headerCount("Content-Type"), 1u);
  EXPECT_EQ(got[1].header("X-Custom"), "1");
}

TEST_P(NetworkClientTest, ManyConcurrentRequestsEachCompleteOnce) {
  // With a charset the server leaves the body uncompressed: compressing every answer is slow.
  answer("/m", 200, R"({"text":"m"})", "application/json; charset=utf-8");
  constexpr int kRequests = 1000;
  // The time-out runs from the start, also while a request waits for one of the connections.
  auto builder = at("/m");
  builder.timeoutInterval = 100;
  const URLRequest request = builder.makeURLRequest().value();
  std::vector<int> calls(kRequests, 0);
  int done = 0, succeeded = 0;
  std::string firstError;
  const auto mainThread = std::this_thread::get_id();
  bool allOnMain = true;
  for (int i = 0; i < kRequests; ++i) {
    NetworkClient::shared().request<Echo>(request, [&, i](RequestResult<Echo> r) {
      ++calls[i];
      ++done;
      succeeded += r.isSuccess() ? 1 : 0;
      if (!r.isSuccess() && firstError.empty()) firstError = r.error().message;
      allOnMain = allOnMain && std::this_thread::get_id() == mainThread;
    });
  }
  ASSERT_TRUE(
      RunLoop::main().runUntil([&] { return done == kRequests; }, std::chrono::seconds(120)));
  EXPECT_EQ(succeeded, kRequests) << firstError;
  EXPECT_TRUE(allOnMain);
  EXPECT_EQ(std::count(calls.begin(), calls.end(), 1), kRequests);
}

INSTANTIATE_TEST_SUITE_P(Schemes, NetworkClientTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "https" : "http"; });

TEST(HandleResponse, RulesWithoutATransfer) {
  auto response = std::make_shared<HTTPResponse>();
  std::optional<RequestResult<Echo>> out;
  auto keep = [&](RequestResult<Echo> r) { out.emplace(std::move(r)); };

  // A transport error wins over the status and keeps the response.
  response->statusCode = 500;
  NetworkClient::handleResponse<Echo>(std::string("{}"), response, Error{"CURLE", 56, "reset"},
                                      keep);
  EXPECT_EQ(out->error().message, "reset");
  EXPECT_EQ(out->response(), response);

  NetworkClient::handleResponse<Echo>(std::string("{}"), nullptr, std::nullopt, keep);
  EXPECT_TRUE(isNetworkError(out->error(), Kind::invalidRequest));

  response->statusCode = 199;
  NetworkClient::handleResponse<Echo>(std::string(R"({"text":"a"})"), response, std::nullopt, keep);
  EXPECT_EQ(out->error().message, statusError(199).message);

  response->statusCode = 204;
  NetworkClient::handleResponse<Echo>(std::nullopt, response, std::nullopt, keep);
  EXPECT_TRUE(isNetworkError(out->error(), Kind::decodingFailed));
}

}  // namespace
}  // namespace orv::detail
