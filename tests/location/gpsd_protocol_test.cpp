#include "location/gpsd_protocol.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace orv::detail {
namespace {

using std::chrono::system_clock;
using K = GpsdMessage::Kind;
const system_clock::time_point kNow = system_clock::time_point(std::chrono::seconds(1000));
const std::string kTpv = R"({"class":"TPV","mode":3,"lat":39.9,"lon":116.4)";

// One row per rule of the TPV mapping; fields are lat, lon, altitude, hacc, vacc, speed, course.
TEST(GpsdProtocolTest, TpvMapsToALocationOrSkips) {
  const std::tuple<const char*, std::string, K, std::vector<double>> cases[] = {
      // clang-format off
      {"Full", kTpv + R"(,"altMSL":50,"alt":60,"eph":17.1,"epx":3,"epv":9,"speed":0.25,"track":90})",
       K::fix, {39.9, 116.4, 50, 17.1, 9, 0.25, 90}},
      {"AltWithoutMsl", kTpv + R"(,"alt":60,"epv":9})", K::fix, {39.9, 116.4, 60, -1, 9, -1, -1}},
      {"NoAltitudeNoVertical", kTpv + R"(,"epv":9})", K::fix, {39.9, 116.4, 0, -1, -1, -1, -1}},
      {"LargerOfEpxEpy", kTpv + R"(,"epx":3,"epy":4.5})", K::fix, {39.9, 116.4, 0, 4.5, -1, -1, -1}},
      {"Mode2", R"({"class":"TPV","mode":2,"lat":-33.5,"lon":-70.25})", K::fix, {-33.5, -70.25, 0, -1, -1, -1, -1}},
      {"Mode1NoFix", R"({"class":"TPV","mode":1,"lat":39.9,"lon":116.4})", K::other, {}},
      {"NoLon", R"({"class":"TPV","mode":3,"lat":39.9})", K::skipped, {}},
      {"LatOutOfRange", R"({"class":"TPV","mode":3,"lat":90.5,"lon":116.4})", K::skipped, {}},
      {"InvalidUtf8", "{\"class\":\"TPV\",\"device\":\"\xff\xfe\",\"mode\":3,\"lat\":1,\"lon\":1}", K::skipped, {}},
      {"Sky", R"({"class":"SKY","satellites":[]})", K::other, {}},
      // clang-format on
  };
  simdjson::dom::parser parser;
  for (const auto& [name, line, kind, fields] : cases) {
    const GpsdMessage m = readGpsdLine(line, parser, kNow);
    EXPECT_EQ(m.kind, kind) << name << ": " << m.detail;
    if (m.kind != K::fix) continue;
    const Location& f = m.fix;
    EXPECT_EQ((std::vector{f.coordinate.latitude, f.coordinate.longitude, f.altitude,
                           f.horizontalAccuracy, f.verticalAccuracy, f.speed, f.course}),
              fields)
        << name;
  }
}

TEST(GpsdProtocolTest, ReadsTheTimeOrFallsBackToReceipt) {
  simdjson::dom::parser parser;
  auto fix = readGpsdLine(kTpv + R"(,"time":"2026-12-07T00:37:20.125Z"})", parser, kNow).fix;
  EXPECT_EQ(fix.timestamp, *parseGpsdTime("2026-12-07T00:37:20.125Z"));
  EXPECT_EQ(readGpsdLine(kTpv + R"(,"time":"yesterday"})", parser, kNow).fix.timestamp, kNow);
  EXPECT_EQ(readGpsdLine(kTpv + "}", parser, kNow).fix.timestamp, kNow);
}

TEST(GpsdProtocolTest, ParsesIsoTimes) {
  using namespace std::chrono;
  EXPECT_EQ(parseGpsdTime("2000-03-01T12:30:15.5Z"),
            system_clock::time_point(seconds(951913815) + milliseconds(500)));
  for (const char* bad : {"2000-02-30T00:00:00Z", "2000-03-01T24:00:00Z", "2000-03-01 12:30:15Z",
                          "2000-03-01T12:30:15.Z", "2000-03-01T12:3x:15Z", "0009-03-01T12:30:15Z",
                          "9999-03-01T12:30:15Z"}) {
    EXPECT_FALSE(parseGpsdTime(bad)) << bad;
  }
}

TEST(GpsdLineSplitterTest, JoinsSplitLinesAndDropsOverlongOnes) {
  GpsdLineSplitter splitter;
  std::vector<std::string> lines;
  const auto collect = [&](std::string_view line, bool overlong) {
    lines.push_back(overlong ? "<overlong>" : std::string(line));
  };
  splitter.feed("{\"a\":1}\r\n{\"b\"", collect);
  splitter.feed(":2}", collect);
  splitter.feed("\n\n\r\n", collect);
  const std::string huge(kMaxGpsdLine + 1, 'x');
  splitter.feed(huge.substr(0, 40000), collect);
  splitter.feed(huge.substr(40000) + "tail", collect);  // still the same line
  splitter.feed("\nnext\n", collect);
  splitter.feed(std::string(kMaxGpsdLine, 'y') + "\r\n", collect);  // exactly at the limit
  EXPECT_EQ(lines, (std::vector<std::string>{"{\"a\":1}", "{\"b\":2}", "<overlong>", "next",
                                             std::string(kMaxGpsdLine, 'y')}));
}

}  // namespace
}  // namespace orv::detail
