#include "platform/location/replay_provider.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "manual_clock.h"
#include "orv/run_loop.h"
#include "platform/location/location_manager.h"

namespace orv::detail {
namespace {

using namespace std::chrono_literals;
using Ms = std::chrono::milliseconds;

constexpr const char* kHeader = "time,lat,lng,alt,hacc,vacc,speed\n";

struct ParseCase {
  const char* text;
  const char* message;  // empty: parses
};

void PrintTo(const ParseCase& c, std::ostream* os) {
  if (*c.message) {
    *os << c.message;
  } else {
    *os << "parses " << ::testing::PrintToString(std::string(c.text));
  }
}

class TrackParseTest : public ::testing::TestWithParam<ParseCase> {};

TEST_P(TrackParseTest, NamesTheOffendingLine) {
  const auto& c = GetParam();
  auto rows = parseTrack(c.text, "t.csv");
  if (*c.message == '\0') {
    EXPECT_TRUE(rows.ok()) << rows.error().message;
  } else {
    ASSERT_FALSE(rows.ok());
    EXPECT_EQ(rows.error().message, c.message);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Files, TrackParseTest,
    ::testing::Values(
        ParseCase{"time,lat,lng,alt,hacc,vacc,speed\r\n0,30,120,5,10,3,1.5\r\n\n", ""},
        ParseCase{"\n time,lat,lng,alt,hacc,vacc,speed \n 0 , 30 ,120,5,10,3,-1\n", ""},
        ParseCase{"", "t.csv:0: empty file"},
        ParseCase{"time,lat,lng,alt,hacc,vacc,speed\n", "t.csv:1: no rows after the header"},
        ParseCase{"time,lat,lng\n0,30,120\n",
                  "t.csv:1: expected header \"time,lat,lng,alt,hacc,vacc,speed\""},
        ParseCase{"time,lat,lng,alt,hacc,vacc,speed\n0,30,120,5,10,3,1\n1,30,120,5,10,3\n",
                  "t.csv:3: expected 7 comma-separated fields"},
        ParseCase{"time,lat,lng,alt,hacc,vacc,speed\n0,30,120,5,10,3,1,9\n",
                  "t.csv:2: expected 7 comma-separated fields"},
        ParseCase{"time,lat,lng,alt,hacc,vacc,speed\n0,30,1x0,5,10,3,1\n",
                  "t.csv:2: field 3 is not a number"},
        ParseCase{"time,lat,lng,alt,hacc,vacc,speed\n0,nan,120,5,10,3,1\n",
                  "t.csv:2: field 2 is not a number"},
        ParseCase{"time,lat,lng,alt,hacc,vacc,speed\n2,30,120,5,10,3,1\n1,30,120,5,10,3,1\n",
                  "t.csv:3: time goes backwards"}));

TEST(TrackParseTest, RowFieldsLandInTheFix) {
  auto rows = parseTrack(std::string(kHeader) + "1.5,30.25,120.5,44,10,3,2.5\n", "t");
  ASSERT_TRUE(rows.ok());
  const TrackRow& row = rows.value().at(0);
  EXPECT_EQ(row.time, 1.5);
  EXPECT_EQ(row.fix.coordinate.latitude, 30.25);
  EXPECT_EQ(row.fix.coordinate.longitude, 120.5);
  EXPECT_EQ(row.fix.altitude, 44);
  EXPECT_EQ(row.fix.horizontalAccuracy, 10);
  EXPECT_EQ(row.fix.verticalAccuracy, 3);
  EXPECT_EQ(row.fix.speed, 2.5);
}

struct Arrivals : LocationManagerDelegate {
  explicit Arrivals(RunLoop& loop) : loop(loop), start(loop.now()) {}
  void didUpdateLocations(const std::vector<Location>& locations) override {
    for (const auto& l : locations) {
      at.push_back(std::chrono::duration_cast<Ms>(loop.now() - start).count());
      lat.push_back(l.coordinate.latitude);
    }
  }
  void didFailWithError(const std::string& text) override { errors.push_back(text); }
  RunLoop& loop;
  RunLoop::TimePoint start;
  std::vector<int64_t> at;
  std::vector<double> lat;
  std::vector<std::string> errors;
};

class ReplayTest : public ::testing::Test {
 protected:
  void TearDown() override {
    LocationService::useNone();
    std::filesystem::remove(path);
    loop.processPending();
  }
  ReplayOptions track(const std::string& rows, double speed, bool loopTrack) {
    std::ofstream(path) << kHeader << rows;
    return ReplayOptions{path, speed, loopTrack};
  }
  // Plays the chosen track into a manager for `span` of manual time.
  std::shared_ptr<Arrivals> play(RunLoop::Duration span) {
    auto arrivals = std::make_shared<Arrivals>(loop);
    LocationManager manager;
    manager.setDelegate(arrivals);
    manager.startUpdatingLocation();
    clock.advance(span);
    return arrivals;
  }
  RunLoop& loop = RunLoop::current();
  ManualClock clock{loop};
  std::string path = (std::filesystem::temp_directory_path() /
                      ("orv_replay_" + std::to_string(::getpid()) + ".csv"))
                         .string();
};

TEST_F(ReplayTest, PlaysAtRecordedPaceTimesSpeed) {
  ASSERT_TRUE(
      LocationService::useReplay(track("10,1,120,0,5,5,0\n11,2,120,0,5,5,0\n"
                                       "13,3,120,0,5,5,0\n",
                                       2.0, false)));
  auto a = play(10s);
  EXPECT_EQ(a->at, (std::vector<int64_t>{0, 500, 1500}));
  EXPECT_EQ(a->lat, (std::vector<double>{1, 2, 3}));
}

TEST_F(ReplayTest, LoopsWithOneMeanSpacingBetweenPasses) {
  ASSERT_TRUE(LocationService::useReplay(track("0,1,120,0,5,5,0\n2,2,120,0,5,5,0\n", 1.0, true)));
  auto a = play(9s);
  EXPECT_EQ(a->at, (std::vector<int64_t>{0, 2000, 4000, 6000, 8000}));
  EXPECT_EQ(a->lat, (std::vector<double>{1, 2, 1, 2, 1}));
}

TEST_F(ReplayTest, ZeroSpeedPlaysAsFastAsTheLoopTurns) {
  ASSERT_TRUE(
      LocationService::useReplay(track("0,1,120,0,5,5,0\n100,2,120,0,5,5,0\n"
                                       "500,3,120,0,5,5,0\n",
                                       0.0, false)));
  auto a = play(0s);
  EXPECT_EQ(a->at, (std::vector<int64_t>{0, 0, 0}));
  EXPECT_EQ(a->lat, (std::vector<double>{1, 2, 3}));
}

TEST_F(ReplayTest, StoppingEndsPlayback) {
  ASSERT_TRUE(LocationService::useReplay(track("0,1,120,0,5,5,0\n1,2,120,0,5,5,0\n", 1.0, true)));
  auto a = std::make_shared<Arrivals>(loop);
  LocationManager manager;
  manager.setDelegate(a);
  manager.startUpdatingLocation();
  clock.advance(1500ms);
  manager.stopUpdatingLocation();
  clock.advance(10s);
  EXPECT_EQ(a->at, (std::vector<int64_t>{0, 1000}));
}

TEST_F(ReplayTest, AuthorizationIsWhenInUseUnlessChosen) {
  ASSERT_TRUE(LocationService::useReplay(track("0,1,120,0,5,5,0\n", 1.0, false)));
  EXPECT_EQ(LocationManager::authorizationStatus(), 4);
  ReplayOptions options = track("0,1,120,0,5,5,0\n", 1.0, false);
  options.authorizationStatus = AuthorizationStatus::authorizedAlways;
  ASSERT_TRUE(LocationService::useReplay(options));
  EXPECT_EQ(LocationManager::authorizationStatus(), 3);
}

TEST_F(ReplayTest, BadTrackKeepsThePreviousChoice) {
  auto sim = LocationService::useSimulated();
  sim->setAuthorizationStatus(AuthorizationStatus::denied);
  auto missing = LocationService::useReplay({path + ".missing", 1.0, false});
  ASSERT_FALSE(missing.ok());
  EXPECT_NE(missing.error().message.find(".missing"), std::string::npos);
  auto bad = LocationService::useReplay(track("0,1,120\n", 1.0, false));
  ASSERT_FALSE(bad.ok());
  EXPECT_EQ(bad.error().message, path + ":2: expected 7 comma-separated fields");
  EXPECT_EQ(LocationManager::authorizationStatus(), 2);
}

}  // namespace
}  // namespace orv::detail
