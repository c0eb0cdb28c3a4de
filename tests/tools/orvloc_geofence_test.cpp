// orvloc geofence, run as a process on a recorded track.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include <simdjson.h>
#include "cli_run.h"

namespace {

namespace fs = std::filesystem;
using orv::test::runShell;

constexpr const char* kFences = R"({"type":"FeatureCollection","features":[
{"type":"Feature","id":"depot-3","properties":{"radius":100},"geometry":{"type":"Point","coordinates":[121.4737,31.2304]}},
{"type":"Feature","properties":{"id":"yard","dwell":2},"geometry":{"type":"Polygon","coordinates":[[[121.48,31.23],[121.482,31.23],[121.482,31.232],[121.48,31.232],[121.48,31.23]]]}}
]})";

// Outside, into the depot, across to the yard, and away.
constexpr const char* kTrack = R"(time,lat,lng,alt,hacc,vacc,speed
0,31.2250,121.4737,0,5,5,0
10,31.2304,121.4737,0,5,5,0
20,31.2304,121.4737,0,5,5,0
30,31.2310,121.4810,0,5,5,0
31,31.2311,121.4811,0,5,5,0
34,31.2311,121.4811,0,5,5,0
40,31.2400,121.4900,0,5,5,0
)";

struct Line {
  std::string event, fence;
  double time = 0, lat = 0, lng = 0, accuracy = 0;
};

std::optional<Line> parseLine(const std::string& text) {
  simdjson::dom::parser parser;
  simdjson::dom::object o;
  if (parser.parse(text).get_object().get(o) != simdjson::SUCCESS) return std::nullopt;
  Line l;
  std::string_view event, fence;
  if (o["event"].get_string().get(event) || o["fence"].get_string().get(fence) ||
      o["time"].get_double().get(l.time) || o["lat"].get_double().get(l.lat) ||
      o["lng"].get_double().get(l.lng) || o["accuracy"].get_double().get(l.accuracy)) {
    return std::nullopt;
  }
  l.event = event;
  l.fence = fence;
  return l;
}

class GeofenceCommand : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("orvloc-geofence-" + std::to_string(getpid()));
    fs::create_directories(dir_);
    write("fences.geojson", kFences);
    write("track.csv", kTrack);
  }
  void TearDown() override { fs::remove_all(dir_); }
  void write(const std::string& name, const std::string& text) {
    std::ofstream(dir_ / name) << text;
  }
  std::string path(const std::string& name) const { return "'" + (dir_ / name).string() + "'"; }
  orv::test::CliRun run(const std::string& args) const {
    return runShell(std::string(ORVLOC_PATH) + " geofence --fences " + path("fences.geojson") +
                    " " + args);
  }
  // "enter depot-3 +10" per line: kind, fence and time since the track's first row.
  static std::vector<std::string> events(const orv::test::CliRun& r, double firstRowTime) {
    std::vector<std::string> out;
    for (const auto& line : r.lines()) {
      const auto l = parseLine(line);
      EXPECT_TRUE(l.has_value()) << line;
      if (!l) continue;
      out.push_back(l->event + " " + l->fence + " +" +
                    std::to_string(std::lround(l->time - firstRowTime)));
    }
    return out;
  }
  fs::path dir_;
};

TEST_F(GeofenceCommand, ReplayGivesTheSameEventsAtEveryPace) {
  // Dwell 5 s: the first fix at least 5 s after the enter is the one at +20.
  const std::vector<std::string> expected = {"enter depot-3 +10", "dwell depot-3 +20",
                                             "exit depot-3 +30",  "enter yard +30",
                                             "dwell yard +34",    "exit yard +40"};
  for (const char* speed : {"0", "40"}) {
    const auto r =
        run("--dwell 5 --replay " + path("track.csv") + " --speed " + speed + " --agree");
    ASSERT_EQ(r.code, 0) << r.err;
    const auto lines = r.lines();
    ASSERT_FALSE(lines.empty());
    // The first event comes from the row 10 s into the track.
    const auto first = parseLine(lines[0]);
    ASSERT_TRUE(first.has_value()) << lines[0];
    EXPECT_EQ(events(r, first->time - 10), expected) << "speed " << speed;
    EXPECT_EQ(first->lat, 31.2304);
    EXPECT_EQ(first->lng, 121.4737);
    EXPECT_EQ(first->accuracy, 5.0);
  }
  const auto table = run("--replay " + path("track.csv") + " --speed 0 --agree --table");
  ASSERT_EQ(table.code, 0) << table.err;
  ASSERT_EQ(table.lines().size(), 6u);  // a header and five events (no default dwell)
  EXPECT_EQ(table.lines()[1].rfind("enter   depot-3", 0), 0u) << table.lines()[1];
}

TEST_F(GeofenceCommand, StateFileCarriesAStayAcrossRuns) {
  write(
      "inside.csv",
      "time,lat,lng,alt,hacc,vacc,speed\n0,31.2304,121.4737,0,5,5,0\n1,31.2304,121.4737,0,5,5,0\n");
  const std::string args =
      "--state " + path("state.db") + " --replay " + path("inside.csv") + " --speed 0 --agree";
  const auto first = run(args);
  ASSERT_EQ(first.code, 0) << first.err;
  EXPECT_EQ(first.lines().size(), 1u);
  const auto second = run(args);
  ASSERT_EQ(second.code, 0) << second.err;
  EXPECT_TRUE(second.lines().empty()) << second.out;

  write("bad.db", std::string(4096, 'x'));
  const auto refused =
      run("--state " + path("bad.db") + " --replay " + path("inside.csv") + " --agree");
  EXPECT_EQ(refused.code, 1);
  EXPECT_NE(refused.err.find("geofence state file"), std::string::npos) << refused.err;
}

TEST_F(GeofenceCommand, RefusalsAndUsage) {
  const auto noAgree = run("--replay " + path("track.csv"));
  EXPECT_EQ(noAgree.code, 1);
  EXPECT_NE(noAgree.err.find("您未同意隐私政策"), std::string::npos) << noAgree.err;
  EXPECT_EQ(run("--agree").code, 2);  // neither --replay nor --source
  write(
      "fences.geojson",
      R"({"type":"FeatureCollection","features":[{"id":"a","geometry":{"type":"Point","coordinates":[1,2]}}]})");
  const auto bad = run("--replay " + path("track.csv") + " --agree");
  EXPECT_EQ(bad.code, 1);
  EXPECT_NE(bad.err.find("feature 0: a Point needs properties.radius"), std::string::npos)
      << bad.err;
}

// A live source runs until SIGTERM and then ends cleanly. The signal goes once the first event
// is out, so the handler is in place however slowly the command starts.
TEST_F(GeofenceCommand, LiveSourceEndsOnSigterm) {
  write("slow.csv",
        "time,lat,lng,alt,hacc,vacc,speed\n0,31.2304,121.4737,0,5,5,0\n1000,31.2304,121.4737,0,5,5,"
        "0\n");
  const std::string events = path("events");
  const auto r =
      runShell("mkfifo " + events + " && { " + std::string(ORVLOC_PATH) + " geofence --fences " +
               path("fences.geojson") + " --source replay:" + path("slow.csv") + " --agree >" +
               events + " & pid=$!; exec 3<" + events +
               "; read -r first <&3; echo \"$first\"; kill -TERM $pid; cat <&3; "
               "wait $pid; }");
  EXPECT_EQ(r.code, 0) << r.err;
  ASSERT_EQ(r.lines().size(), 1u) << r.out;
  EXPECT_NE(r.lines()[0].find("\"event\":\"enter\""), std::string::npos) << r.out;
}

}  // namespace
