// NetworkClient against real loopback servers, over HTTP and HTTPS.
#include <gtest/gtest.h>
#include <httplib.h>

#include <algorithm>
#include <cctype>
#include <cstring>
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

template <class T>
RequestResult<T> send(const RequestBuilder& builder) {
  auto built = builder.makeURLRequest();
  if (!built) return RequestResult<T>::failure(built.error());
  std::optional<RequestResult<T>> out;
  int calls = 0;
  const auto mainThread = std::this_thread::get_id();
  NetworkClient::shared().request<T>(built.value(), [&](RequestResult<T> r) {
    ++calls;
    EXPECT_EQ(std::this_thread::get_id(), mainThread);
    out.emplace(std::move(r));
  });
  EXPECT_TRUE(RunLoop::main().runUntil([&] { return out.has_value(); }, std::chrono::seconds(20)));
  EXPECT_EQ(calls, 1);
  if (!out) return RequestResult<T>::failure(Error{"test", 0, "no completion"});
  return std::move(*out);
}

class LogCapture {
 public:
  LogCapture() {
    setLogEnabled(true);
    setLogSink([this](std::string_view line) { lines.emplace_back(line); });
  }
  ~LogCapture() {
    setLogSink({});
    setLogEnabled(false);
  }
  std::vector<std::string> lines;
};

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
  test::TestServer server;
};

TEST_P(NetworkClientTest, StatusRules) {
  struct Case {
    int status;
    bool decodes;
  };
  // 1xx codes are interim over HTTP/1.1 and never final; 199 is covered without a server below.
  for (Case c : {Case{200, true}, Case{299, true}, Case{300, false}, Case{304, false},
                 Case{404, false}, Case{500, false}}) {
    answer("/s", c.status, R"({"text":"hi"})");
    auto r = send<Echo>(at("/s"));
    ASSERT_NE(r.response(), nullptr) << c.status << (r.isSuccess() ? "" : r.error().message);
    EXPECT_EQ(r.response()->statusCode, c.status);
    if (c.decodes) {
      ASSERT_TRUE(r.isSuccess()) << c.status << " " << r.error().message;
      EXPECT_EQ(r.value().text, "hi");
    } else {
      ASSERT_FALSE(r.isSuccess()) << c.status;
      EXPECT_EQ(r.error().domain, "NetworkClient");
      EXPECT_EQ(r.error().code, c.status);
      EXPECT_EQ(r.error().message, "请求失败，状态码: " + std::to_string(c.status));
    }
  }
}

TEST_P(NetworkClientTest, UndecodableBodiesLogTheirRawData) {
  struct Case {
    int status;
    std::string body, logged;
  };
  // An empty body is still a body: it goes to decoding, unlike a missing one.
  for (const Case& c :
       {Case{200, "", ""}, Case{204, "", ""}, Case{200, "not json", "not json"},
        Case{200, "\xff\xfe{", "无数据"}, Case{299, R"({"text":1})", R"({"text":1})"}}) {
    LogCapture log;
    answer("/d", c.status, c.body);
    auto r = send<Echo>(at("/d"));
    ASSERT_FALSE(r.isSuccess());
    EXPECT_TRUE(isNetworkError(r.error(), Kind::decodingFailed));
    EXPECT_EQ(r.error().message, "数据解码失败");
    ASSERT_NE(r.response(), nullptr);
    ASSERT_EQ(log.lines.size(), 1u);
    const std::string& line = log.lines[0];
    EXPECT_TRUE(line.starts_with("解析错误：")) << line;
    EXPECT_TRUE(line.ends_with("，原始数据：" + c.logged)) << line;
  }
}

TEST_P(NetworkClientTest, ServerReceivesExactQueryHeadersAndBody) {
  answer("/q", 200, R"({"text":"ok"})");
  const std::map<std::string, std::string> query = {
      {"access_key", "k&=+#% é"},   {"a b", "x+y"},  {"empty", ""}, {"pct", "100%"},
      {"address", "北京市 朝阳区"}, {"城市", "北京"}};
  auto get = at("/q?old=1");
  get.queryParameters = query;
  ASSERT_TRUE(send<Echo>(get).isSuccess());

  struct Body {
    Result<std::string> toJson() const { return std::string(R"({"k":"v"})"); }
  };
  auto post = at("/q", HTTPMethod::post);
  post.headers = {{"content-type", "text/plain"}, {"X-Custom", "1"}};
  post.bodyParameters = Body{};
  ASSERT_TRUE(send<Echo>(post).isSuccess());

  auto got = server.received();
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0].method, "GET");
  EXPECT_EQ(got[0].query, (std::multimap<std::string, std::string>(query.begin(), query.end())));
  // Nothing but unreserved characters travels unencoded; a bare "+" would read as a space.
  EXPECT_TRUE(std::all_of(got[0].target.begin(), got[0].target.end(), [](unsigned char c) {
    return std::isalnum(c) || std::strchr("-._~%&=/?", c) != nullptr;
  })) << got[0].target;
  EXPECT_EQ(got[0].target.find("old=1"), std::string::npos) << got[0].target;
  EXPECT_EQ(got[0].header("Content-Type"), "application/json");
  EXPECT_EQ(got[0].headerCount("Content-Type"), 1u);
  EXPECT_TRUE(got[0].body.empty());
  EXPECT_EQ(got[1].method, "POST");
  EXPECT_EQ(got[1].body, R"({"k":"v"})");
  EXPECT_EQ(got[1].header("Content-Type"), "text/plain");
  EXPECT_EQ(got[1].headerCount("Content-Type"), 1u);
  EXPECT_EQ(got[1].header("X-Custom"), "1");
}

TEST_P(NetworkClientTest, OversizeBodyIsATransportError) {
  auto& session = NetworkClient::shared().session();
  const size_t defaultLimit = session.responseBodyLimit();
  EXPECT_EQ(defaultLimit, size_t{16} << 20);
  struct Case {
    size_t limit, size;
    const char* type;  // the server compresses JSON, so its limit is met while inflating
    bool chunked, tooLarge;
  };
  const Case cases[] = {
      {1024, 1024, "application/octet-stream", false, false},
      {1024, 1025, "application/octet-stream", false, true},  // refused from Content-Length
      {1024, 1025, "application/json", false, true},
      {1024, 4000, "application/json", true, true},
      {defaultLimit, defaultLimit + 1, "application/json", false, true},
  };
  for (const Case& c : cases) {
    session.setResponseBodyLimit(c.limit);
    server.handle("/big", [c](const httplib::Request&, httplib::Response& res) {
      if (!c.chunked) return res.set_content(std::string(c.size, 'x'), c.type);
      res.set_chunked_content_provider(c.type, [c](size_t, httplib::DataSink& sink) {
        std::string part(c.size / 4, 'y');
        for (int i = 0; i < 4; ++i) sink.write(part.data(), part.size());
        sink.done();
        return true;
      });
    });
    auto r = send<Echo>(at("/big"));
    session.setResponseBodyLimit(defaultLimit);
    ASSERT_FALSE(r.isSuccess());
    ASSERT_NE(r.response(), nullptr);
    EXPECT_EQ(r.response()->statusCode, 200);
    if (c.tooLarge) {
      EXPECT_EQ(r.error().domain, "CURLE") << c.size;
      EXPECT_EQ(r.error().message,
                "Response body exceeds the limit of " + std::to_string(c.limit) + " bytes");
    } else {
      EXPECT_TRUE(isNetworkError(r.error(), Kind::decodingFailed)) << r.error().message;
    }
  }
}

TEST_P(NetworkClientTest, ManyConcurrentRequestsEachCompleteOnce) {
  // With a charset the server leaves the body uncompressed: compressing 5,000 answers is slow.
  answer("/m", 200, R"({"text":"m"})", "application/json; charset=utf-8");
  constexpr int kRequests = 5000;
  // The time-out runs from the start, also while a request waits for one of the connections.
  auto builder = at("/m");
  builder.timeoutInterval = 100;
  auto built = builder.makeURLRequest();
  ASSERT_TRUE(built.ok());
  std::vector<int> calls(kRequests, 0);
  int done = 0, succeeded = 0;
  std::string firstError;
  const auto mainThread = std::this_thread::get_id();
  bool allOnMain = true;
  for (int i = 0; i < kRequests; ++i) {
    NetworkClient::shared().request<Echo>(built.value(), [&, i](RequestResult<Echo> r) {
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
  response->statusCode = 200;
  std::optional<RequestResult<Echo>> out;
  auto keep = [&](RequestResult<Echo> r) { out.emplace(std::move(r)); };

  // A transport error wins over the status and keeps the response.
  response->statusCode = 500;
  NetworkClient::handleResponse<Echo>(std::string("{}"), response, Error{"CURLE", 56, "reset"},
                                      keep);
  EXPECT_EQ(out->error().domain, "CURLE");
  EXPECT_EQ(out->error().message, "reset");
  EXPECT_EQ(out->response(), response);

  NetworkClient::handleResponse<Echo>(std::string("{}"), nullptr, std::nullopt, keep);
  EXPECT_TRUE(isNetworkError(out->error(), Kind::invalidRequest));
  EXPECT_EQ(out->response(), nullptr);

  response->statusCode = 199;
  NetworkClient::handleResponse<Echo>(std::string("{\"text\":\"a\"}"), response, std::nullopt,
                                      keep);
  EXPECT_EQ(out->error().message, "请求失败，状态码: 199");
  EXPECT_EQ(out->error().code, 199);

  response->statusCode = 204;
  NetworkClient::handleResponse<Echo>(std::nullopt, response, std::nullopt, keep);
  EXPECT_TRUE(isNetworkError(out->error(), Kind::decodingFailed));
  EXPECT_EQ(out->response(), response);
}

}  // namespace
}  // namespace orv::detail
