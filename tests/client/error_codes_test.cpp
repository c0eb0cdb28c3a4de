// Every failure reaches onLocationError typed, and its default hands the same text, in the same
// order, to onLocationErrorWithMsg.
#include <gtest/gtest.h>
#include <httplib.h>

#include <atomic>
#include <cmath>
#include <tuple>

#include "client/location_error.h"
#include "client_fixture.h"
#include "location/provider_registry.h"
#include "location/system_provider.h"
#include "network/network_error.h"
#include "network/service.h"
#include "network/transport.h"
#include "orv/bundle.h"

namespace orv::test {
namespace {

using namespace std::chrono_literals;

class ErrorCodeTest;
using Act = std::function<void(ErrorCodeTest&)>;

struct ErrorCase {
  std::string name;
  Act act;
  ErrorCode code;
  std::string domain;
  long status;
  std::string message;  // exact; a trailing '*' matches any rest
};

void PrintTo(const ErrorCase& c, std::ostream* os) { *os << c.name; }

class ErrorCodeTest : public PositioningTest, public ::testing::WithParamInterface<ErrorCase> {
 public:
  ErrorCodeTest() { setReachable(true); }  // requests go to the server; runs fail before them
  ~ErrorCodeTest() override {
    detail::Transport::shared().setResponseBodyLimit(detail::Transport::kDefaultResponseBodyLimit);
  }
  void geocode(const std::string& baseUrl, const std::string& caFile) {
    OrvClientLocation::setServiceConfiguration({baseUrl, caFile, ""});
    client->getGeocCode("天安门", "北京");
  }
  void geocode() { geocode(server.baseUrl(), server.caFile()); }
  void start() { client->startLocation(); }
};

Act answering(int status, std::string body) {
  return [=](ErrorCodeTest& t) {
    t.answer(std::string(detail::kGeocodePath), status, body);
    t.geocode();
  };
}

Act startingWithStatus(int status, std::string error = "no fix") {
  return [status, error](ErrorCodeTest& t) {
    t.provider->setAuthorizationStatus(static_cast<AuthorizationStatus>(status));
    t.start();
    t.provider->pushError(error);
  };
}

// A host's provider that reports a failure of `kind` at start, its status then `status`.
class FailingProvider final : public LocationProvider {
 public:
  FailingProvider(LocationFailure kind, AuthorizationStatus status, std::string text)
      : kind_(kind), status_(status), text_(std::move(text)) {}
  AuthorizationStatus authorizationStatus() const override {
    return started_ ? status_ : AuthorizationStatus::authorizedWhenInUse;
  }
  void start(const std::shared_ptr<LocationSink>& sink) override {
    started_ = true;
    sink->deliverError(kind_, text_);
  }
  void stop(const LocationSink&) override {}

 private:
  LocationFailure kind_;
  AuthorizationStatus status_;
  std::string text_;
  std::atomic<bool> started_{false};
};

Act failing(LocationFailure kind, int status = 4, std::string text = "no fix") {
  return [=](ErrorCodeTest& t) {
    LocationService::use(
        std::make_shared<FailingProvider>(kind, static_cast<AuthorizationStatus>(status), text));
    t.start();
  };
}

// The system default with one source, which refuses: it has chosen nothing, so its status is
// still "not determined".
Act systemDefaultFindingNothing() {
  return [](ErrorCodeTest& t) {
    LocationService::use(std::make_shared<detail::SystemProvider>(std::vector{
        detail::SystemCandidate{"gpsd at 127.0.0.1:2947",
                                [] { return std::optional<std::string>("connection refused"); },
                                [] { return std::shared_ptr<LocationProvider>(); }}}));
    t.start();
  };
}

TEST_P(ErrorCodeTest, ReachesTheTypedCallbackAndTheTextOne) {
  const ErrorCase& c = GetParam();
  c.act(*this);
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

const std::string kDenied = "定位失败：定位权限已被拒绝或受限，请前往设置开启";

// clang-format off
INSTANTIATE_TEST_SUITE_P(Failures, ErrorCodeTest, ::testing::Values(
    ErrorCase{"ConsentMissing",
              [](ErrorCodeTest& t) { t.client->setAgreePrivacy(false); t.geocode(); },
              ErrorCode::consentMissing, "orv.client", -1, "您未同意隐私政策"},
    ErrorCase{"KeyMissing",
              [](ErrorCodeTest& t) { t.client->setAccesskey(std::nullopt); t.start(); },
              ErrorCode::keyMissing, "orv.client", -1, "您未配置 Appkey"},
    ErrorCase{"InvalidInterval",
              [](ErrorCodeTest& t) {
                t.client->setIsLocateOnce(false);
                t.client->setInterval(std::nan(""));  // not positive, as 0 or -1
                t.start();
              },
              ErrorCode::invalidInterval, "orv.client", -1, "定位间隔无效*"},
    ErrorCase{"DeclarationMissing",
              [](ErrorCodeTest& t) { Bundle::mainBundle().clear(); t.start(); },
              ErrorCode::permissionDeclarationMissing, "orv.location", -1,
              "定位失败：Info.plist 缺少 NSLocationWhenInUseUsageDescription 配置"},
    ErrorCase{"Restricted", startingWithStatus(1), ErrorCode::permissionRestricted,
              "orv.location", -1, kDenied},
    ErrorCase{"Denied", startingWithStatus(2), ErrorCode::permissionDenied,
              "orv.location", -1, kDenied},
    // A source that fails before anyone decided on permission is a failing source, not a
    // question to ask the user; only an authorization request nobody answered is.
    ErrorCase{"FailsWhileNotDetermined", startingWithStatus(0), ErrorCode::providerFailure,
              "orv.location", -1, "定位失败：no fix"},
    ErrorCase{"NotDetermined", failing(LocationFailure::permissionPending, 0, "nobody answered"),
              ErrorCode::permissionNotDetermined, "orv.location", -1, "定位失败：nobody answered"},
    // The kind decides, never the text.
    ErrorCase{"TextIsNotRead", startingWithStatus(0, detail::kGeoClueNoAgentMessage),
              ErrorCode::providerFailure, "orv.location", -1, "定位失败：GeoClue has no*"},
    ErrorCase{"SourceUnreachable", failing(LocationFailure::sourceUnreachable),
              ErrorCode::providerFailure, "orv.location", -1, "定位失败：no fix"},
    ErrorCase{"Lost", failing(LocationFailure::sourceLost), ErrorCode::providerFailure,
              "orv.location", -1, "定位失败：no fix"},
    ErrorCase{"LostWhileDenied", failing(LocationFailure::sourceLost, 2),
              ErrorCode::permissionDenied, "orv.location", -1, "定位失败：no fix"},
    ErrorCase{"ProtocolWhileRestricted", failing(LocationFailure::protocolError, 1),
              ErrorCode::permissionRestricted, "orv.location", -1, "定位失败：no fix"},
    ErrorCase{"SourceRefuses", failing(LocationFailure::permissionDenied, 0),
              ErrorCode::permissionDenied, "orv.location", -1, "定位失败：no fix"},
    ErrorCase{"SourceRefusesRestricted", failing(LocationFailure::permissionDenied, 1),
              ErrorCode::permissionRestricted, "orv.location", -1, "定位失败：no fix"},
    ErrorCase{"NoSourceKind", failing(LocationFailure::noSourceConfigured, 0, "none"),
              ErrorCode::noLocationProvider, "orv.location", -1, "定位失败：none"},
    ErrorCase{"SystemDefaultFindsNothing", systemDefaultFindingNothing(),
              ErrorCode::providerFailure, "orv.location", -1,
              "定位失败：No system location source answered (tried gpsd at 127.0.0.1:2947 "
              "(connection refused))*"},
    ErrorCase{"ProviderFailure", startingWithStatus(4), ErrorCode::providerFailure,
              "orv.location", -1, "定位失败：no fix"},
    ErrorCase{"NoProvider", [](ErrorCodeTest& t) { LocationService::useNone(); t.start(); },
              ErrorCode::noLocationProvider, "orv.location", -1,
              "定位失败：No location provider is configured*"},
    ErrorCase{"NotBuildable", [](ErrorCodeTest& t) { t.client->getReverseCode(NAN, 116.4); },
              ErrorCode::requestNotBuildable, "EncodingError", -1, "*"},
    ErrorCase{"Unreachable",
              [](ErrorCodeTest& t) {
                const std::string port = std::to_string(unusedLoopbackPort());
                t.geocode("https://127.0.0.1:" + port, t.server.caFile());
              },
              ErrorCode::networkUnreachable, "CURLE", -1, "*"},
    // The system's CAs do not know ours.
    ErrorCase{"UntrustedCertificate", [](ErrorCodeTest& t) { t.geocode(t.server.baseUrl(), ""); },
              ErrorCode::tls, "CURLE", -1, "*"},
    ErrorCase{"ResetMidBody",
              [](ErrorCodeTest& t) {
                static RawServer raw(RawServer::Behaviour::resetMidBody);
                t.geocode(raw.baseUrl(), "");
              },
              ErrorCode::transportFailure, "CURLE", 200, "*"},
    ErrorCase{"ServerError", answering(500, "{}"), ErrorCode::httpStatus, "NetworkClient", 500,
              "请求失败，状态码: 500"},
    ErrorCase{"TooLarge",
              [](ErrorCodeTest& t) {
                detail::Transport::shared().setResponseBodyLimit(8);
                answering(200, kTwoHits)(t);
              },
              ErrorCode::responseTooLarge, "CURLE", 200, "*"},
    ErrorCase{"Undecodable", answering(200, "{}"), ErrorCode::decodingFailed, "NetworkError", 200,
              "数据解码失败"},
    ErrorCase{"Other2xx",
              [](ErrorCodeTest& t) {
                t.answer(std::string(detail::kTrackPointsPath), 202, kLocationAnswer);
                t.client->getReverseCode(39.9, 116.4);
              },
              ErrorCode::httpStatus, "NetworkClient", 202, "202"}),
    [](const auto& info) { return info.param.name; });
// clang-format on

TEST_F(ErrorCodeTest, TooManyRequestsCarriesRetryAfter) {
  server.handle(std::string(detail::kGeocodePath),
                [](const httplib::Request&, httplib::Response& res) {
                  res.status = 429;
                  res.set_header("Retry-After", "120");
                });
  geocode();
  ASSERT_TRUE(waitFor([&] { return !delegate->typed.empty(); }));
  EXPECT_EQ(delegate->typed[0].status, 429);
  EXPECT_EQ(delegate->typed[0].retryAfter, std::optional(120s));
}

TEST(RetryAfterTest, SecondsOrHttpDate) {
  const auto now = std::chrono::system_clock::from_time_t(784111777);  // 06 Nov 1994 08:49:37
  const std::pair<const char*, std::optional<std::chrono::seconds>> cases[] = {
      {" 120 ", 120s},
      {"Sun, 06 Nov 1994 08:50:07 GMT", 30s},
      {"Sun, 06 Nov 1994 08:00:00 GMT", 0s},
      {"1.5", std::nullopt},
      {"Sun, 06 Nov 1994 08:50:07 UTC", std::nullopt},
      {"Sun, 06 Foo 1994 08:50:07 GMT", std::nullopt}};
  for (const auto& [value, wait] : cases) {
    EXPECT_EQ(detail::parseRetryAfter(value, now), wait) << value;
  }
}

// Failures a test cannot provoke cheaply (a 30-second time-out) are typed by the same table; the
// domain and text play no part.
TEST(RequestErrorTest, RequestLayerKinds) {
  using detail::RequestFailure;
  const std::tuple<RequestFailure, int64_t, ErrorCode> cases[] = {
      {RequestFailure::transport, 28, ErrorCode::timedOut},
      {RequestFailure::transport, 7, ErrorCode::networkUnreachable},
      {RequestFailure::transport, 60, ErrorCode::tls},
      {RequestFailure::transport, 63, ErrorCode::responseTooLarge},
      {RequestFailure::transport, 56, ErrorCode::transportFailure},
      {RequestFailure::notBuildable, 1, ErrorCode::requestNotBuildable},
      {RequestFailure::noResponse, 2, ErrorCode::invalidResponse},
      {RequestFailure::status, 500, ErrorCode::httpStatus},
      {RequestFailure::undecodable, 4, ErrorCode::decodingFailed},
  };
  for (const auto& [kind, value, expected] : cases) {
    const auto e =
        detail::requestError(detail::requestFailure(kind, Error{"x", value, "m"}), nullptr, {});
    EXPECT_EQ(errorCodeName(e.code), errorCodeName(expected)) << value;
    EXPECT_EQ(e.domain, "x");
    EXPECT_EQ(e.message, "m");
  }
  // What the builder refused arrives as its own error, unchanged.
  EXPECT_EQ(detail::requestError(detail::NetworkError::invalidURL().toError(), nullptr, {}).code,
            ErrorCode::requestNotBuildable);
}

}  // namespace
}  // namespace orv::test
