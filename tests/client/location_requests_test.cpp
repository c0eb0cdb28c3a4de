// Fusion location and reverse geocoding against a loopback HTTPS service: bodies, query items and
// the outcome rules they share.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
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
  EXPECT_EQ(r.path, detail::kTrackPointsPath);
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
  EXPECT_THAT(trace.logLines(),
              ElementsAre("\n融合定位请求Body:", r.body, "融合定位成功，状态码: 200"));
}

TEST(RequestFillTest, GnssFollowsTheFillRules) {
  auto fix = [](double hacc, double vacc, double speed, double alt) {
    Location l = fixAt(39.9, 116.4);
    l.horizontalAccuracy = hacc;
    l.verticalAccuracy = vacc;
    l.speed = speed;
    l.altitude = alt;
    return l;
  };
  const std::string point = R"({"point":{"longitude":116.4,"latitude":39.9},)";
  EXPECT_EQ(detail::makeTrackRequest(fix(NAN, 3, 0, 0), {}).location.gnss.toJson().value(),
            point + R"("accuracy":0.0,"altitude":0.0,"verticalAccuracy":3.0,"velocity":0.0})");
  EXPECT_EQ(detail::makeTrackRequest(fix(35.2, -1, NAN, -20), {}).location.gnss.toJson().value(),
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

// One description for both operations that answer with a LocationRes.
struct LocationOp {
  std::string name;
  std::function<void(OrvClientLocation&)> call;
  std::string successEvent;
  std::string failureLabel;
  std::string successLabel;
};

void PrintTo(const LocationOp& op, std::ostream* os) { *os << op.name; }

class LocationOutcomeTest : public ClientTest, public ::testing::WithParamInterface<LocationOp> {
 protected:
  // Runs the operation once against the given answer and returns the trace of its outcome.
  std::vector<std::string> outcome(OrvClientLocation& client, int status, const char* body) {
    answer(std::string(detail::kTrackPointsPath), status, body);
    trace.events.clear();
    const size_t before = delegate->calls;
    GetParam().call(client);
    EXPECT_EQ(delegate->calls, before) << "reported inside the call";
    EXPECT_TRUE(waitFor([&] { return delegate->calls > before; }));
    std::erase_if(trace.events,
                  [](const std::string& e) { return e.starts_with("\n") || e.starts_with("{"); });
    return trace.events;
  }
};

TEST_P(LocationOutcomeTest, OnlyExactly200ReachesTheHost) {
  const LocationOp& op = GetParam();
  auto client = makeClient();
  EXPECT_THAT(outcome(*client, 200, kLocationAnswer),
              ElementsAre(op.successLabel + "200", op.successEvent));
  EXPECT_EQ(delegate->locations.at(0)->location()->place()->name(), "Example Tower");
  EXPECT_THAT(outcome(*client, 201, kLocationAnswer),
              ElementsAre(op.successLabel + "201", "delegate:error:201"));
  EXPECT_THAT(outcome(*client, 500, "{}"),
              ElementsAre(op.failureLabel + "NetworkClient 500: 请求失败，状态码: 500，状态码: 500",
                          "delegate:error:请求失败，状态码: 500"));
  // A required key missing: the decoding failure, with the status of the answer.
  EXPECT_THAT(outcome(*client, 200, R"({"id":"r","asset":"a"})"),
              ElementsAre(::testing::HasSubstr("解析错误："),
                          op.failureLabel + "NetworkError 4: 数据解码失败，状态码: 200",
                          "delegate:error:数据解码失败"));
}

TEST_P(LocationOutcomeTest, DestroyedClientGetsNothing) {
  answer(std::string(detail::kTrackPointsPath), 200, kLocationAnswer);
  auto client = makeClient();
  GetParam().call(*client);
  client.reset();
  trace.events.clear();
  settle(1);
  EXPECT_EQ(delegate->calls, 0u);
  EXPECT_TRUE(trace.events.empty()) << trace.events.front();
}

INSTANTIATE_TEST_SUITE_P(
    Operations, LocationOutcomeTest,
    ::testing::Values(
        LocationOp{"Track", [](OrvClientLocation& c) { c.getTrackLocation(fixAt(39.9, 116.4)); },
                   "delegate:location", "融合定位失败: ", "融合定位成功，状态码: "},
        LocationOp{"Reverse", [](OrvClientLocation& c) { c.getReverseCode(39.9, 116.4); },
                   "delegate:reverse", "逆地理编码失败: ", "逆地理编码成功，状态码: "}),
    [](const auto& info) { return info.param.name; });

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
