// GeoJSON import, and the state file: resuming after a restart, refusing foreign files, and a
// kill -9 in the middle of a run.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "geofence_support.h"
#include "orv/geofence.h"

namespace {

using namespace geofence_test;
namespace fs = std::filesystem;

TEST(GeofenceGeoJson, FeaturesBecomeFences) {
  const std::string doc = R"({"type":"FeatureCollection","features":[
    {"type":"Feature","id":"depot-1",
     "geometry":{"type":"Point","coordinates":[121.4737,31.2304]},"properties":{"radius":50,"dwell":60}},
    {"type":"Feature","properties":{"id":7,"datum":"GCJ-02"},
     "geometry":{"type":"Polygon","coordinates":[[[121.47,31.23],[121.48,31.23],[121.48,31.24],[121.47,31.23]]]}},
    {"type":"Feature","id":8,"geometry":{"type":"MultiPolygon","coordinates":[
      [[[121.47,31.23],[121.48,31.23],[121.48,31.24]]],
      [[[121.5,31.23],[121.51,31.23],[121.51,31.24]],[[121.505,31.231],[121.506,31.231],[121.506,31.232]]]]}}
  ]})";
  auto fences = orv::parseGeofences(doc, orv::Datum::bd09);
  ASSERT_TRUE(fences.ok()) << fences.error().message;
  ASSERT_EQ(fences->size(), 3u);
  const auto& f = *fences;
  EXPECT_EQ(f[0].id, "depot-1");
  EXPECT_EQ(f[0].datum, orv::Datum::bd09);
  ASSERT_TRUE(f[0].dwell.has_value());
  EXPECT_EQ(f[0].dwell->count(), 60.0);
  const auto& c = std::get<orv::GeofenceCircle>(f[0].shape);
  EXPECT_EQ(c.center.latitude, 31.2304);
  EXPECT_EQ(c.center.longitude, 121.4737);
  EXPECT_EQ(c.radius, 50.0);
  EXPECT_EQ(f[1].id, "7");
  EXPECT_EQ(f[1].datum, orv::Datum::gcj02);
  EXPECT_FALSE(f[1].dwell.has_value());
  EXPECT_EQ(std::get<std::vector<orv::GeofencePolygon>>(f[1].shape)[0].rings[0].size(), 4u);
  const auto& multi = std::get<std::vector<orv::GeofencePolygon>>(f[2].shape);
  ASSERT_EQ(multi.size(), 2u);
  EXPECT_EQ(multi[1].rings.size(), 2u);
  EXPECT_EQ(multi[1].rings[1][0].latitude, 31.231);

  orv::GeofenceMonitor m;
  auto loaded = m.loadGeoJson(doc);
  ASSERT_TRUE(loaded.ok()) << loaded.error().message;
  EXPECT_EQ(*loaded, 3u);
}

TEST(GeofenceGeoJson, ErrorsNameTheFeature) {
  auto wrap = [](std::string feature) {
    return R"({"type":"FeatureCollection","features":[{"type":"Feature","id":"a","properties":{"radius":5},"geometry":{"type":"Point","coordinates":[121,31]}},)" +
           feature + "]}";
  };
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"[]", "not a FeatureCollection"},
      {"{\"type\":", "GeoJSON: not valid JSON"},
      {R"({"type":"Feature"})", "not a FeatureCollection"},
      {wrap("3"), "feature 1: not an object"},
      {wrap(R"({"geometry":{"type":"Point","coordinates":[1,2]},"properties":{"radius":5}})"),
       "feature 1: no id"},
      {wrap(R"({"id":true,"geometry":{"type":"Point","coordinates":[1,2]}})"),
       "feature 1: id must be"},
      {wrap(R"({"id":"b","geometry":{"type":"Point","coordinates":[1,2]}})"),
       "feature 1: a Point needs properties.radius"},
      {wrap(R"({"id":"b","geometry":{"type":"LineString","coordinates":[[1,2],[3,4]]}})"),
       "feature 1: geometry type \"LineString\""},
      {wrap(R"({"id":"b","geometry":{"type":"Polygon","coordinates":[[[1,2],[3]]]}})"),
       "feature 1: a position must be"},
      {wrap(
           R"({"id":"b","properties":{"dwell":-1},"geometry":{"type":"Point","coordinates":[1,2]}})"),
       "feature 1: properties.dwell"},
      {wrap(
           R"({"id":"b","properties":{"datum":"osgb"},"geometry":{"type":"Point","coordinates":[1,2]}})"),
       "feature 1: properties.datum"},
      {wrap(R"({"id":"b","geometry":{"type":"Polygon"}})"), "feature 1: geometry must be"},
      // Parsed, then refused by the monitor: the feature and the fence are both named.
      {wrap(
           R"({"id":"b","properties":{"radius":0},"geometry":{"type":"Point","coordinates":[1,2]}})"),
       "feature 1: fence \"b\": radius must be above 0"},
  };
  for (const auto& [doc, what] : cases) {
    orv::GeofenceMonitor m;
    auto r = m.loadGeoJson(doc);
    ASSERT_FALSE(r.ok()) << doc;
    EXPECT_EQ(r.error().code, static_cast<int64_t>(what.find("fence \"") != std::string::npos
                                                       ? orv::GeofenceErrorCode::invalidFence
                                                       : orv::GeofenceErrorCode::invalidGeoJson));
    EXPECT_NE(r.error().message.find(what), std::string::npos) << r.error().message;
    EXPECT_EQ(m.size(), 0u) << "all or none";
  }
}

class GeofenceStateFile : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("orv-geofence-" + std::to_string(getpid()));
    fs::create_directories(dir_);
    path_ = (dir_ / "state.db").string();
  }
  void TearDown() override { fs::remove_all(dir_); }

  static orv::GeofenceMonitor open(const std::string& path) {
    auto m = orv::GeofenceMonitor::open(path);
    EXPECT_TRUE(m.ok()) << m.error().message;
    orv::Geofence f = circle("depot", kOrigin, 100);
    f.dwell = std::chrono::duration<double>(10);
    EXPECT_TRUE(m->add(f).ok());
    EXPECT_TRUE(m->add(circle("yard", at(1000, 0), 100)).ok());
    return std::move(*m);
  }
  static std::vector<std::string> feed(orv::GeofenceMonitor& m, double east, double t) {
    auto r = m.update(fix(at(east, 0), 5, t));
    EXPECT_TRUE(r.ok());
    std::vector<std::string> out;
    for (const auto& e : *r) out.push_back(describe(e));
    return out;
  }
  fs::path dir_;
  std::string path_;
};

using Events = std::vector<std::string>;

TEST_F(GeofenceStateFile, RestartResumesStaysAndDwells) {
  {
    auto m = open(path_);
    EXPECT_EQ(feed(m, 0, 100), Events{"enter depot@100"});
  }
  {  // Mid-stay: no second enter; the dwell counts from the first enter.
    auto m = open(path_);
    EXPECT_EQ(feed(m, 0, 105), Events{});
    EXPECT_EQ(feed(m, 0, 110), Events{"dwell depot@110"});
  }
  {  // After the dwell: neither enter nor dwell again; the exit still comes.
    auto m = open(path_);
    EXPECT_EQ(feed(m, 0, 120), Events{});
    EXPECT_EQ(feed(m, 1000, 130), (Events{"exit depot@130", "enter yard@130"}));
  }
  {  // Replacing a fence forgets its recorded stay.
    auto m = open(path_);
    EXPECT_TRUE(m.add(circle("yard", at(1000, 0), 120)).ok());
    EXPECT_EQ(feed(m, 1000, 140), Events{"enter yard@140"});
  }
}

TEST_F(GeofenceStateFile, ForeignAndCorruptFilesAreRefused) {
  auto expectRefused = [&](const std::string& what) {
    auto m = orv::GeofenceMonitor::open(path_);
    ASSERT_FALSE(m.ok()) << what;
    EXPECT_EQ(m.error().code, static_cast<int64_t>(orv::GeofenceErrorCode::stateFile));
    EXPECT_NE(m.error().message.find(what), std::string::npos) << m.error().message;
  };
  std::ofstream(path_) << std::string(4096, 'x');
  expectRefused("corrupt or not a state file");
  fs::remove(path_);
  { auto m = open(path_); }
  // Another version of the file.
  auto python = [&](const std::string& statements) {
    return std::system(("/usr/bin/python3 -c \"import sqlite3; c=sqlite3.connect('" + path_ +
                        "'); c.executescript('" + statements + "')\"")
                           .c_str());
  };
  ASSERT_EQ(python("PRAGMA user_version=2"), 0);
  expectRefused("has version 2; this library reads version 1");
  fs::remove(path_);
  ASSERT_EQ(python("CREATE TABLE t(x)"), 0);
  expectRefused("is not a geofence state file");
}

// A child runs a long track and is killed at some moment; a restarted monitor goes on. Every
// event the child delivered (printed after update returned) must not come again, and together
// they must be the events of an uninterrupted run.
TEST_F(GeofenceStateFile, KillDuringARunRepeatsNothing) {
  // Back and forth between the two fences: enter/exit pairs and dwells.
  auto position = [](int i) { return (i / 15) % 2 == 0 ? 0.0 : 1000.0; };
  constexpr int kFixes = 300;
  Events uninterrupted;
  {
    orv::GeofenceMonitor m = open((dir_ / "reference.db").string());
    for (int i = 0; i < kFixes; ++i) {
      for (auto& e : feed(m, position(i), i)) uninterrupted.push_back(e);
    }
  }
  for (int killAfter : {3, 17, 40}) {
    fs::remove(path_);
    fs::remove(path_ + "-wal");
    fs::remove(path_ + "-shm");
    int pipeFd[2];
    ASSERT_EQ(pipe(pipeFd), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      close(pipeFd[0]);
      orv::GeofenceMonitor m = open(path_);
      int delivered = 0;
      for (int i = 0; i < kFixes; ++i) {
        for (auto& e : feed(m, position(i), i)) {
          const std::string line = e + "\n";
          if (write(pipeFd[1], line.data(), line.size()) < 0) _exit(2);
          if (++delivered == killAfter) raise(SIGKILL);
        }
      }
      _exit(0);
    }
    close(pipeFd[1]);
    std::string text;
    char buf[4096];
    for (ssize_t n; (n = read(pipeFd[0], buf, sizeof buf)) > 0;) text.append(buf, n);
    close(pipeFd[0]);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
    Events all;
    for (std::size_t at = 0, nl; (nl = text.find('\n', at)) != std::string::npos; at = nl + 1) {
      all.push_back(text.substr(at, nl - at));
    }
    ASSERT_EQ(all.size(), static_cast<std::size_t>(killAfter));
    // Restart from the fix after the one being delivered. That fix's state was recorded before
    // any of its events went out, so the rest of its events are lost, never repeated.
    const std::string killedAt = all.back().substr(all.back().find('@'));
    const int resumeAt = std::stoi(killedAt.substr(1)) + 1;
    Events expected;
    for (const auto& e : uninterrupted) {
      const bool ofKilledFix = e.substr(e.find('@')) == killedAt;
      if (!ofKilledFix || std::find(all.begin(), all.end(), e) != all.end()) expected.push_back(e);
    }
    orv::GeofenceMonitor m = open(path_);
    for (int i = resumeAt; i < kFixes; ++i) {
      for (auto& e : feed(m, position(i), i)) all.push_back(e);
    }
    EXPECT_EQ(all, expected) << "killed after " << killAfter << " events";
  }
}

}  // namespace
