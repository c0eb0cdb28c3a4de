#include <gtest/gtest.h>

#include <cmath>

#include "network/network_error.h"
#include "network/request_builder.h"
#include "network/service.h"
#include "orv/service_configuration.h"

namespace orv::detail {
namespace {

struct FakeBody {
  double value;
  Result<std::string> toJson() const {
    if (!std::isfinite(value)) return Error{"JSONWriter", 7, "non-finite number"};
    return std::string("{\"v\":") + std::to_string(static_cast<int>(value)) + "}";
  }
};

TEST(NetworkError, DescriptionsAndStatusError) {
  EXPECT_EQ(NetworkError::invalidURL().errorDescription(), "无效的URL");
  EXPECT_EQ(NetworkError::invalidRequest().errorDescription(), "无效的请求");
  EXPECT_EQ(NetworkError::encodingFailed().errorDescription(), "数据编码失败");
  EXPECT_EQ(NetworkError::decodingFailed().errorDescription(), "数据解码失败");
  Error transport{"CURLE", 7, "Failed to connect"};
  EXPECT_EQ(NetworkError::networkError(transport).errorDescription(), "Failed to connect");
  EXPECT_EQ(NetworkError::networkError(transport).toError().domain, "CURLE");
  Error status = statusError(404);
  EXPECT_EQ(status.domain, "NetworkClient");
  EXPECT_EQ(status.code, 404);
  EXPECT_EQ(status.message, "请求失败，状态码: 404");
}

RequestBuilder builder(std::string url) {
  RequestBuilder b;
  b.urlString = std::move(url);
  return b;
}

TEST(MakeURLRequest, UnparsableUrlsFail) {
  for (const char* url : {"", "no scheme here", "http://exa mple.com/", "://x", "http://[::1/"}) {
    auto r = builder(url).makeURLRequest();
    ASSERT_FALSE(r.ok()) << url;
    EXPECT_TRUE(isNetworkError(r.error(), NetworkError::Kind::invalidURL)) << url;
    EXPECT_EQ(r.error().message, "无效的URL");
  }
}

TEST(MakeURLRequest, QueryReplacedOnlyWhenParametersGiven) {
  auto kept = builder("https://h.example/p?x=1&y=2").makeURLRequest();
  ASSERT_TRUE(kept.ok());
  EXPECT_EQ(kept.value().url, "https://h.example/p?x=1&y=2");

  auto b = builder("https://h.example/p?x=1");
  b.queryParameters = {{"k", "a b&c=d+e#f%g/é"}};
  auto replaced = b.makeURLRequest();
  ASSERT_TRUE(replaced.ok());
  EXPECT_EQ(replaced.value().url, "https://h.example/p?k=a%20b%26c%3dd%2be%23f%25g%2f%c3%a9");
}

TEST(MakeURLRequest, MethodTimeoutAndContentType) {
  struct Case {
    std::map<std::string, std::string> headers;
    std::string name, value;
  };
  const Case cases[] = {
      {{}, "Content-Type", "application/json"},
      {{{"content-type", "text/plain"}}, "content-type", "text/plain"},
      {{{"CONTENT-TYPE", "application/xml"}, {"X-A", "1"}}, "CONTENT-TYPE", "application/xml"},
  };
  for (const auto& c : cases) {
    auto b = builder("http://127.0.0.1/x");
    b.method = HTTPMethod::patch;
    b.timeoutInterval = 2.5;
    b.headers = c.headers;
    auto r = b.makeURLRequest();
    ASSERT_TRUE(r.ok());
    const URLRequest& req = r.value();
    EXPECT_EQ(req.method, HTTPMethod::patch);
    EXPECT_EQ(req.timeoutInterval, 2.5);
    EXPECT_EQ(req.headers.size(), c.headers.empty() ? 1u : c.headers.size());
    auto it = req.headers.find("Content-Type");
    ASSERT_NE(it, req.headers.end());
    EXPECT_EQ(it->first, c.name);
    EXPECT_EQ(it->second, c.value);
    EXPECT_FALSE(req.body.has_value());
  }
}

TEST(MakeURLRequest, BodyEncodedOrItsErrorPassedOnUnchanged) {
  auto b = builder("http://127.0.0.1/x");
  b.bodyParameters = FakeBody{3};
  auto ok = b.makeURLRequest();
  ASSERT_TRUE(ok.ok());
  EXPECT_EQ(ok.value().body, "{\"v\":3}");

  b.bodyParameters = FakeBody{NAN};
  auto bad = b.makeURLRequest();
  ASSERT_FALSE(bad.ok());
  EXPECT_EQ(bad.error().domain, "JSONWriter");
  EXPECT_EQ(bad.error().code, 7);
  EXPECT_EQ(bad.error().message, "non-finite number");
}

TEST(Service, BaseUrlFromConfigurationElseDefault) {
  setServiceConfiguration({});
  EXPECT_EQ(serviceUrl(kGeocodePath),
            std::string(defaultServiceBaseUrl()) + "/location/scenario/v1/geocode");
  setServiceConfiguration({"https://loc.test:8443/", "", ""});
  EXPECT_EQ(serviceUrl(kTrackPointsPath), "https://loc.test:8443/location/hub/v1/track_points");
  setServiceConfiguration({});
}

}  // namespace
}  // namespace orv::detail
