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

// 2xx decodes; anything else is a status error. A body that does not decode fails and is logged,
// an empty one too (unlike a missing one), text that is not UTF-8 not as it is. The response
// stays with the result. 1xx codes are interim over HTTP/1.1; 199 is covered below.
TEST_P(NetworkClientTest, Outcomes) {
  struct Case {
    int status;
    std::string body, logged;  // logged: empty when the body decodes or is not looked at
  };
  const Case cases[] = {{200, R"({"text":"hi"})", ""},
                        {299, R"({"text":"hi"})", ""},
                        {300, R"({"text":"hi"})", ""},
                        {304, "", ""},
                        {204, "", "，原始数据："},
                        {200, "not json", "，原始数据：not json"},
                        {200, "\xff\xfe{", "，原始数据：无数据"}};
  setLogEnabled(true);
  for (const Case& c : cases) {
    std::vector<std::string> lines;
    setLogSink([&](std::string_view line) { lines.emplace_back(line); });
    answer("/s", c.status, c.body);
    auto r = send(at("/s"));
    ASSERT_NE(r.response(), nullptr) << c.status;
    EXPECT_EQ(r.response()->statusCode, c.status);
    if (!c.logged.empty()) {
      EXPECT_TRUE(isNetworkError(r.error(), Kind::decodingFailed)) << c.body;
      ASSERT_EQ(lines.size(), 1u);
      EXPECT_TRUE(lines[0].starts_with("解析错误：") && lines[0].ends_with(c.logged)) << lines[0];
    } else if (c.status < 300) {
      ASSERT_TRUE(r.isSuccess()) << c.status << " " << r.error().message;
      EXPECT_EQ(r.value().text, "hi");
    } else {
      EXPECT_EQ(r.error().message, statusError(c.status).message);
    }
  }
  setLogSink({});
  setLogEnabled(false);
}

// Headers the caller set travel as they are, the content type once.
TEST_P(NetworkClientTest, ServerReceivesHeadersAndBody) {
  answer("/q", 200, R"({"text":"ok"})");
  struct Body {
    Result<std::string> toJson() const { return std::string(R"({"k":"v"})"); }
  };
  auto post = at("/q", HTTPMethod::post);
  post.headers = {{"content-type", "text/plain"}, {"X-Custom", "1"}};
  post.bodyParameters = Body{};
  ASSERT_TRUE(send(post).isSuccess());
  const auto got = server.received();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].method, "POST");
  EXPECT_EQ(got[0].body, R"({"k":"v"})");
  EXPECT_EQ(got[0].header("Content-Type"), "text/plain");
  EXPECT_EQ(got[0].headerCount("Content-Type"), 1u);
  EXPECT_EQ(got[0].header("X-Custom"), "1");
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
  for (int i = 0; i < kRequests; ++i) {
    NetworkClient::shared().request<Echo>(request, [&, i](RequestResult<Echo> r) {
      ++calls[i];
      ++done;
      succeeded += r.isSuccess() ? 1 : 0;
    });
  }
  ASSERT_TRUE(
      RunLoop::main().runUntil([&] { return done == kRequests; }, std::chrono::seconds(120)));
  EXPECT_EQ(succeeded, kRequests);
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
