// Fusion location and reverse geocoding against a loopback HTTPS service: bodies, query items and
// the outcome rules they share.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <regex>

#include "client/client_state.h"
#include "client/request_fill.h"
#include "client_fixture.h"
#include "network/service.h"
#include "orv/device.h"

namespace orv::test {
namespace {

using ::testing::ElementsAre;
using Query = std::multimap<std::string, std::string>;

const std::regex kUuid("[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}");

Location fixAt(double latitude, double longitude) {
  Location fix;
  fix.coordinate = {latitude, longitude};
  return fix;
}

TEST_F(ClientTest, TrackRequestCarriesDeviceFactsIdsAndQuery) {
  answer(std::string(detail::kTrackPointsPath), 200, kLocationAnswer);
  DeviceOverrides device;
  device.model = "Board 7";
  device.systemName = "Debian GNU/Linux";
  device.manufacturer = "Acme";
  setDeviceOverrides(device);
  auto client = makeClient();
  trace.events.clear();
  const int64_t before = detail::currentMilliStamp();
  client->getTrackLocation(fixAt(39.9, 116.4));
  ASSERT_TRUE(waitFor([&] { return delegate->calls == 1; }));
  setDeviceOverrides({});
  const auto r = server.received().at(0);
  EXPECT_EQ(r.method, "POST");
  EXPECT_EQ(r.header("Content-Type"), "application/json");
  EXPECT_EQ(
      r.query,
      (Query{{"access_key", "test-key"}, {"needAddress", "true"}, {"response_sprf", "gcj02"}}));
  EXPECT_THAT(r.body, ::testing::AllOf(::testing::HasSubstr(R"("manufacturer":"Acme")"),
                                       ::testing::HasSubstr(R"("model":"Board 7")"),
                                       ::testing::HasSubstr(R"("type":"Debian GNU/Linux")")));
  std::smatch m;
  const std::regex stampAndId(R"re(^\{"timestamp":(\d+),.*?"id":"([^"]+)")re");
  ASSERT_TRUE(std::regex_search(r.body, m, stampAndId)) << r.body;
  EXPECT_GE(std::stoll(m[1].str()), before);
  EXPECT_TRUE(std::regex_match(m[2].str(), kUuid)) << r.body;
  // The body is logged as sent, after an empty line.
  EXPECT_THAT(trace.events, ElementsAre("\n融合定位请求Body:", r.body, "融合定位成功，状态码: 200",
                                        "delegate:location"));
}

TEST(RequestFillTest, GnssFollowsTheFillRules) {
  auto fix = [](double alt, double hacc, double vacc, double speed) {
    return Location{{39.9, 116.4}, alt, hacc, vacc, speed};
  };
  const std::string point = R"({"point":{"longitude":116.4,"latitude":39.9},)";
  EXPECT_EQ(detail::makeTrackRequest(fix(0, NAN, 3, 0), {}).location.gnss.toJson().value(),
            point + R"("accuracy":0.0,"altitude":0.0,"verticalAccuracy":3.0,"velocity":0.0})");
  EXPECT_EQ(detail::makeTrackRequest(fix(-20, 35.2, -1, NAN), {}).location.gnss.toJson().value(),
            point + R"("accuracy":35.2,"altitude":-20.0})");
}

TEST(RequestFillTest, AssetIdFallsBackToAFreshUuid) {
  detail::DeviceFacts device;
  const std::string a = detail::makeTrackRequest(fixAt(1, 2), device).asset.id;
  EXPECT_TRUE(std::regex_match(a, kUuid)) << a;
  EXPECT_NE(a, detail::makeTrackRequest(fixAt(1, 2), device).asset.id);
  device.vendorIdentifier = "0F8E1A7C-3B52-4D8E-9A61-2C7B5E4F3D10";
  EXPECT_EQ(detail::assetId(device), *device.vendorIdentifier);
}

// Both operations that answer with a LocationRes: only exactly 200 reaches the host.
TEST_F(ClientTest, LocationAnswersReachTheHostOnlyWith200) {
  struct Op {
    std::function<void(OrvClientLocation&)> call;
    std::string event;
    std::string label;  // of the outcome's log line
  };
  const Op ops[] = {
      {[](OrvClientLocation& c) { c.getTrackLocation(fixAt(39.9, 116.4)); }, "delegate:location",
       "融合定位"},
      {[](OrvClientLocation& c) { c.getReverseCode(39.9, 116.4); }, "delegate:reverse",
       "逆地理编码"},
  };
  auto client = makeClient();
  for (const Op& op : ops) {
    auto outcome = [&](int status, const char* body) {
      answer(std::string(detail::kTrackPointsPath), status, body);
      trace.events.clear();
      const size_t before = delegate->calls;
      op.call(*client);
      EXPECT_EQ(delegate->calls, before) << "reported inside the call";
      EXPECT_TRUE(waitFor([&] { return delegate->calls > before; }));
      std::erase_if(trace.events,
                    [](const std::string& e) { return e.starts_with("\n") || e.starts_with("{"); });
      return trace.events;
    };
    EXPECT_THAT(outcome(200, kLocationAnswer),
                ElementsAre(op.label + "成功，状态码: 200", op.event));
    EXPECT_EQ(delegate->locations.back()->location()->place()->name(), "Example Tower");
    EXPECT_THAT(outcome(201, kLocationAnswer),
                ElementsAre(op.label + "成功，状态码: 201", "delegate:error:201"));
    EXPECT_THAT(
        outcome(500, "{}"),
        ElementsAre(op.label + "失败: NetworkClient 500: 请求失败，状态码: 500，状态码: 500",
                    "delegate:error:请求失败，状态码: 500"));
    // A required key missing: the decoding failure, with the status of the answer.
    EXPECT_THAT(outcome(200, R"({"id":"r","asset":"a"})"),
                ElementsAre(::testing::HasSubstr("解析错误："),
                            op.label + "失败: NetworkError 4: 数据解码失败，状态码: 200",
                            "delegate:error:数据解码失败"));
  }
}

TEST_F(ClientTest, ReverseSendsThePointInGcj02WithTwoQueryItems) {
  answer(std::string(detail::kReverseGeocodePath), 200, kLocationAnswer);
  auto client = makeClient();
  trace.events.clear();
  const int64_t before = detail::currentMilliStamp();
  client->getReverseCode(39.9, 116.4);
  ASSERT_TRUE(waitFor([&] { return delegate->calls == 1; }));
  const auto r = server.received().at(0);
  EXPECT_EQ(r.method, "POST");
  EXPECT_EQ(r.query, (Query{{"access_key", "test-key"}, {"response_sprf", "gcj02"}}));
  std::smatch m;
  ASSERT_TRUE(std::regex_match(
      r.body, m,
      std::regex(R"re(\{"asset":"[^"]+","location":\{"position":\{"point":)re"
                 R"re(\{"longitude":116.4,"latitude":39.9\},"spatialReference":"gcj02"\}\},)re"
                 R"re("timestamp":(\d+),"id":"([^"]+)"\})re")))
      << r.body;
  EXPECT_GE(std::stoll(m[1].str()), before);
  EXPECT_TRUE(std::regex_match(m[2].str(), kUuid));
  EXPECT_EQ(trace.count("\n逆地理编码请求Body:"), 1u);
}

}  // namespace
}  // namespace orv::test
