#include "location/nmea_parser.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>

#include "nmea_logs.h"

namespace orv::detail {
namespace {

using namespace std::chrono;
using namespace std::string_literals;
using test::nmeaSentence;

system_clock::time_point utc(int y, unsigned m, unsigned d, int h, int min, double s) {
  return sys_days{year_month_day{year(y), month(m), day(d)}} + hours(h) + minutes(min) +
         duration_cast<system_clock::duration>(duration<double>(s));
}

std::vector<Location> parseAll(std::string_view bytes, system_clock::time_point now = {}) {
  NmeaParser parser(now == system_clock::time_point{} ? NmeaParser::WallClock{}
                                                      : [now] { return now; });
  std::vector<Location> fixes;
  parser.feed(bytes, fixes);
  parser.flush(fixes);
  return fixes;
}

const char* const kGga = "GPGGA,120000.00,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,";
const char* const kRmc = "GPRMC,120000.00,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W";

// `body` with one field changed.
std::string with(std::string body, std::string_view from, std::string_view to) {
  return body.replace(body.find(from), from.size(), to);
}
std::string gga(std::string_view from, std::string_view to) { return with(kGga, from, to); }

// --- single sentences: one row per check of the decoder

TEST(NmeaDecode, AcceptsOnlyWellFormedSentences) {
  const std::string rmc(kRmc);
  const std::tuple<const char*, std::string, bool> cases[] = {
      {"without_checksum", std::string("$") + kGga, true},
      {"lower_case_checksum", "$" + rmc + "*4a", true},
      {"wrong_checksum", "$GPVTG,054.7,T,034.4,M,005.5,N,010.2,K*49", false},
      {"rmc_nmea_2_2", nmeaSentence(rmc), true},
      {"rmc_nmea_4_1", nmeaSentence(rmc + ",A,S"), true},
      {"rmc_too_many_fields", nmeaSentence(rmc + ",A,S,"), false},
      {"february_31", nmeaSentence(with(rmc, "230394", "310226")), false},
      {"gsa_missing_field", nmeaSentence("GNGSA,A,3,10,12,24,25,32,,,,,,,1.0,0.6,0.8"), false},
      {"beidou_talker", nmeaSentence(gga("GPGGA", "BDGGA")), true},
      {"navic_talker", nmeaSentence(gga("GPGGA", "GIGGA")), true},
      {"qzss_talker_nmea_4_11", nmeaSentence(gga("GPGGA", "GQGGA")), true},
      {"unknown_talker", nmeaSentence(gga("GPGGA", "IIGGA")), false},
      {"minutes_60", nmeaSentence(gga("4807.038", "4860.000")), false},
      {"latitude_91", nmeaSentence(gga("4807.038", "9100.000")), false},
      {"hemisphere_wrong", nmeaSentence(gga("4807.038,N", "4807.038,E")), false},
      {"quality_9", nmeaSentence(gga("E,1,08", "E,9,08")), false},
      {"hdop_negative", nmeaSentence(gga("0.9", "-0.9")), false},
      {"altitude_exponent", nmeaSentence(gga("545.4", "5e2")), false},
      {"hour_24", nmeaSentence(gga("120000.00", "240000.00")), false},
      {"leap_second", nmeaSentence(gga("120000.00", "235960.00")), true},
      {"control_character", nmeaSentence(gga("545.4", "545\t4")), false},
      {"over_the_bound", nmeaSentence(kGga + std::string(kNmeaMaxSentence, '0')), false},
  };
  for (const auto& [name, line, accepted] : cases) {
    EXPECT_EQ(decodeNmeaSentence(line).has_value(), accepted) << name;
  }
}

TEST(NmeaDecode, ReadsHemispheresAndUnits) {
  const auto south = decodeNmeaSentence(nmeaSentence(
      with(gga("4807.038,N,01131.000,E", "4807.038,S,01131.000,W"), "120000.00", "120000.50")));
  const auto vtg = decodeNmeaSentence("$GPVTG,054.7,T,034.4,M,005.5,N,010.2,K*48");
  ASSERT_TRUE(south && vtg);
  EXPECT_THAT((std::vector{south->latitude, south->longitude, vtg->speed, vtg->course}),
              ::testing::Pointwise(::testing::DoubleEq(),
                                   {-(48 + 7.038 / 60), -(11 + 31.0 / 60), 10.2 / 3.6, 54.7}));
  EXPECT_EQ(south->timeOfDayMs, 12 * 3600 * 1000 + 500);
}

// --- receiver logs

// The cycle ends with GST: after the first epoch, each fix leaves at its own GST, unflushed.
TEST(NmeaLogs, MovingMultiConstellationReceiver) {
  NmeaParser parser;
  std::vector<Location> fixes;
  parser.feed(test::kUbloxDriving, fixes);
  ASSERT_EQ(fixes.size(), 3u);
  const Location& f = fixes[2];
  EXPECT_EQ((std::vector{f.altitude, f.horizontalAccuracy, f.verticalAccuracy, f.course}),
            (std::vector{52.3, std::hypot(1.5, 1.1), 2.6, 87.65}));
  EXPECT_NEAR(f.coordinate.latitude, 39 + 54.12345 / 60, 1e-12);
  EXPECT_NEAR(f.coordinate.longitude, 116 + (23.45678 + 2 * 0.00875) / 60, 1e-12);
  EXPECT_NEAR(f.speed, 12.5, 1e-3);
  EXPECT_EQ(f.timestamp, utc(2026, 12, 7, 8, 12, 32));
}

// Without GST the accuracies come from the DOPs.
TEST(NmeaLogs, WithoutGstAccuraciesComeFromDilutionOfPrecision) {
  const auto fixes = parseAll(test::kSirfParked);
  ASSERT_EQ(fixes.size(), 2u);
  const Location& f = fixes[1];
  EXPECT_EQ((std::vector{f.horizontalAccuracy, f.verticalAccuracy, f.speed, f.course}),
            (std::vector{1.2 * kNmeaUere, 1.7 * kNmeaUere, 0.0, -1.0}));
  EXPECT_EQ(f.timestamp, utc(2026, 12, 7, 23, 59, 59));
}

// Binary noise, a cut sentence and an overlong line drop only their own sentences, fed a byte
// at a time.
TEST(NmeaLogs, NoiseAndChunkingDropOnlyTheBadSentences) {
  const std::string clean = test::kUbloxDriving;
  const size_t cut = clean.find("$GNGGA", clean.find("$GNGGA") + 1);
  const std::string noisy = "\xb5\x62\x00garbage\r\n$GNGGA,0812"s + clean.substr(0, cut) +
                            "$GPTXT," + std::string(300, 'x') + "\r\n" + clean.substr(cut);
  NmeaParser parser;
  std::vector<Location> fixes;
  for (char c : noisy) parser.feed(std::string_view(&c, 1), fixes);
  ASSERT_EQ(fixes.size(), 3u);
  EXPECT_EQ(fixes[2].coordinate.longitude, parseAll(clean)[2].coordinate.longitude);
}

// --- epochs: one row per rule of what makes a fix and where its values come from

struct EpochCase {
  const char* name;
  std::vector<std::string> bodies;
  double horizontalAccuracy;  // NaN: no fix expected
  double verticalAccuracy = -1;
  double altitude = 545.4;  // the GGA's unless the epoch is 2D or has no GGA
};

TEST(NmeaEpochs, FixOnlyWhenStatusSaysSo) {
  constexpr double kNoFix = NmeaSentence::kAbsent;
  const std::string rmcA = std::string(kRmc) + ",A";
  const double hdop = 0.9 * kNmeaUere;
  const EpochCase cases[] = {
      {"gga_and_rmc", {kGga, rmcA}, hdop},
      {"gga_dead_reckoning", {gga("E,1,", "E,6,")}, hdop},
      {"gga_simulation", {gga("E,1,", "E,8,")}, kNoFix},
      {"gga_without_position", {gga("4807.038,N,01131.000,E", ",,,")}, kNoFix},
      {"rmc_void", {kGga, with(rmcA, ",A,", ",V,")}, kNoFix},
      {"rmc_mode_not_valid", {kRmc + ",N"s}, kNoFix},
      {"rmc_only_navigation_status_unread", {rmcA + ",V"}, -1, -1, 0},
      {"gsa_no_fix", {kGga, "GPGSA,A,1,,,,,,,,,,,,,99.9,99.9,99.9"}, kNoFix},
      {"gsa_two_dimensional", {kGga, "GPGSA,A,2,04,05,09,,,,,,,,,,2.5,1.3,2.1"}, hdop, -1, 0},
      {"one_constellation_without_fix",
       {kGga, "GNGSA,A,3,04,05,09,12,,,,,,,,,2.5,1.3,2.1,1", "GNGSA,A,1,,,,,,,,,,,,,2.5,1.3,2.1,2"},
       hdop,
       2.1 * kNmeaUere},
      {"gst", {kGga, "GPGST,120000.00,0.006,0.023,0.020,273.6,0.3,0.4,0.5"}, 0.5, 0.5},
      {"gst_zeros_are_placeholders", {kGga, "GPGST,120000.00,0,0,0,0,0,0,0"}, hdop},
      {"no_dop", {gga(",0.9,", ",,")}, -1},
  };
  for (const auto& c : cases) {
    std::string bytes;
    for (const auto& b : c.bodies) bytes += nmeaSentence(b) + "\r\n";
    std::vector<double> got, want;
    for (const auto& f : parseAll(bytes)) {
      got.insert(got.end(), {f.horizontalAccuracy, f.verticalAccuracy, f.altitude});
    }
    if (!std::isnan(c.horizontalAccuracy))
      want = {c.horizontalAccuracy, c.verticalAccuracy, c.altitude};
    EXPECT_EQ(got, want) << c.name;
  }
}

// One receiver cycle per epoch, every value in it particular to the epoch (speed and course only
// from VTG, 3D and 2D GSAs alternating, GST), so a value carried over from another epoch shows.
struct Cycle {
  const char* name;
  std::vector<std::string> (*epoch)(int i);
  std::vector<std::string> kinds;  // a sentence type per entry of epoch(), for the drop rows
};

std::string hms(int i) { return "1200" + std::to_string(10 + i) + ".00"; }
std::string gsa(const char* talker, int i, const char* system) {
  return std::string(talker) + "GSA,A," + (i % 2 ? "2" : "3") + ",04,05,09,12,,,,,,,,,2." +
         std::to_string(i) + ",1." + std::to_string(i) + ",2." + std::to_string(i) + system;
}

const Cycle kCycles[] = {
    {"gps_timeless_sentences_last",
     [](int i) {
       const std::string t = hms(i), lat = "48" + std::to_string(10 + i) + ".000,N,01131.000,E";
       return std::vector<std::string>{
           "GPGGA," + t + "," + lat + ",1,08,0.9,54" + std::to_string(i) + ".0,M,46.9,M,,",
           "GPRMC," + t + ",A," + lat + ",,,071226,,,A",
           "GPGST," + t + ",1,1,1,0,0." + std::to_string(i + 1) + ",0.2,0.3", gsa("GP", i, ""),
           "GPVTG," + std::to_string(10 * i) + ".0,T,,M,,N," + std::to_string(i) + ".0,K,A"};
     },
     {"GGA", "RMC", "GST", "GSA", "VTG"}},
    {"multi_constellation",
     [](int i) {
       const std::string t = hms(i), lat = "39" + std::to_string(10 + i) + ".000,N,11623.000,E";
       return std::vector<std::string>{
           "GNRMC," + t + ",A," + lat + ",,,071226,,,A,V",
           "GNVTG," + std::to_string(10 * i) + ".0,T,,M,,N," + std::to_string(i) + ".0,K,A",
           "GNGGA," + t + "," + lat + ",1,18,0.72,5" + std::to_string(i) + ".0,M,-8.1,M,,",
           gsa("GN", i, ",1"),
           gsa("GN", i, ",2"),
           "GPGSV,1,1,04,02,46,300,38,05,55,052,42,12,20,118,33,13,35,080,40,1",
           "GNGST," + t + ",12,1.8,1.2,65.3,1." + std::to_string(i) + ",1.1,2.6"};
     },
     {"RMC", "VTG", "GGA", "GSA", "GSA_second", "GSV", "GST"}},
};

// What a fix is made of, for comparing whole fixes.
std::vector<double> values(const Location& f) {
  return {f.coordinate.latitude,
          f.coordinate.longitude,
          f.altitude,
          f.horizontalAccuracy,
          f.verticalAccuracy,
          f.speed,
          f.course,
          duration<double>(f.timestamp.time_since_epoch()).count()};
}

// A sentence lost from one epoch costs that epoch at most: every other epoch's fix comes out as
// without the loss, with its own values and without waiting for the stream to end.
TEST(NmeaEpochs, ALostSentenceCostsOnlyItsOwnEpoch) {
  constexpr int kEpochs = 6;
  constexpr int kDamaged = 2;
  for (const auto& cycle : kCycles) {
    const auto stream = [&](size_t drop) {
      std::string bytes;
      for (int i = 0; i < kEpochs; ++i) {
        const auto bodies = cycle.epoch(i);
        for (size_t j = 0; j < bodies.size(); ++j) {
          if (i != kDamaged || j != drop) bytes += nmeaSentence(bodies[j]) + "\r\n";
        }
      }
      // Unflushed: each epoch must leave at its own last sentence.
      NmeaParser parser;
      std::vector<Location> fixes;
      parser.feed(bytes, fixes);
      std::vector<std::vector<double>> out;
      for (const auto& f : fixes) out.push_back(values(f));
      return out;
    };
    auto clean = stream(SIZE_MAX);
    ASSERT_EQ(clean.size(), size_t{kEpochs}) << cycle.name;
    const double damagedTime = clean[kDamaged].back();
    clean.erase(clean.begin() + kDamaged);
    for (size_t drop = 0; drop < cycle.kinds.size(); ++drop) {
      auto got = stream(drop);
      std::erase_if(got, [&](const auto& v) { return v.back() == damagedTime; });
      EXPECT_EQ(got, clean) << cycle.name << " without " << cycle.kinds[drop];
    }
  }
}

// Until an RMC gives the date, the epoch's day is the one that puts it nearest our clock; after
// the last RMC the date rolls over at midnight.
TEST(NmeaEpochs, DatesFromTheClockThenFromRmc) {
  const std::string late = nmeaSentence(gga("120000.00", "235958.00")) + "\r\n";
  for (const auto now : {utc(2026, 12, 8, 0, 0, 3), utc(2026, 12, 7, 13, 0, 0)}) {
    const auto fixes = parseAll(late, now);
    ASSERT_EQ(fixes.size(), 1u);
    EXPECT_EQ(fixes[0].timestamp, utc(2026, 12, 7, 23, 59, 58));
  }
  const auto fixes =
      parseAll(nmeaSentence("GPRMC,235959.00,A,4807.038,N,01131.000,E,0.0,,311226,,,A") + "\r\n" +
                   nmeaSentence(gga("120000.00", "000000.00")) + "\r\n",
               utc(2020, 1, 1, 0, 0, 0));
  ASSERT_EQ(fixes.size(), 2u);
  EXPECT_EQ(fixes[0].timestamp, utc(2026, 12, 31, 23, 59, 59));
  EXPECT_EQ(fixes[1].timestamp, utc(2027, 1, 1, 0, 0, 0));
}

}  // namespace
}  // namespace orv::detail
