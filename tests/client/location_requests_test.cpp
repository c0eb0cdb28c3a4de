// Fusion location and reverse geocoding against a loopback HTTPS service: bodies, query items and
// the outcome rules they share.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <regex>

#include "client/request_fill.h"
#include "client_fixture.h"
#include "network/service.h"
#include "orv/device.h"

namespace orv::test {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

bool isUuidText(const std::string& text) {
  static const std::regex form("[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}");
  return std::regex_match(text, form);
}

std::string jsonText(const std::string& body, const std::string& key) {
  const std::regex field("\"" + key + "\":\"([^\"]*)\"");
  std::smatch m;
  return std::regex_search(body, m, field) ? m[1].str() : std::string("<absent>");
}

int64_t nowMillis() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

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
  const int64_t before = nowMillis();
  client->getTrackLocation(fixAt(39.9, 116.4));
  client->getTrackLocation(fixAt(39.9, 116.4));
  ASSERT_TRUE(waitFor([&] { return delegate->calls == 2; }));
  setDeviceOverrides({});
  const auto received = server.received();
  ASSERT_EQ(received.size(), 2u);
  for (const auto& r : received) {
    EXPECT_EQ(r.method, "POST");
    EXPECT_EQ(r.path, detail::kTrackPointsPath);
    EXPECT_EQ(r.header("Content-Type"), "application/json");
    EXPECT_EQ(r.query, (std::multimap<std::string, std::string>{{"access_key", "test-key"},
                                                                {"needAddress", "true"},
                                                                {"response_sprf", "gcj02"}}));
    EXPECT_EQ(jsonText(r.body, "manufacturer"), "Acme");
    EXPECT_EQ(jsonText(r.body, "model"), "Board 7");
    EXPECT_EQ(jsonText(r.body, "type"), "Debian GNU/Linux");
    EXPECT_TRUE(isUuidText(jsonText(r.body, "id"))) << r.body;
    std::smatch m;
    ASSERT_TRUE(std::regex_search(r.body, m, std::regex(R"(^\{"timestamp":(\d+),)"))) << r.body;
    EXPECT_GE(std::stoll(m[1].str()), before);
  }
  EXPECT_NE(jsonText(received[0].body, "id"), jsonText(received[1].body, "id"));
  // Each body is logged as sent, after an empty line.
  const auto lines = trace.logLines();
  ASSERT_GE(lines.size(), 4u);
  EXPECT_EQ(lines[0], "\n融合定位请求Body:");
  EXPECT_EQ(lines[2], "\n融合定位请求Body:");
  EXPECT_THAT((std::vector<std::string>{lines[1], lines[3]}),
              ::testing::UnorderedElementsAre(received[0].body, received[1].body));
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
  const std::string point = R"({"point":{"longitude":116.4,"latitude":39.9})";
  struct Case {
    Location fix;
    std::string gnss;
  };
  for (const Case& c : {
           Case{fix(-5, 0, -1, 12.5), point + R"(,"accuracy":0.0,"altitude":12.5})"},
           Case{fix(NAN, 3, 0, 0),
                point + R"(,"accuracy":0.0,"altitude":0.0,"verticalAccuracy":3.0,"velocity":0.0})"},
           Case{fix(35.2, -1, 1.5, -20),
                point + R"(,"accuracy":35.2,"altitude":-20.0,"velocity":1.5})"},
           Case{fix(0, NAN, NAN, 0), point + R"(,"accuracy":0.0,"altitude":0.0})"},
           // Zero coordinates are the run's concern; a fix given directly is sent as it is.
           Case{fixAt(0, 0),
                R"({"point":{"longitude":0.0,"latitude":0.0},"accuracy":0.0,"altitude":0.0})"},
       }) {
    EXPECT_EQ(detail::makeTrackRequest(c.fix, {}).location.gnss.toJson().value(), c.gnss);
  }
}

TEST(RequestFillTest, AssetIdFallsBackToAFreshUuid) {
  detail::DeviceFacts device;
  const std::string a = detail::makeTrackRequest(fixAt(1, 2), device).asset.id;
  const std::string b = detail::makeTrackRequest(fixAt(1, 2), device).asset.id;
  EXPECT_TRUE(isUuidText(a)) << a;
  EXPECT_NE(a, b);
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
  // Runs the operation once and returns the trace of its outcome.
  std::vector<std::string> outcome(OrvClientLocation& client) {
    trace.events.clear();
    const size_t before = delegate->calls;
    GetParam().call(client);
    EXPECT_EQ(delegate->calls, before) << "reported inside the call";
    EXPECT_TRUE(waitFor([&] { return delegate->calls > before; }));
    std::vector<std::string> out;
    for (const auto& e : trace.events) {
      if (!e.starts_with("\n") && !e.starts_with("{")) out.push_back(e);  // body lines
    }
    return out;
  }
};

TEST_P(LocationOutcomeTest, OnlyExactly200ReachesTheHost) {
  const LocationOp& op = GetParam();
  const std::string path(detail::kTrackPointsPath);
  auto client = makeClient();

  answer(path, 200, kLocationAnswer);
  EXPECT_THAT(outcome(*client), ElementsAre(op.successLabel + "200", op.successEvent));
  ASSERT_EQ(delegate->locations.size(), 1u);
  EXPECT_EQ(delegate->locations[0]->location()->place()->name(), "Example Tower");

  answer(path, 201, kLocationAnswer);
  EXPECT_THAT(outcome(*client), ElementsAre(op.successLabel + "201", "delegate:error:201"));

  answer(path, 500, "{}");
  EXPECT_THAT(outcome(*client),
              ElementsAre(op.failureLabel + "NetworkClient 500: 请求失败，状态码: 500，状态码: 500",
                          "delegate:error:请求失败，状态码: 500"));

  // A required key missing: the decoding failure, with the status of the answer.
  answer(path, 200, R"({"id":"r","asset":"a"})");
  EXPECT_THAT(outcome(*client),
              ElementsAre(HasSubstr("解析错误："),
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
  const int64_t before = nowMillis();
  client->getReverseCode(39.9, 116.4);
  client->getReverseCode(0, 0);
  ASSERT_TRUE(waitFor([&] { return delegate->calls == 2; }));
  const auto received = server.received();
  ASSERT_EQ(received.size(), 2u);
  std::vector<std::string> points;
  for (const auto& r : received) {
    EXPECT_EQ(r.method, "POST");
    EXPECT_EQ(r.query, (std::multimap<std::string, std::string>{{"access_key", "test-key"},
                                                                {"response_sprf", "gcj02"}}));
    std::smatch m;
    ASSERT_TRUE(std::regex_match(
        r.body, m,
        std::regex(R"re(\{"asset":"[^"]+","location":\{"position":\{"point":(\{[^}]*\}),)re"
                   R"re("spatialReference":"gcj02"\}\},"timestamp":(\d+),"id":"([^"]+)"\})re")))
        << r.body;
    points.push_back(m[1].str());
    EXPECT_GE(std::stoll(m[2].str()), before);
    EXPECT_TRUE(isUuidText(m[3].str()));
  }
  EXPECT_THAT(points, ::testing::UnorderedElementsAre(R"({"longitude":116.4,"latitude":39.9})",
                                                      R"({"longitude":0.0,"latitude":0.0})"));
  EXPECT_EQ(trace.count("\n逆地理编码请求Body:"), 2u);
}

TEST_F(ClientTest, ReverseOfANonFiniteCoordinateFailsOnTheMainQueueWithoutSending) {
  auto client = makeClient();
  trace.events.clear();
  client->getReverseCode(NAN, 116.4);
  client->getReverseCode(39.9, INFINITY);
  EXPECT_TRUE(delegate->errors.empty());
  ASSERT_TRUE(waitFor([&] { return delegate->errors.size() == 2; }));
  EXPECT_EQ(server.receivedCount(), 0u);
  const auto lines = trace.logLines();
  ASSERT_EQ(lines.size(), 2u);
  for (size_t i = 0; i < 2; ++i) {
    EXPECT_TRUE(lines[i].starts_with("逆地理编码失败: ")) << lines[i];
    EXPECT_TRUE(lines[i].ends_with(delegate->errors[i] + "，状态码: -1")) << lines[i];
  }
}

TEST_F(ClientTest, WithoutDelegateOnlyLogLinesAreProduced) {
  answer(std::string(detail::kTrackPointsPath), 201, kLocationAnswer);
  auto client = makeClient(nullptr);
  client->getTrackLocation(fixAt(39.9, 116.4));
  ASSERT_TRUE(waitFor([&] { return trace.count("融合定位成功，状态码: 201") == 1; }));
}

}  // namespace
}  // namespace orv::test
