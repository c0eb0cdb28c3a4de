// The kind each provider gives its failures: the host's error code follows the kind, never the
// text, so every way a source fails must carry the right one.
#include <gtest/gtest.h>

#include <functional>

#include "fake_gpsd.h"
#include "location/gpsd_provider.h"
#include "location/system_provider.h"
#include "manager_fixture.h"
#include "test_server.h"

namespace orv::detail {
namespace {

using namespace std::chrono_literals;
using test::FakeGpsd;

const GpsdTiming kFast{10ms, 40ms, 150ms, 500ms};
const std::string kVersion = R"({"class":"VERSION","release":"3.22","proto_major":3})"
                             "\r\n";
const std::string kFix =
    R"({"class":"TPV","mode":3,"lat":39.9,"lon":116.4,"time":"2026-12-07T00:00:01.000Z"})"
    "\r\n";

class FailureKindTest : public ManagerTest {
 public:
  void useGpsd() {
    LocationService::use(
        std::make_shared<GpsdProvider>(GpsdOptions{"127.0.0.1", gpsd.port()}, kFast));
  }
  std::string unusedPort() const { return std::to_string(test::unusedLoopbackPort()); }
  FakeGpsd gpsd;
};

struct KindCase {
  const char* name;
  std::function<void(FailureKindTest&)> choose;  // before the start
  std::function<void(FailureKindTest&)> serve;   // after it; may be empty
  LocationFailure kind;
  std::string textBegins;
};

void PrintTo(const KindCase& c, std::ostream* os) { *os << c.name; }

class FailureKinds : public FailureKindTest, public ::testing::WithParamInterface<KindCase> {};

TEST_P(FailureKinds, CarryTheirKind) {
  const KindCase& c = GetParam();
  c.choose(*this);
  manager->startUpdatingLocation();
  if (c.serve) whileLooping([&] { c.serve(*this); });
  ASSERT_TRUE(waitForError());
  EXPECT_EQ(delegate->kinds[0], c.kind) << delegate->errors[0];
  EXPECT_TRUE(delegate->errors[0].starts_with(c.textBegins)) << delegate->errors[0];
}

using K = LocationFailure;
using T = FailureKindTest;

INSTANTIATE_TEST_SUITE_P(
    Providers, FailureKinds,
    ::testing::Values(
        KindCase{"NoProvider",
                 [](T&) { LocationService::useNone(); },
                 {},
                 K::noSourceConfigured,
                 "No location provider is configured"},
        KindCase{"SystemDefaultFindsNothing",
                 [](T& t) {
                   const GpsdOptions absent{"127.0.0.1",
                                            static_cast<uint16_t>(test::unusedLoopbackPort())};
                   LocationService::use(
                       std::make_shared<SystemProvider>(std::vector{SystemCandidate{
                           "gpsd", [absent] { return probeTcp(absent, 1s); },
                           [absent] { return std::make_shared<GpsdProvider>(absent); }}}));
                   (void)t;
                 },
                 {},
                 K::sourceUnreachable,
                 "No system location source answered"},
        KindCase{"GpsdRefused",
                 [](T& t) { t.gpsd.stopListening(), t.useGpsd(); },
                 {},
                 K::sourceUnreachable,
                 "cannot connect to gpsd"},
        KindCase{"GpsdSilent", [](T& t) { t.useGpsd(); },
                 [](T& t) { ASSERT_TRUE(t.gpsd.accept()); }, K::sourceUnreachable, "gpsd at"},
        KindCase{"GpsdSpeaksSomethingElse", [](T& t) { t.useGpsd(); },
                 [](T& t) {
                   ASSERT_TRUE(t.gpsd.accept());
                   t.gpsd.send("SSH-2.0-OpenSSH_9.2\r\n");
                 },
                 K::protocolError, "the server at"},
        KindCase{"GpsdWrongProtocol", [](T& t) { t.useGpsd(); },
                 [](T& t) {
                   ASSERT_TRUE(t.gpsd.accept());
                   t.gpsd.greet(2);
                 },
                 K::protocolError, "gpsd at"},
        KindCase{"GpsdClosesAfterVersion", [](T& t) { t.useGpsd(); },
                 [](T& t) {
                   ASSERT_TRUE(t.gpsd.accept());
                   t.gpsd.send(kVersion);
                   t.gpsd.disconnect();
                 },
                 K::sourceLost, "lost the connection to gpsd"},
        KindCase{"GpsdGoneForGood", [](T& t) { t.useGpsd(); },
                 [](T& t) {
                   ASSERT_TRUE(t.gpsd.accept());
                   t.gpsd.greet();
                   t.gpsd.send(kFix);  // worked: the watch was answered
                   t.gpsd.stopListening();
                   t.gpsd.disconnect();
                 },
                 K::sourceLost, "lost the connection to gpsd"},
        KindCase{"NmeaDeviceMissing",
                 [](T&) { ASSERT_TRUE(LocationService::useNmea({"/dev/orv-no-such"}).ok()); },
                 {},
                 K::sourceUnreachable,
                 "cannot open NMEA device"},
        KindCase{"NmeaTcpRefused",
                 [](T& t) {
                   ASSERT_TRUE(LocationService::useNmea({"tcp:127.0.0.1:" + t.unusedPort()}).ok());
                 },
                 {},
                 K::sourceUnreachable,
                 "cannot connect to NMEA source"},
        KindCase{"NmeaTcpClosesBeforeData",
                 [](T& t) {
                   ASSERT_TRUE(
                       LocationService::useNmea({"tcp:127.0.0.1:" + std::to_string(t.gpsd.port())})
                           .ok());
                 },
                 [](T& t) {
                   ASSERT_TRUE(t.gpsd.accept());
                   t.gpsd.disconnect();
                 },
                 K::sourceUnreachable, "NMEA source at"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace orv::detail
