#include "location/replay_provider.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "manager_fixture.h"
#include "manual_clock.h"

namespace orv::detail {
namespace {

using namespace std::chrono_literals;

constexpr const char* kHeader = "time,lat,lng,alt,hacc,vacc,speed\n";

class TrackParseTest : public ::testing::TestWithParam<std::pair<std::string, std::string>> {};

// Each error names the file and the offending line; an empty message means the text parses.
TEST_P(TrackParseTest, NamesTheOffendingLine) {
  const auto& [text, message] = GetParam();
  auto rows = parseTrack(text, "t.csv");
  EXPECT_EQ(rows.ok() ? "" : rows.error().message, message);
}

INSTANTIATE_TEST_SUITE_P(
    Files, TrackParseTest,
    ::testing::Values(
        std::pair{"\n time,lat,lng,alt,hacc,vacc,speed \r\n 0 , 30 ,120,5,10,3,-1\r\n\n", ""},
        std::pair{"", "t.csv:0: empty file"},
        std::pair{std::string(kHeader), "t.csv:1: no rows after the header"},
        std::pair{"time,lat,lng\n0,30,120\n",
                  "t.csv:1: expected header \"time,lat,lng,alt,hacc,vacc,speed\""},
        std::pair{std::string(kHeader) + "0,30,120,5,10,3,1\n1,30,120,5,10,3\n",
                  "t.csv:3: expected 7 comma-separated fields"},
        std::pair{std::string(kHeader) + "0,30,1x0,5,10,3,1\n", "t.csv:2: field 3 is not a number"},
        std::pair{std::string(kHeader) + "0,nan,120,5,10,3,1\n",
                  "t.csv:2: field 2 is not a number"},
        std::pair{std::string(kHeader) + "2,30,120,5,10,3,1\n1,30,120,5,10,3,1\n",
                  "t.csv:3: time goes backwards"}));

TEST(TrackParseTest, RowFieldsLandInTheFix) {
  const TrackRow r = parseTrack(std::string(kHeader) + "1.5,30.25,120.5,44,10,3,2.5\n", "t")->at(0);
  const Location& f = r.fix;
  EXPECT_EQ((std::vector{r.time, f.coordinate.latitude, f.coordinate.longitude, f.altitude,
                         f.horizontalAccuracy, f.verticalAccuracy, f.speed}),
            (std::vector{1.5, 30.25, 120.5, 44.0, 10.0, 3.0, 2.5}));
}

class ReplayTest : public ManagerTest {
 protected:
  void TearDown() override {
    ManagerTest::TearDown();
    std::filesystem::remove(path);
  }
  ReplayOptions track(const std::string& rows, double speed, bool loopTrack) {
    std::ofstream(path) << kHeader << rows;
    return ReplayOptions{path, speed, loopTrack};
  }
  // Plays the chosen track for `span` of manual time.
  void play(RunLoop::Duration span) {
    manager->startUpdatingLocation();
    clock.advance(span);
  }
  // Each fix's arrival (ms after the start) and latitude.
  std::vector<std::pair<int64_t, double>> arrived() const {
    std::vector<std::pair<int64_t, double>> out;
    for (size_t i = 0; i < delegate->fixes.size(); ++i) {
      out.emplace_back((delegate->arrivals[i] - start) / 1ms,
                       delegate->fixes[i].coordinate.latitude);
    }
    return out;
  }
  ManualClock clock{loop};
  RunLoop::TimePoint start = loop.now();
  std::string path = (std::filesystem::temp_directory_path() /
                      ("orv_replay_" + std::to_string(::getpid()) + ".csv"))
                         .string();
};

using Arrivals = std::vector<std::pair<int64_t, double>>;

TEST_F(ReplayTest, PlaysAtRecordedPaceTimesSpeed) {
  ASSERT_TRUE(LocationService::useReplay(
      track("10,1,120,0,5,5,0\n11,2,120,0,5,5,0\n13,3,120,0,5,5,0\n", 2.0, false)));
  play(10s);
  EXPECT_EQ(arrived(), (Arrivals{{0, 1}, {500, 2}, {1500, 3}}));
}

// A looping track waits one mean spacing between passes, until stopped.
TEST_F(ReplayTest, LoopsWithOneMeanSpacingBetweenPassesUntilStopped) {
  ASSERT_TRUE(LocationService::useReplay(track("0,1,120,0,5,5,0\n2,2,120,0,5,5,0\n", 1.0, true)));
  play(9s);
  manager->stopUpdatingLocation();
  clock.advance(10s);
  EXPECT_EQ(arrived(), (Arrivals{{0, 1}, {2000, 2}, {4000, 1}, {6000, 2}, {8000, 1}}));
}

TEST_F(ReplayTest, ZeroSpeedPlaysAsFastAsTheLoopTurns) {
  ASSERT_TRUE(LocationService::useReplay(
      track("0,1,120,0,5,5,0\n100,2,120,0,5,5,0\n500,3,120,0,5,5,0\n", 0.0, false)));
  play(0s);
  EXPECT_EQ(arrived(), (Arrivals{{0, 1}, {0, 2}, {0, 3}}));
}

// A fix is stamped with the start of playback plus its recorded offset, whatever the pace.
TEST_F(ReplayTest, StampsRecordedOffsetsAtEveryPace) {
  for (double speed : {0.0, 1.0, 4.0}) {
    delegate->fixes.clear();
    delegate->arrivals.clear();
    ASSERT_TRUE(LocationService::useReplay(
        track("10,1,120,0,5,5,0\n10.5,2,120,0,5,5,0\n13,3,120,0,5,5,0\n", speed, speed > 0)));
    // Looping, a second pass starts one mean spacing (1.5 s) after the last row.
    play(5s);
    manager->stopUpdatingLocation();
    const size_t n = speed > 0 ? 4 : 3;
    ASSERT_GE(delegate->fixes.size(), n) << speed;
    std::vector<int64_t> offsets;
    for (size_t i = 0; i < n; ++i) {
      offsets.push_back((delegate->fixes[i].timestamp - delegate->fixes[0].timestamp) / 1ms);
    }
    const std::vector<int64_t> expected{0, 500, 3000, 4500};
    EXPECT_EQ(offsets, std::vector<int64_t>(expected.begin(), expected.begin() + n)) << speed;
  }
}

// Replay is authorized when in use unless chosen otherwise; a bad track keeps the previous
// choice.
TEST_F(ReplayTest, AuthorizationAndBadTracks) {
  ReplayOptions options = track("0,1,120,0,5,5,0\n", 1.0, false);
  ASSERT_TRUE(LocationService::useReplay(options));
  EXPECT_EQ(LocationManager::authorizationStatus(), 4);
  options.authorizationStatus = AuthorizationStatus::authorizedAlways;
  ASSERT_TRUE(LocationService::useReplay(options));
  EXPECT_EQ(LocationManager::authorizationStatus(), 3);
  auto missing = LocationService::useReplay({path + ".missing", 1.0, false});
  ASSERT_FALSE(missing.ok());
  EXPECT_NE(missing.error().message.find(".missing"), std::string::npos);
  auto bad = LocationService::useReplay(track("0,1,120\n", 1.0, false));
  ASSERT_FALSE(bad.ok());
  EXPECT_EQ(bad.error().message, path + ":2: expected 7 comma-separated fields");
  EXPECT_EQ(LocationManager::authorizationStatus(), 3);
}

}  // namespace
}  // namespace orv::detail
