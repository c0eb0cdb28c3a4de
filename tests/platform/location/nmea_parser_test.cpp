#include "platform/location/nmea_parser.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "nmea_logs.h"

namespace orv::detail {
namespace {

using namespace std::chrono;
using test::asReceived;
using test::nmeaSentence;

system_clock::time_point utc(int y, unsigned m, unsigned d, int h, int min, double s) {
  return sys_days{year_month_day{year(y), month(m), day(d)}} + hours(h) + minutes(min) +
         duration_cast<system_clock::duration>(duration<double>(s));
}

NmeaParser::WallClock clockAt(system_clock::time_point t) {
  return [t] { return t; };
}

std::vector<Location> parseAll(std::string_view bytes, bool flush = true,
                               NmeaParser::WallClock now = {}) {
  NmeaParser parser(std::move(now));
  std::vector<Location> fixes;
  parser.feed(bytes, fixes);
  if (flush) parser.flush(fixes);
  return fixes;
}

// The tests write a log out as a receiver would have stored it, then read it back.
std::string throughFile(std::string_view log, const char* name) {
  const auto path = std::filesystem::temp_directory_path() /
                    ("orv_nmea_" + std::to_string(::getpid()) + "_" + name + ".nmea");
  std::ofstream(path, std::ios::binary) << asReceived(log);
  std::stringstream in;
  in << std::ifstream(path, std::ios::binary).rdbuf();
  std::filesystem::remove(path);
  return in.str();
}

// --- single sentences

struct DecodeCase {
  const char* name;
  std::string line;
  bool accepted;
};

void PrintTo(const DecodeCase& c, std::ostream* os) { *os << c.name; }

class NmeaDecodeTest : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(NmeaDecodeTest, AcceptsOnlyWellFormedSentences) {
  EXPECT_EQ(decodeNmeaSentence(GetParam().line).has_value(), GetParam().accepted)
      << GetParam().line;
}

const char* const kGga = "GPGGA,120000.00,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,";

// The GGA above with one field changed.
std::string gga(std::string_view from, std::string_view to) {
  std::string body(kGga);
  return body.replace(body.find(from), from.size(), to);
}

INSTANTIATE_TEST_SUITE_P(
    Sentences, NmeaDecodeTest,
    ::testing::Values(
        DecodeCase{"gga", nmeaSentence(kGga), true},
        DecodeCase{"without_checksum", std::string("$") + kGga, true},
        DecodeCase{"lower_case_checksum",
                   "$GNRMC,081230.00,A,3954.12345,N,11623.45678,E,24.298,87.65,071226,,,A,V*0e",
                   true},
        DecodeCase{"wrong_checksum", "$GPVTG,054.7,T,034.4,M,005.5,N,010.2,K*49", false},
        DecodeCase{
            "rmc_nmea_2_2",
            nmeaSentence("GPRMC,120000.00,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W"),
            true},
        DecodeCase{
            "rmc_nmea_2_3",
            nmeaSentence("GPRMC,120000.00,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W,A"),
            true},
        DecodeCase{
            "rmc_nmea_4_1",
            nmeaSentence("GNRMC,120000.00,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W,A,S"),
            true},
        DecodeCase{"rmc_too_many_fields",
                   nmeaSentence(
                       "GNRMC,120000.00,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W,A,S,"),
                   false},
        DecodeCase{"gsa_missing_field", nmeaSentence("GNGSA,A,3,10,12,24,25,32,,,,,,,1.0,0.6,0.8"),
                   false},
        DecodeCase{"vtg_nmea_2_3", nmeaSentence("GPVTG,054.7,T,034.4,M,005.5,N,010.2,K,A"), true},
        DecodeCase{"vtg_old_form", nmeaSentence("GPVTG,054.7,034.4,005.5,010.2"), false},
        DecodeCase{"gst", nmeaSentence("GPGST,120000.00,0.006,0.023,0.020,273.6,0.023,0.020,0.031"),
                   true},
        DecodeCase{"gga_unknown_talker", nmeaSentence(gga("GPGGA", "IIGGA")), false},
        DecodeCase{"minutes_60", nmeaSentence(gga("4807.038", "4860.000")), false},
        DecodeCase{"latitude_91", nmeaSentence(gga("4807.038", "9100.000")), false},
        DecodeCase{"longitude_181", nmeaSentence(gga("01131.000", "18100.000")), false},
        DecodeCase{"quality_9", nmeaSentence(gga("E,1,08", "E,9,08")), false},
        DecodeCase{"hdop_negative", nmeaSentence(gga("0.9", "-0.9")), false},
        DecodeCase{"altitude_inf", nmeaSentence(gga("545.4", "inf")), false},
        DecodeCase{"hemisphere_wrong", nmeaSentence(gga("4807.038,N", "4807.038,E")), false},
        DecodeCase{"hour_24", nmeaSentence(gga("120000.00", "240000.00")), false},
        DecodeCase{"leap_second", nmeaSentence(gga("120000.00", "235960.00")), true},
        DecodeCase{"altitude_exponent", nmeaSentence(gga("545.4", "5e2")), false},
        DecodeCase{
            "february_31",
            nmeaSentence("GPRMC,120000.00,A,4807.038,N,01131.000,E,022.4,084.4,310226,003.1,W"),
            false},
        DecodeCase{"control_character", nmeaSentence(gga("545.4", "545\t4")), false},
        DecodeCase{"over_the_bound",
                   nmeaSentence(std::string(kGga) + std::string(kNmeaMaxSentence, '0')), false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(NmeaDecode, ReadsHemispheresAndUnits) {
  const auto south = decodeNmeaSentence(
      nmeaSentence("GPGGA,120000.50,4807.038,S,01131.000,W,1,08,0.9,545.4,M,46.9,M,,"));
  ASSERT_TRUE(south);
  EXPECT_DOUBLE_EQ(south->latitude, -(48 + 7.038 / 60));
  EXPECT_DOUBLE_EQ(south->longitude, -(11 + 31.0 / 60));
  EXPECT_EQ(south->timeOfDayMs, 12 * 3600 * 1000 + 500);
  const auto vtg = decodeNmeaSentence("$GPVTG,054.7,T,034.4,M,005.5,N,010.2,K*48");
  ASSERT_TRUE(vtg);
  EXPECT_DOUBLE_EQ(vtg->speed, 10.2 / 3.6);
  EXPECT_DOUBLE_EQ(vtg->course, 54.7);
}

// --- receiver logs

TEST(NmeaLogs, MovingMultiConstellationReceiver) {
  const auto fixes = parseAll(throughFile(test::kUbloxDriving, "ublox"), false);
  // The cycle ends with GST: after the first epoch, each fix leaves at its own GST.
  ASSERT_EQ(fixes.size(), 3u);
  for (size_t i = 0; i < fixes.size(); ++i) {
    SCOPED_TRACE(i);
    const Location& f = fixes[i];
    EXPECT_NEAR(f.coordinate.latitude, 39 + 54.12345 / 60, 1e-12);
    EXPECT_NEAR(f.coordinate.longitude, 116 + (23.45678 + 0.00875 * i) / 60, 1e-12);
    EXPECT_DOUBLE_EQ(f.altitude, 52.3);
    EXPECT_DOUBLE_EQ(f.horizontalAccuracy, std::hypot(1.5, 1.1));
    EXPECT_DOUBLE_EQ(f.verticalAccuracy, 2.6);
    EXPECT_NEAR(f.speed, 12.5, 1e-3);
    EXPECT_DOUBLE_EQ(f.course, 87.65);
    EXPECT_EQ(f.timestamp, utc(2026, 12, 7, 8, 12, 30 + static_cast<double>(i)));
  }
}

TEST(NmeaLogs, GpsOnlyReceiverWithoutGstUsesDilutionOfPrecision) {
  const auto fixes = parseAll(throughFile(test::kSirfParked, "sirf"));
  ASSERT_EQ(fixes.size(), 2u);
  EXPECT_DOUBLE_EQ(fixes[0].horizontalAccuracy, 1.2 * kNmeaUere);
  EXPECT_DOUBLE_EQ(fixes[0].verticalAccuracy, 1.7 * kNmeaUere);
  EXPECT_DOUBLE_EQ(fixes[0].altitude, 8.5);
  EXPECT_DOUBLE_EQ(fixes[0].speed, 0.0);
  EXPECT_DOUBLE_EQ(fixes[0].course, -1.0);
  EXPECT_EQ(fixes[1].timestamp, utc(2026, 12, 7, 23, 59, 59));
}

TEST(NmeaLogs, ReceiverWithoutFixGivesNothing) {
  EXPECT_TRUE(parseAll(throughFile(test::kNoFixReceiver, "nofix")).empty());
}

TEST(NmeaLogs, BeidouTalkersAndPerSystemGsa) {
  const auto fixes = parseAll(throughFile(test::kBeidouDifferential, "beidou"));
  ASSERT_EQ(fixes.size(), 2u);
  EXPECT_NEAR(fixes[1].coordinate.latitude, 22 + 32.8765 / 60, 1e-12);
  EXPECT_DOUBLE_EQ(fixes[1].horizontalAccuracy, 0.6 * kNmeaUere);
  EXPECT_DOUBLE_EQ(fixes[1].verticalAccuracy, 0.8 * kNmeaUere);
  EXPECT_NEAR(fixes[1].speed, 1.5 * 1852 / 3600, 1e-12);
  EXPECT_DOUBLE_EQ(fixes[1].course, 120.0);
}

TEST(NmeaLogs, ChunkingDoesNotMatter) {
  const std::string log = asReceived(test::kUbloxDriving);
  const auto whole = parseAll(log);
  NmeaParser parser;
  std::vector<Location> fixes;
  for (char c : log) parser.feed(std::string_view(&c, 1), fixes);
  parser.flush(fixes);
  ASSERT_EQ(fixes.size(), whole.size());
  for (size_t i = 0; i < fixes.size(); ++i) {
    EXPECT_EQ(fixes[i].coordinate.longitude, whole[i].coordinate.longitude);
  }
}

// --- epochs

struct EpochCase {
  const char* name;
  std::vector<std::string> bodies;
  double horizontalAccuracy;  // NaN: no fix expected
  double verticalAccuracy = -1;
  double altitude = 545.4;  // the GGA's unless the epoch is 2D or has no GGA
};

void PrintTo(const EpochCase& c, std::ostream* os) { *os << c.name; }

class NmeaEpochTest : public ::testing::TestWithParam<EpochCase> {};

TEST_P(NmeaEpochTest, FixOnlyWhenStatusSaysSo) {
  std::string bytes;
  for (const auto& b : GetParam().bodies) bytes += nmeaSentence(b) + "\r\n";
  const auto fixes = parseAll(bytes);
  if (std::isnan(GetParam().horizontalAccuracy)) {
    EXPECT_TRUE(fixes.empty());
    return;
  }
  ASSERT_EQ(fixes.size(), 1u);
  EXPECT_DOUBLE_EQ(fixes[0].horizontalAccuracy, GetParam().horizontalAccuracy);
  EXPECT_DOUBLE_EQ(fixes[0].verticalAccuracy, GetParam().verticalAccuracy);
  EXPECT_DOUBLE_EQ(fixes[0].altitude, GetParam().altitude);
}

constexpr double kNoFix = NmeaSentence::kAbsent;
const std::string kRmcA = "GPRMC,120000.00,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W,A";

INSTANTIATE_TEST_SUITE_P(
    Epochs, NmeaEpochTest,
    ::testing::Values(
        EpochCase{"gga_and_rmc", {kGga, kRmcA}, 0.9 * kNmeaUere},
        EpochCase{"gga_quality_0", {gga("E,1,", "E,0,"), kRmcA}, kNoFix},
        EpochCase{"gga_dead_reckoning", {gga("E,1,", "E,6,")}, 0.9 * kNmeaUere},
        EpochCase{"gga_simulation", {gga("E,1,", "E,8,")}, kNoFix},
        EpochCase{"rmc_void",
                  {kGga, "GPRMC,120000.00,V,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W,A"},
                  kNoFix},
        EpochCase{"rmc_mode_not_valid",
                  {"GPRMC,120000.00,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W,N"},
                  kNoFix},
        EpochCase{"rmc_navigation_status_not_given",
                  {"GNRMC,120000.00,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W,A,V"},
                  -1,
                  -1,
                  0},
        EpochCase{"rmc_only", {kRmcA}, -1, -1, 0},
        EpochCase{"gsa_no_fix", {kGga, "GPGSA,A,1,,,,,,,,,,,,,99.9,99.9,99.9"}, kNoFix},
        EpochCase{"gsa_two_dimensional",
                  {kGga, "GPGSA,A,2,04,05,09,,,,,,,,,,2.5,1.3,2.1"},
                  0.9 * kNmeaUere,
                  -1,
                  0},
        EpochCase{"gsa_vertical_dop",
                  {kGga, "GPGSA,A,3,04,05,09,12,,,,,,,,,2.5,1.3,2.1"},
                  0.9 * kNmeaUere,
                  2.1 * kNmeaUere,
                  545.4},
        EpochCase{"one_constellation_without_fix",
                  {kGga, "GNGSA,A,3,04,05,09,12,,,,,,,,,2.5,1.3,2.1,1",
                   "GNGSA,A,1,,,,,,,,,,,,,2.5,1.3,2.1,2"},
                  0.9 * kNmeaUere,
                  2.1 * kNmeaUere,
                  545.4},
        EpochCase{
            "gst", {kGga, "GPGST,120000.00,0.006,0.023,0.020,273.6,0.3,0.4,0.5"}, 0.5, 0.5, 545.4},
        EpochCase{
            "gst_zeros_are_placeholders", {kGga, "GPGST,120000.00,0,0,0,0,0,0,0"}, 0.9 * kNmeaUere},
        EpochCase{"no_dop", {gga(",0.9,", ",,")}, -1},
        EpochCase{"gga_without_position", {gga("4807.038,N,01131.000,E", ",,,")}, kNoFix},
        EpochCase{"time_only_sentences",
                  {"GPGSA,A,3,04,05,09,12,,,,,,,,,2.5,1.3,2.1",
                   "GPVTG,054.7,T,034.4,M,005.5,N,010.2,K,A"},
                  kNoFix}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(NmeaEpochs, DateFromTheClockUntilRmc) {
  const std::string gga =
      nmeaSentence("GPGGA,235958.00,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,") + "\r\n";
  // Just after midnight on our clock, the receiver's 23:59:58 is yesterday's.
  auto fixes = parseAll(gga, true, clockAt(utc(2026, 12, 8, 0, 0, 3)));
  ASSERT_EQ(fixes.size(), 1u);
  EXPECT_EQ(fixes[0].timestamp, utc(2026, 12, 7, 23, 59, 58));
  fixes = parseAll(gga, true, clockAt(utc(2026, 12, 7, 13, 0, 0)));
  ASSERT_EQ(fixes.size(), 1u);
  EXPECT_EQ(fixes[0].timestamp, utc(2026, 12, 7, 23, 59, 58));
}

TEST(NmeaEpochs, DateRollsOverAfterTheLastRmc) {
  const std::string log =
      nmeaSentence("GPRMC,235959.00,A,4807.038,N,01131.000,E,0.0,,311226,,,A") + "\r\n" +
      nmeaSentence("GPGGA,000000.00,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,") + "\r\n";
  const auto fixes = parseAll(log, true, clockAt(utc(2020, 1, 1, 0, 0, 0)));
  ASSERT_EQ(fixes.size(), 2u);
  EXPECT_EQ(fixes[0].timestamp, utc(2026, 12, 31, 23, 59, 59));
  EXPECT_EQ(fixes[1].timestamp, utc(2027, 1, 1, 0, 0, 0));
}

// --- bad input

TEST(NmeaStream, NoiseTruncationAndOverlongLinesDropOnlyTheirOwnSentences) {
  const std::string clean = asReceived(test::kUbloxDriving);
  std::string noisy = "\xb5\x62\x01\x07\x5c\x00garbage\r\n$GNGGA,0812";  // binary, then a cut
  size_t lines = 0;
  for (size_t start = 0; start < clean.size();) {
    const size_t end = clean.find('\n', start) + 1;
    noisy += clean.substr(start, end - start);
    if (++lines % 4 == 0) noisy += "$GPTXT," + std::string(300, 'x') + "\r\n\x00\xff\x7f";
    start = end;
  }
  const auto expected = parseAll(clean);
  const auto fixes = parseAll(noisy);
  ASSERT_EQ(fixes.size(), expected.size());
  for (size_t i = 0; i < fixes.size(); ++i) {
    EXPECT_EQ(fixes[i].coordinate.longitude, expected[i].coordinate.longitude);
  }
}

}  // namespace
}  // namespace orv::detail
