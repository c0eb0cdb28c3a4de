#include <gtest/gtest.h>

#include "network/network_error.h"
#include "network/request_builder.h"
#include "network/service.h"
#include "orv/service_configuration.h"

namespace orv::detail {
namespace {

struct FakeBody {
  bool ok;
  Result<std::string> toJson() const {
    return ok ? Result<std::string>(std::string("{}")) : Error{"JSONWriter", 7, "non-finite"};
  }
};

TEST(NetworkError, DescriptionsAndStatusError) {
  EXPECT_EQ(NetworkError::invalidURL().errorDescription(), "无效的URL");
  EXPECT_EQ(NetworkError::invalidRequest().errorDescription(), "无效的请求");
  EXPECT_EQ(NetworkError::encodingFailed().errorDescription(), "数据编码失败");
  EXPECT_EQ(NetworkError::decodingFailed().errorDescription(), "数据解码失败");
  const Error status = statusError(404);
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
  for (const char* url : {"", "no scheme here", "http://exa mple.com/"}) {
    auto r = builder(url).makeURLRequest();
    ASSERT_FALSE(r.ok()) << url;
    EXPECT_TRUE(isNetworkError(r.error(), NetworkError::Kind::invalidURL)) << url;
  }
}

TEST(MakeURLRequest, QueryReplacedOnlyWhenParametersGiven) {
  EXPECT_EQ(builder("https://h.example/p?x=1&y=2").makeURLRequest().value().url,
            "https://h.example/p?x=1&y=2");
  auto b = builder("https://h.example/p?x=1");
  b.queryParameters = {{"k", "a b&c=d+e#f%g/é"}};
  EXPECT_EQ(b.makeURLRequest().value().url,
            "https://h.example/p?k=a%20b%26c%3dd%2be%23f%25g%2f%c3%a9");
}

// JSON is the default content type; one the caller set, in any case, is kept instead.
TEST(MakeURLRequest, ContentType) {
  EXPECT_EQ(builder("http://h/x").makeURLRequest().value().headers,
            (HeaderMap{{"Content-Type", "application/json"}}));
  auto b = builder("http://h/x");
  b.headers = {{"content-type", "text/plain"}};
  EXPECT_EQ(b.makeURLRequest().value().headers, (HeaderMap{{"content-type", "text/plain"}}));
}

TEST(MakeURLRequest, BodyEncodedOrItsErrorPassedOnUnchanged) {
  auto b = builder("http://127.0.0.1/x");
  b.bodyParameters = FakeBody{true};
  EXPECT_EQ(b.makeURLRequest().value().body, "{}");
  b.bodyParameters = FakeBody{false};
  auto bad = b.makeURLRequest();
  ASSERT_FALSE(bad.ok());
  EXPECT_EQ(bad.error().domain, "JSONWriter");
  EXPECT_EQ(bad.error().message, "non-finite");
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
