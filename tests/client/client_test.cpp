// The client object: the consent-and-key gate, the shared key, logging and the banner, the clock.
#include "orv/client.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>

#include "client/client_state.h"
#include "client_fixture.h"
#include "network/service.h"
#include "orv/version.h"

namespace orv::test {
namespace {

using ::testing::ElementsAre;

struct Operation {
  std::string name;
  std::function<void(OrvClientLocation&)> run;
};

void PrintTo(const Operation& op, std::ostream* os) { *os << op.name; }

std::vector<Operation> gatedOperations() {
  Location fix;
  fix.coordinate = {39.9, 116.4};
  return {
      {"getTrackLocation", [fix](OrvClientLocation& c) { c.getTrackLocation(fix); }},
      {"getReverseCode", [](OrvClientLocation& c) { c.getReverseCode(39.9, 116.4); }},
      {"getGeocCode", [](OrvClientLocation& c) { c.getGeocCode("a", "b"); }},
      {"poiKeySearch", [](OrvClientLocation& c) { c.poiKeySearch("n", "010", "c", 1, 20); }},
      {"poiNearbySearch",
       [](OrvClientLocation& c) { c.poiNearbySearch("k", "116.4,39.9", 100, "", "", 1, 20); }},
      {"startLocation", [](OrvClientLocation& c) { c.startLocation(); }},
      {"startFastLocation", [](OrvClientLocation& c) { c.startFastLocation(); }},
  };
}

class GateTest : public ClientTest, public ::testing::WithParamInterface<Operation> {};

TEST_P(GateTest, ConsentFirstThenKeyReportedSynchronously) {
  struct Case {
    bool agree;
    bool key;
    std::string message;
  };
  for (const Case& c :
       {Case{false, false, "您未同意隐私政策"}, Case{false, true, "您未同意隐私政策"},
        Case{true, false, "您未配置 Appkey"}}) {
    OrvClientLocation client(delegate);
    client.setAgreePrivacy(c.agree);
    if (c.key) client.setAccesskey("k");
    trace.events.clear();
    GetParam().run(client);
    // Before any run of the main loop: the gate answers on the calling thread.
    EXPECT_THAT(trace.events, ElementsAre(c.message, "delegate:error:" + c.message));
  }
  RunLoop::main().runFor(std::chrono::milliseconds(100));
  EXPECT_EQ(server.receivedCount(), 0u);
}

TEST_P(GateTest, WithoutDelegateOnlyTheLogLineRemains) {
  OrvClientLocation client(nullptr);
  trace.events.clear();
  GetParam().run(client);
  EXPECT_THAT(trace.events, ElementsAre("您未同意隐私政策"));
}

INSTANTIATE_TEST_SUITE_P(Operations, GateTest, ::testing::ValuesIn(gatedOperations()),
                         [](const auto& info) { return info.param.name; });

TEST_F(ClientTest, TheKeySentIsTheLastInitKeyOfAnyClient) {
  answer(std::string(detail::kGeocodePath), 200, "[]");
  auto first = makeClient();
  auto second = makeClient();
  second->initKey("second-key");
  first->getGeocCode("a", "b");
  settle(1);

  // A key given only through the property passes the gate, but the shared key travels.
  OrvClientLocation third(delegate);
  third.setAgreePrivacy(true);
  third.setAccesskey("property-key");
  third.getGeocCode("a", "b");
  settle(2);

  // An empty key is a key like any other.
  first->initKey("");
  first->getGeocCode("a", "b");
  settle(3);

  auto received = server.received();
  ASSERT_EQ(received.size(), 3u);
  EXPECT_EQ(received[0].query.find("access_key")->second, "second-key");
  EXPECT_EQ(received[1].query.find("access_key")->second, "second-key");
  EXPECT_EQ(received[2].query.find("access_key")->second, "");
  EXPECT_EQ(OrvClientLocation::sharedAccessKey(), "");
  EXPECT_EQ(third.accesskey(), "property-key");
}

// The switch is read at every line: the banner ignores it, the option line follows it.
TEST_F(ClientTest, BannerIsWrittenAtEveryConstructionWhateverTheSwitch) {
  const std::string banner = "[orvLib] SDK版本: " + OrvVersion::sdkVersion() + " (build " +
                             OrvVersion::buildNumber() + ")";
  OrvClientLocation::setIsLogEnabled(false);
  { OrvClientLocation a(delegate); }
  { OrvClientLocation b(nullptr); }
  EXPECT_THAT(trace.events, ElementsAre(banner, banner));

  trace.events.clear();
  OrvClientLocation::setIsLogEnabled(true);
  OrvClientLocation c(delegate);
  EXPECT_THAT(trace.events, ElementsAre("initOption：", banner));
}

TEST(MilliStampTest, HalvesRoundAwayFromZero) {
  struct Case {
    double seconds;
    int64_t millis;
  };
  for (Case c :
       {Case{0.0, 0}, Case{0.0015, 2}, Case{0.0025, 3}, Case{-0.0025, -3}, Case{1.0005, 1001},
        Case{1700000000.1235, 1700000000124}, Case{1700000000.1234, 1700000000123}}) {
    EXPECT_EQ(detail::milliStampFromSeconds(c.seconds), c.millis) << c.seconds;
  }
}

}  // namespace
}  // namespace orv::test
