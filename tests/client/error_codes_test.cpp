// Every failure reaches onLocationError typed, and its default hands the same text, in the same
// order, to onLocationErrorWithMsg.
#include <gtest/gtest.h>
#include <httplib.h>

#include <cmath>

#include "client/location_error.h"
#include "client_fixture.h"
#include "network/network_error.h"
#include "network/service.h"
#include "network/transport.h"
#include "orv/bundle.h"

namespace orv::test {
namespace {

using namespace std::chrono_literals;

struct ErrorCase {
  std::string name;
  std::function<void(class ErrorCodeTest&, OrvClientLocation&)> act;
  ErrorCode code;
  std::string domain;
  long status;
  std::string message;  // exact; a trailing '*' matches any rest
};

void PrintTo(const ErrorCase& c, std::ostream* os) { *os << c.name; }

class ErrorCodeTest : public PositioningTest, public ::testing::WithParamInterface<ErrorCase> {
 protected:
  ErrorCodeTest() { setReachable(true); }  // requests go to the server; runs fail before them
  ~ErrorCodeTest() override {
    detail::Transport::shared().setResponseBodyLimit(detail::Transport::kDefaultResponseBodyLimit);
  }

 public:
  using ClientTest::server;
  using PositioningTest::provider;
  void serviceAt(const std::string& baseUrl, const std::string& caFile) {
    OrvClientLocation::setServiceConfiguration({baseUrl, caFile, ""});
  }
};

void geocode(ErrorCodeTest&, OrvClientLocation& c) { c.getGeocCode("天安门", "北京"); }

std::function<void(ErrorCodeTest&, OrvClientLocation&)> answering(int status, std::string body,
                                                                  std::string retryAfter = {}) {
  return [=](ErrorCodeTest& t, OrvClientLocation& c) {
    t.server.handle(std::string(detail::kGeocodePath),
                    [=](const httplib::Request&, httplib::Response& res) {
                      res.status = status;
                      if (!retryAfter.empty()) res.set_header("Retry-After", retryAfter);
                      res.set_content(body, "application/json");
                    });
    geocode(t, c);
  };
}

std::function<void(ErrorCodeTest&, OrvClientLocation&)> startingWithStatus(int status) {
  return [status](ErrorCodeTest& t, OrvClientLocation& c) {
    t.provider->setAuthorizationStatus(static_cast<AuthorizationStatus>(status));
    c.startLocation();
    t.provider->pushError("no fix");
  };
}

TEST_P(ErrorCodeTest, ReachesTheTypedCallbackAndTheTextOne) {
  const ErrorCase& c = GetParam();
  c.act(*this, *client);
  ASSERT_TRUE(waitFor([&] { return !delegate->typed.empty(); }));
  RunLoop::main().runFor(50ms);  // nothing further may follow
  ASSERT_EQ(delegate->typed.size(), 1u);
  const LocationError& e = delegate->typed[0];
  EXPECT_EQ(errorCodeName(e.code), errorCodeName(c.code));
  EXPECT_EQ(e.domain, c.domain);
  EXPECT_EQ(e.status, c.status);
  if (c.message.ends_with('*')) {
    EXPECT_TRUE(e.message.starts_with(c.message.substr(0, c.message.size() - 1))) << e.message;
  } else {
    EXPECT_EQ(e.message, c.message);
  }
  EXPECT_EQ(delegate->errors, std::vector<std::string>{e.message});
  EXPECT_EQ(e.retryAfter, std::nullopt);
}

INSTANTIATE_TEST_SUITE_P(
    Failures, ErrorCodeTest,
    ::testing::Values(
        ErrorCase{"ConsentMissing",
                  [](ErrorCodeTest& t, OrvClientLocation& c) {
                    c.setAgreePrivacy(false);
                    geocode(t, c);
                  },
                  ErrorCode::consentMissing, "orv.client", -1, "您未同意隐私政策"},
        ErrorCase{"KeyMissing",
                  [](ErrorCodeTest&, OrvClientLocation& c) {
                    c.setAccesskey(std::nullopt);
                    c.startLocation();
                  },
                  ErrorCode::keyMissing, "orv.client", -1, "您未配置 Appkey"},
        ErrorCase{"InvalidInterval",
                  [](ErrorCodeTest&, OrvClientLocation& c) {
                    c.setIsLocateOnce(false);
                    c.setInterval(0);
                    c.startLocation();
                  },
                  ErrorCode::invalidInterval, "orv.client", -1, "定位间隔无效*"},
        ErrorCase{"DeclarationMissing",
                  [](ErrorCodeTest&, OrvClientLocation& c) {
                    Bundle::mainBundle().clear();
                    c.startLocation();
                  },
                  ErrorCode::permissionDeclarationMissing, "orv.location", -1,
                  "定位失败：Info.plist 缺少 NSLocationWhenInUseUsageDescription 配置"},
        ErrorCase{"Restricted", startingWithStatus(1), ErrorCode::permissionRestricted,
                  "orv.location", -1, "定位失败：定位权限已被拒绝或受限，请前往设置开启"},
        ErrorCase{"Denied", startingWithStatus(2), ErrorCode::permissionDenied, "orv.location", -1,
                  "定位失败：定位权限已被拒绝或受限，请前往设置开启"},
        ErrorCase{"NotDetermined", startingWithStatus(0), ErrorCode::permissionNotDetermined,
                  "orv.location", -1, "定位失败：no fix"},
        ErrorCase{"ProviderFailure", startingWithStatus(4), ErrorCode::providerFailure,
                  "orv.location", -1, "定位失败：no fix"},
        ErrorCase{"NoProvider",
                  [](ErrorCodeTest&, OrvClientLocation& c) {
                    LocationService::useNone();
                    c.startLocation();
                  },
                  ErrorCode::noLocationProvider, "orv.location", -1,
                  "定位失败：No location provider is configured*"},
        ErrorCase{"NotBuildable",
                  [](ErrorCodeTest&, OrvClientLocation& c) { c.getReverseCode(NAN, 116.4); },
                  ErrorCode::requestNotBuildable, "EncodingError", -1, "*"},
        ErrorCase{"Unreachable",
                  [](ErrorCodeTest& t, OrvClientLocation& c) {
                    t.serviceAt("https://127.0.0.1:" + std::to_string(unusedLoopbackPort()),
                                t.server.caFile());
                    geocode(t, c);
                  },
                  ErrorCode::networkUnreachable, "CURLE", -1, "*"},
        ErrorCase{"UntrustedCertificate",
                  [](ErrorCodeTest& t, OrvClientLocation& c) {
                    t.serviceAt(t.server.baseUrl(), "");  // the system's CAs do not know ours
                    geocode(t, c);
                  },
                  ErrorCode::tls, "CURLE", -1, "*"},
        ErrorCase{"ResetMidBody",
                  [](ErrorCodeTest& t, OrvClientLocation& c) {
                    static RawServer raw(RawServer::Behaviour::resetMidBody);
                    t.serviceAt(raw.baseUrl(), "");
                    geocode(t, c);
                  },
                  ErrorCode::transportFailure, "CURLE", 200, "*"},
        ErrorCase{"ServerError", answering(500, "{}"), ErrorCode::httpStatus, "NetworkClient", 500,
                  "请求失败，状态码: 500"},
        ErrorCase{"TooLarge",
                  [](ErrorCodeTest& t, OrvClientLocation& c) {
                    detail::Transport::shared().setResponseBodyLimit(8);
                    answering(200, kTwoHits)(t, c);
                  },
                  ErrorCode::responseTooLarge, "CURLE", 200, "*"},
        ErrorCase{"Undecodable", answering(200, "{}"), ErrorCode::decodingFailed, "NetworkError",
                  200, "数据解码失败"},
        ErrorCase{"Other2xx",
                  [](ErrorCodeTest& t, OrvClientLocation& c) {
                    t.server.handle(std::string(detail::kTrackPointsPath),
                                    [](const httplib::Request&, httplib::Response& res) {
                                      res.status = 202;
                                      res.set_content(kLocationAnswer, "application/json");
                                    });
                    c.getReverseCode(39.9, 116.4);
                  },
                  ErrorCode::httpStatus, "NetworkClient", 202, "202"}),
    [](const auto& info) { return info.param.name; });

TEST_F(ErrorCodeTest, TooManyRequestsCarriesRetryAfter) {
  answering(429, "{}", "120")(*this, *client);
  ASSERT_TRUE(waitFor([&] { return !delegate->typed.empty(); }));
  EXPECT_EQ(delegate->typed[0].status, 429);
  EXPECT_EQ(delegate->typed[0].retryAfter, std::optional(120s));
}

TEST(RetryAfterTest, SecondsOrHttpDate) {
  const auto now = std::chrono::system_clock::from_time_t(784111777);  // 06 Nov 1994 08:49:37
  struct Case {
    const char* value;
    std::optional<std::chrono::seconds> wait;
  };
  for (const Case& c : {Case{" 120 ", 120s}, Case{"Sun, 06 Nov 1994 08:50:07 GMT", 30s},
                        Case{"Sun, 06 Nov 1994 08:00:00 GMT", 0s}, Case{"1.5", std::nullopt},
                        Case{"Sun, 06 Nov 1994 08:50:07 UTC", std::nullopt},
                        Case{"Sun, 06 Foo 1994 08:50:07 GMT", std::nullopt}}) {
    EXPECT_EQ(detail::parseRetryAfter(c.value, now), c.wait) << c.value;
  }
}

// Failures a test cannot provoke cheaply (a 30-second time-out) are classified by the same table.
TEST(RequestErrorTest, TransportAndRequestLayerCodes) {
  using detail::requestError;
  auto code = [](std::string_view domain, int64_t value) {
    return requestError(Error{std::string(domain), value, "m"}, nullptr, {}).code;
  };
  EXPECT_EQ(code(detail::kTransportErrorDomain, 28), ErrorCode::timedOut);
  EXPECT_EQ(code(detail::kTransportErrorDomain, 6), ErrorCode::networkUnreachable);
  EXPECT_EQ(code(detail::kTransportErrorDomain, 35), ErrorCode::tls);
  EXPECT_EQ(code(detail::kTransportErrorDomain, 63), ErrorCode::responseTooLarge);
  EXPECT_EQ(code(detail::kTransportErrorDomain, 8), ErrorCode::transportFailure);
  EXPECT_EQ(requestError(detail::NetworkError::invalidRequest().toError(), nullptr, {}).code,
            ErrorCode::invalidResponse);
  EXPECT_EQ(requestError(detail::NetworkError::invalidURL().toError(), nullptr, {}).code,
            ErrorCode::requestNotBuildable);
}

}  // namespace
}  // namespace orv::test
