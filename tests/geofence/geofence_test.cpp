// Known-answer tracks through each kind of fence, the fence checks, and the monitor's rules.
#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

#include "geofence_support.h"
#include "orv/convert.h"
#include "orv/geofence.h"

namespace {

using namespace geofence_test;
using orv::Coordinate;
using orv::Geofence;
using orv::GeofenceMonitor;
using orv::GeofencePolygon;

struct TrackCase {
  const char* name;
  Geofence fence;
  // Fix i is at (east(i), north(i)) metres from kOrigin, at time i, with `accuracy`.
  double east0, eastStep, north;
  int fixes;
  double accuracy;
  std::vector<std::string> expected;
};

std::vector<std::string> run(GeofenceMonitor& m, const TrackCase& c) {
  std::vector<std::string> out;
  for (int i = 0; i < c.fixes; ++i) {
    auto events = m.update(fix(at(c.east0 + i * c.eastStep, c.north), c.accuracy, i));
    EXPECT_TRUE(events.ok());
    for (const auto& e : *events) out.push_back(describe(e));
  }
  return out;
}

Geofence withDwell(Geofence f, double seconds) {
  f.dwell = std::chrono::duration<double>(seconds);
  return f;
}

TEST(GeofenceTrack, KnownAnswers) {
  // A U: two arms of 100 m with a 100 m notch between them, open to the north.
  const GeofencePolygon u{{ring(
      {{0, 0}, {300, 0}, {300, 300}, {200, 300}, {200, 100}, {100, 100}, {100, 300}, {0, 300}})}};
  const GeofencePolygon holed{{ring({{0, 0}, {400, 0}, {400, 400}, {0, 400}}),
                               ring({{150, 150}, {250, 150}, {250, 250}, {150, 250}})}};
  const GeofencePolygon left{{ring({{0, 0}, {100, 0}, {100, 100}, {0, 100}})}};
  const GeofencePolygon right{{ring({{300, 0}, {400, 0}, {400, 100}, {300, 100}})}};
  const std::vector<TrackCase> cases = {
      // West to east through a 100 m circle, 5 m accuracy, every 20 m: -100 and 100 are
      // uncertain, -80 enters, 120 exits; dwell 5 s after the enter.
      {"circle",
       withDwell(circle("c", kOrigin, 100), 5),
       -300,
       20,
       0,
       31,
       5,
       {"enter c@11", "dwell c@16", "exit c@21"}},
      // Poor accuracy: never 60 m clear of the edge on the inside, so nothing at all.
      {"circle, poor accuracy", circle("c", kOrigin, 100), -300, 20, 0, 31, 150, {}},
      {"concave",
       polygons("u", {u}),
       -50,
       20,
       200,
       21,
       5,
       {"enter u@3", "exit u@8", "enter u@13", "exit u@18"}},
      // Crossing the notch with 60 m accuracy: the arms are only 100 m wide, never inside.
      {"concave, poor accuracy", polygons("u", {u}), -50, 20, 200, 21, 60, {}},
      {"hole",
       polygons("h", {holed}),
       -50,
       20,
       200,
       26,
       5,
       {"enter h@3", "exit h@11", "enter h@16", "exit h@23"}},
      {"multipolygon",
       polygons("m", {left, right}),
       -50,
       20,
       50,
       26,
       5,
       {"enter m@3", "exit m@8", "enter m@18", "exit m@23"}},
      // Dwell 0 comes with the enter; a fence that reports only enters still tracks exits.
      {"dwell 0, enter only",
       [&] {
         Geofence f = withDwell(polygons("m", {left, right}), 0);
         f.transitions = static_cast<uint8_t>(orv::GeofenceEventKind::enter) |
                         static_cast<uint8_t>(orv::GeofenceEventKind::dwell);
         return f;
       }(),
       -50,
       20,
       50,
       26,
       5,
       {"enter m@3", "dwell m@3", "enter m@18", "dwell m@18"}},
  };
  for (const auto& c : cases) {
    GeofenceMonitor m;
    ASSERT_TRUE(m.add(c.fence).ok()) << c.name;
    EXPECT_EQ(run(m, c), c.expected) << c.name;
  }
}

TEST(GeofenceTrack, JitterAtTheEdgeGivesNoPairs) {
  GeofenceMonitor m;
  ASSERT_TRUE(m.add(circle("c", kOrigin, 100)).ok());
  std::vector<std::string> out;
  auto feed = [&](double east, double accuracy, double t) {
    const auto events = m.update(fix(at(east, 0), accuracy, t));
    for (const auto& e : *events) out.push_back(describe(e));
  };
  feed(0, 5, 0);
  for (int i = 1; i < 50; ++i) feed(i % 2 ? 97 : 103, 8, i);  // either side, within accuracy
  feed(200, 5, 50);
  EXPECT_EQ(out, (std::vector<std::string>{"enter c@0", "exit c@50"}));
}

TEST(GeofenceTrack, RulesOfTheStateMachine) {
  GeofenceMonitor m;
  ASSERT_TRUE(m.add(withDwell(circle("a", kOrigin, 100), 10)).ok());
  ASSERT_TRUE(m.add(circle("b", at(1000, 0), 100)).ok());
  std::vector<std::string> out;
  auto feed = [&](Coordinate c, double accuracy, double t) {
    auto r = m.update(fix(c, accuracy, t));
    ASSERT_TRUE(r.ok());
    for (const auto& e : *r) out.push_back(describe(e));
  };
  feed(at(500, 0), 5, 0);                                       // unknown -> outside: nothing
  feed(at(0, 0), std::numeric_limits<double>::quiet_NaN(), 1);  // NaN accuracy counts as 0
  feed(at(0, 0), 200'000, 20);  // useless accuracy: uncertain everywhere, but the stay goes on
  feed({std::numeric_limits<double>::quiet_NaN(), 0}, 5, 21);  // ignored
  feed(at(1000, 0), -1, 22);  // far from a: exit a without a candidate, enter b
  EXPECT_EQ(out, (std::vector<std::string>{"enter a@1", "dwell a@20", "exit a@22", "enter b@22"}));

  // Replacing a fence starts its state over; removing forgets it.
  out.clear();
  ASSERT_TRUE(m.add(circle("b", at(1000, 0), 150)).ok());
  feed(at(1000, 0), 5, 23);
  EXPECT_TRUE(m.remove("b"));
  EXPECT_FALSE(m.remove("b"));
  feed(at(1000, 0), 5, 24);
  EXPECT_EQ(out, (std::vector<std::string>{"enter b@23"}));
  EXPECT_EQ(m.size(), 1u);
}

TEST(GeofenceTrack, OtherDatumsAreConvertedOnAdd) {
  const Coordinate wgs = kOrigin;
  Coordinate gcj, bd;
  orv::convert(orv::Direction::wgsToGcj, std::span(&wgs, 1), std::span(&gcj, 1));
  orv::convert(orv::Direction::wgsToBaidu, std::span(&wgs, 1), std::span(&bd, 1));
  for (auto [datum, centre] :
       {std::pair{orv::Datum::gcj02, gcj}, std::pair{orv::Datum::bd09, bd}}) {
    GeofenceMonitor m;
    Geofence f = circle("c", centre, 30);  // the datum shift is hundreds of metres
    f.datum = datum;
    ASSERT_TRUE(m.add(f).ok());
    auto events = m.update(fix(wgs, 5, 0));
    ASSERT_TRUE(events.ok());
    ASSERT_EQ(events->size(), 1u);
    EXPECT_EQ((*events)[0].fix.coordinate.latitude, wgs.latitude);
  }
}

TEST(GeofenceValidation, BadFencesAreRefusedByName) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  auto poly = [](std::vector<Coordinate> r) {
    return polygons("f-1", {GeofencePolygon{{std::move(r)}}});
  };
  const std::vector<std::pair<Geofence, std::string>> cases = {
      {circle("f-1", kOrigin, 0), "radius must be above 0"},
      {circle("f-1", kOrigin, -5), "radius must be above 0"},
      {circle("f-1", kOrigin, nan), "radius must be above 0"},
      {circle("f-1", {nan, 121}, 10), "not a valid coordinate"},
      {circle("f-1", {91, 121}, 10), "not a valid coordinate"},
      {circle("f-1", {84.9999, 0}, 1000), "latitude 85"},
      {circle("f-1", {0, 179.9999}, 1000), "antimeridian"},
      {poly(ring({{0, 0}, {100, 0}, {0, 0}})), "fewer than 3 distinct vertices"},
      {poly(ring({{0, 0}, {100, 0}, {100, 0}, {0, 0}})), "fewer than 3 distinct vertices"},
      {poly({{31, 121}, {31, nan}, {32, 121}}), "not a valid coordinate"},
      {poly({{31, 121}, {31, 181}, {32, 121}}), "not a valid coordinate"},
      {poly(ring({{0, 0}, {100, 100}, {100, 0}, {0, 100}})), "self-intersecting ring"},
      {poly({{31, 121}, {31, 121.001}, {31, 121.0005}, {31.0005, 121.0005}}),
       "self-intersecting ring"},
      {poly({{10, 179.5}, {10, -179.5}, {11, -179.5}}), "antimeridian"},
      {poly({{10, 0}, {10, 5}, {11, 0}}), "larger than 500 km"},
      {polygons("f-1", {}), "has no polygon"},
  };
  for (const auto& [fence, what] : cases) {
    GeofenceMonitor m;
    auto r = m.add(fence);
    ASSERT_FALSE(r.ok()) << what;
    EXPECT_EQ(r.error().domain, orv::kGeofenceErrorDomain);
    EXPECT_NE(r.error().message.find("fence \"f-1\""), std::string::npos) << r.error().message;
    EXPECT_NE(r.error().message.find(what), std::string::npos) << r.error().message;
    EXPECT_EQ(m.size(), 0u);
  }
  // A closing vertex and repeated vertices are fine; so is either orientation.
  GeofenceMonitor m;
  EXPECT_TRUE(m.add(polygons("ok", {{{ring({{0, 0}, {0, 0}, {100, 0}, {0, 100}, {0, 0}})}}})).ok());
  EXPECT_TRUE(m.add(polygons("cw", {{{ring({{0, 0}, {0, 100}, {100, 0}})}}})).ok());
}

}  // namespace
