#include "platform/location/gpsd_protocol.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace orv::detail {
namespace {

using std::chrono::system_clock;
const system_clock::time_point kNow = system_clock::time_point(std::chrono::seconds(1000));

struct TpvCase {
  const char* name;
  std::string line;
  GpsdMessage::Kind kind;
  // For fixes: lat, lon, altitude, hacc, vacc, speed, course.
  std::vector<double> fields;
};

void PrintTo(const TpvCase& c, std::ostream* os) { *os << c.name; }

class TpvTest : public ::testing::TestWithParam<TpvCase> {};

TEST_P(TpvTest, MapsToALocationOrSkips) {
  const TpvCase& c = GetParam();
  simdjson::dom::parser parser;
  const GpsdMessage m = readGpsdLine(c.line, parser, kNow);
  ASSERT_EQ(m.kind, c.kind) << m.detail;
  if (c.kind != GpsdMessage::Kind::fix) return;
  const Location& f = m.fix;
  EXPECT_EQ((std::vector<double>{f.coordinate.latitude, f.coordinate.longitude, f.altitude,
                                 f.horizontalAccuracy, f.verticalAccuracy, f.speed, f.course}),
            c.fields);
}

using K = GpsdMessage::Kind;
const std::string kTpv = R"({"class":"TPV","mode":3,"lat":39.9,"lon":116.4)";

// clang-format off
INSTANTIATE_TEST_SUITE_P(Lines, TpvTest, ::testing::Values(
    TpvCase{"Full", kTpv + R"(,"altMSL":50,"alt":60,"altHAE":70,"eph":17.1,"epx":3,"epv":9,"speed":0.25,"track":90})",
            K::fix, {39.9, 116.4, 50, 17.1, 9, 0.25, 90}},
    TpvCase{"AltWithoutMsl", kTpv + R"(,"alt":60,"epv":9})", K::fix, {39.9, 116.4, 60, -1, 9, -1, -1}},
    TpvCase{"NoAltitudeNoVertical", kTpv + R"(,"epv":9})", K::fix, {39.9, 116.4, 0, -1, -1, -1, -1}},
    TpvCase{"LargerOfEpxEpy", kTpv + R"(,"epx":3,"epy":4.5})", K::fix, {39.9, 116.4, 0, 4.5, -1, -1, -1}},
    TpvCase{"Mode2", R"({"class":"TPV","mode":2,"lat":-33.5,"lon":-70.25})", K::fix, {-33.5, -70.25, 0, -1, -1, -1, -1}},
    TpvCase{"Mode1NoFix", R"({"class":"TPV","mode":1,"lat":39.9,"lon":116.4})", K::other, {}},
    TpvCase{"NoLon", R"({"class":"TPV","mode":3,"lat":39.9})", K::skipped, {}},
    TpvCase{"LatOutOfRange", R"({"class":"TPV","mode":3,"lat":90.5,"lon":116.4})", K::skipped, {}},
    TpvCase{"InvalidUtf8", "{\"class\":\"TPV\",\"device\":\"\xff\xfe\",\"mode\":3,\"lat\":1,\"lon\":1}", K::skipped, {}},
    TpvCase{"Sky", R"({"class":"SKY","satellites":[]})", K::other, {}}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

TEST(GpsdProtocolTest, ReadsTheTimeOrFallsBackToReceipt) {
  simdjson::dom::parser parser;
  auto fix = readGpsdLine(kTpv + R"(,"time":"2026-12-07T00:37:20.125Z"})", parser, kNow).fix;
  EXPECT_EQ(fix.timestamp, *parseGpsdTime("2026-12-07T00:37:20.125Z"));
  EXPECT_EQ(readGpsdLine(kTpv + R"(,"time":"yesterday"})", parser, kNow).fix.timestamp, kNow);
  EXPECT_EQ(readGpsdLine(kTpv + "}", parser, kNow).fix.timestamp, kNow);
}

TEST(GpsdProtocolTest, ParsesIsoTimes) {
  using namespace std::chrono;
  EXPECT_EQ(parseGpsdTime("1970-01-01T00:00:01Z"), system_clock::time_point(seconds(1)));
  EXPECT_EQ(parseGpsdTime("2000-03-01T12:30:15.5Z"),
            system_clock::time_point(seconds(951913815) + milliseconds(500)));
  for (const char* bad : {"2000-02-30T00:00:00Z", "2000-03-01T24:00:00Z", "2000-03-01 12:30:15Z",
                          "2000-03-01T12:30:15.Z", "2000-03-01T12:3x:15Z", "0009-03-01T12:30:15Z",
                          "9999-03-01T12:30:15Z"}) {
    EXPECT_FALSE(parseGpsdTime(bad)) << bad;
  }
}

TEST(GpsdProtocolTest, ReadsVersionWatchAndError) {
  simdjson::dom::parser parser;
  auto m = readGpsdLine(R"({"class":"VERSION","release":"3.22","proto_major":3})", parser, kNow);
  EXPECT_EQ(m.kind, K::version);
  EXPECT_EQ(m.protoMajor, 3);
  m = readGpsdLine(R"({"class":"WATCH","enable":true,"json":false})", parser, kNow);
  EXPECT_EQ(m.kind, K::watch);
  EXPECT_FALSE(m.watchJson);
  EXPECT_TRUE(readGpsdLine(R"({"class":"WATCH","json":true})", parser, kNow).watchJson);
  m = readGpsdLine(R"({"class":"ERROR","message":"Unrecognized request"})", parser, kNow);
  EXPECT_EQ(m.kind, K::error);
  EXPECT_EQ(m.detail, "Unrecognized request");
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
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[0], "{\"a\":1}");
  EXPECT_EQ(lines[1], "{\"b\":2}");
  EXPECT_EQ(lines[2], "<overlong>");
  EXPECT_EQ(lines[3], "next");
  EXPECT_EQ(lines[4].size(), kMaxGpsdLine);
}

}  // namespace
}  // namespace orv::detail
