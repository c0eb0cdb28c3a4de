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

// Every operation checks consent before the key and reports the refusal before it returns.
TEST_F(ClientTest, ConsentFirstThenKeyReportedSynchronously) {
  const std::function<void(OrvClientLocation&)> operations[] = {
      [](OrvClientLocation& c) { c.getTrackLocation(Location{}); },
      [](OrvClientLocation& c) { c.getReverseCode(39.9, 116.4); },
      [](OrvClientLocation& c) { c.getGeocCode("a", "b"); },
      [](OrvClientLocation& c) { c.poiKeySearch("n", "010", "c", 1, 20); },
      [](OrvClientLocation& c) { c.poiNearbySearch("k", "116.4,39.9", 100, "", "", 1, 20); },
      [](OrvClientLocation& c) { c.startLocation(); },
      [](OrvClientLocation& c) { c.startFastLocation(); },
  };
  for (size_t op = 0; op < std::size(operations); ++op) {
    for (bool agree : {false, true}) {
      OrvClientLocation client(delegate);
      client.setAgreePrivacy(agree);
      trace.events.clear();
      operations[op](client);
      const std::string message = agree ? "您未配置 Appkey" : "您未同意隐私政策";
      EXPECT_THAT(trace.events, ElementsAre(message, "delegate:error:" + message)) << op;
    }
    OrvClientLocation withoutDelegate(nullptr);
    trace.events.clear();
    operations[op](withoutDelegate);
    EXPECT_THAT(trace.events, ElementsAre("您未同意隐私政策")) << op;
  }
  RunLoop::main().runFor(std::chrono::milliseconds(100));
  EXPECT_EQ(server.receivedCount(), 0u);
}

TEST_F(ClientTest, TheKeySentIsTheLastInitKeyOfAnyClient) {
  answer(std::string(detail::kGeocodePath), 200, "[]");
  auto first = makeClient();
  auto second = makeClient();
  second->initKey("second-key");
  first->getGeocCode("a", "b");
  // A key given only through the property passes the gate, but the shared key travels.
  OrvClientLocation third(delegate);
  third.setAgreePrivacy(true);
  third.setAccesskey("property-key");
  third.getGeocCode("a", "b");
  settle(2);
  std::vector<std::string> keys;
  for (const auto& r : server.received()) keys.push_back(r.query.find("access_key")->second);
  EXPECT_EQ(keys, (std::vector<std::string>{"second-key", "second-key"}));
}

// The switch is read at every line: the banner ignores it, the option line follows it.
TEST_F(ClientTest, BannerIsWrittenAtEveryConstructionWhateverTheSwitch) {
  const std::string banner = "[orvLib] SDK版本: " + OrvVersion::sdkVersion() + " (build " +
                             OrvVersion::buildNumber() + ")";
  OrvClientLocation::setIsLogEnabled(false);
  { OrvClientLocation a(delegate); }
  OrvClientLocation::setIsLogEnabled(true);
  OrvClientLocation b(delegate);
  EXPECT_THAT(trace.events, ElementsAre(banner, "initOption：", banner));
}

TEST(MilliStampTest, HalvesRoundAwayFromZero) {
  EXPECT_EQ(detail::milliStampFromSeconds(0.0025), 3);
  EXPECT_EQ(detail::milliStampFromSeconds(-0.0025), -3);
  EXPECT_EQ(detail::milliStampFromSeconds(1700000000.1235), 1700000000124);
}

}  // namespace
}  // namespace orv::test
