// Random fences and tracks against a brute-force reference: exact geodesics on every edge of
// every fence, for every fix, with the rules applied fence by fence.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "geofence/fence_shape.h"
#include "geofence_support.h"
#include "orv/geofence.h"

namespace {

using namespace geofence_test;
using orv::Coordinate;
using orv::Geofence;
using orv::detail::Side;

// A random circle or star-shaped (hence simple) polygon of 4-64 vertices, some with holes,
// `size` metres across at most, centred near `centre`.
Geofence randomFence(std::mt19937_64& rng, int n, Coordinate centre, double size) {
  std::uniform_real_distribution<double> u(0, 1);
  const Coordinate c = at((u(rng) - 0.5) * 4 * size, (u(rng) - 0.5) * 4 * size, centre);
  Geofence f;
  f.id = "f" + std::to_string(n);
  if (u(rng) < 0.3) {
    f.dwell = std::chrono::duration<double>(std::floor(u(rng) * 20));
  }
  if (n % 3 == 0) {
    f.shape = orv::GeofenceCircle{c, size / 2 * (0.1 + 0.9 * u(rng))};
    return f;
  }
  const int vertices = 4 + static_cast<int>(u(rng) * 61);
  std::vector<double> angles(vertices);
  for (double& a : angles) a = u(rng) * 2 * M_PI;
  std::sort(angles.begin(), angles.end());
  angles.erase(std::unique(angles.begin(), angles.end()), angles.end());
  orv::GeofencePolygon p;
  p.rings.emplace_back();
  const double inner = size / 2 * 0.3;
  for (double a : angles) {
    const double r = inner + (size / 2 - inner) * u(rng);
    p.rings[0].push_back(at(r * std::sin(a), r * std::cos(a), c));
  }
  double maxGap = 2 * M_PI - angles.back() + angles.front();
  for (std::size_t i = 1; i < angles.size(); ++i)
    maxGap = std::max(maxGap, angles[i] - angles[i - 1]);
  if (n % 5 == 1 && maxGap < 0.8 * M_PI) {
    // A triangular hole inside every edge: an edge passes at least inner * cos(gap / 2) from c.
    const double r = inner * 0.8 * std::cos(maxGap / 2);
    p.rings.push_back({at(0, r, c), at(r * 0.87, -r / 2, c), at(-r * 0.87, -r / 2, c)});
  }
  f.shape = std::vector<orv::GeofencePolygon>{p};
  return f;
}

// The rules, fence by fence, with exact geodesics only.
std::vector<std::string> reference(const Geofence& f, const std::vector<orv::Location>& track) {
  auto shape = orv::detail::compileShape(f);
  EXPECT_TRUE(shape.ok());
  std::vector<std::string> out;
  bool inside = false, dwelt = false;
  double since = 0;
  for (const auto& l : track) {
    const double t = std::chrono::duration<double>(l.timestamp.time_since_epoch()).count();
    const Side s =
        orv::detail::classifyExact(*shape, l.coordinate, std::max(0.0, l.horizontalAccuracy));
    orv::GeofenceEvent e{orv::GeofenceEventKind::enter, f.id, l};
    if (s == Side::inside && !inside) {
      inside = true;
      dwelt = false;
      since = t;
      out.push_back(describe(e));
    } else if (s == Side::outside && inside) {
      inside = false;
      e.kind = orv::GeofenceEventKind::exit;
      out.push_back(describe(e));
    }
    if (inside && f.dwell && !dwelt && t - since >= f.dwell->count()) {
      dwelt = true;
      e.kind = orv::GeofenceEventKind::dwell;
      out.push_back(describe(e));
    }
  }
  return out;
}

// Fixes that wander near the fences' edges, with accuracies from 0 to 60 m.
std::vector<orv::Location> randomTrack(std::mt19937_64& rng, Coordinate centre, double spread,
                                       int count) {
  std::uniform_real_distribution<double> u(0, 1);
  std::vector<orv::Location> track;
  double e = 0, n = 0;
  for (int i = 0; i < count; ++i) {
    if (u(rng) < 0.05) {
      e = (u(rng) - 0.5) * spread;
      n = (u(rng) - 0.5) * spread;
    }
    e += (u(rng) - 0.5) * spread / 50;
    n += (u(rng) - 0.5) * spread / 50;
    const double accuracy = u(rng) < 0.1 ? 0.0 : u(rng) * 60;
    track.push_back(fix(at(e, n, centre), accuracy, i));
  }
  return track;
}

std::map<std::string, std::vector<std::string>> byFence(orv::GeofenceMonitor& m,
                                                        const std::vector<orv::Location>& track) {
  std::map<std::string, std::vector<std::string>> out;
  for (const auto& l : track) {
    auto events = m.update(l);
    EXPECT_TRUE(events.ok());
    for (const auto& e : *events) out[e.fenceId].push_back(describe(e));
  }
  return out;
}

TEST(GeofenceRandom, AloneAmongManyAndReferenceAgree) {
  struct Region {
    Coordinate centre;
    double fenceSize;  // metres across at most
  };
  // A city, large fences further north, and 50 km fences at 60 degrees.
  for (const Region region :
       {Region{kOrigin, 800}, Region{{45.0, 7.0}, 8000}, Region{{60.0, 25.0}, 50000}}) {
    std::mt19937_64 rng(42);
    std::size_t events = 0;
    std::vector<Geofence> fences;
    orv::GeofenceMonitor all;
    for (int i = 0; i < 120; ++i) {
      fences.push_back(randomFence(rng, i, region.centre, region.fenceSize));
      ASSERT_TRUE(all.add(fences.back()).ok()) << all.add(fences.back()).error().message;
    }
    const auto track = randomTrack(rng, region.centre, region.fenceSize * 6, 600);
    const auto together = byFence(all, track);
    // Enough traffic for the comparison to mean something.
    EXPECT_GT(together.size(), 20u);
    for (std::size_t i = 0; i < fences.size(); i += 5) {  // circles and polygons
      orv::GeofenceMonitor alone;
      ASSERT_TRUE(alone.add(fences[i]).ok());
      const auto mine = byFence(alone, track);
      const auto expected = reference(fences[i], track);
      const auto got =
          mine.count(fences[i].id) ? mine.at(fences[i].id) : std::vector<std::string>{};
      const auto amongMany =
          together.count(fences[i].id) ? together.at(fences[i].id) : std::vector<std::string>{};
      EXPECT_EQ(got, expected) << fences[i].id;
      EXPECT_EQ(amongMany, expected) << fences[i].id;
      events += expected.size();
    }
    EXPECT_GT(events, 10u);
  }
}

// The frame's error bound: wherever the fast path decides, exact geodesics decide the same.
TEST(GeofenceRandom, FrameAgreesWithGeodesicsNearEdges) {
  std::mt19937_64 rng(7);
  std::uniform_real_distribution<double> u(0, 1);
  int exactCalls = 0;
  for (const auto& [centre, size] :
       {std::pair{kOrigin, 2000.0}, std::pair{Coordinate{70, 20}, 50000.0},
        std::pair{Coordinate{-40, -70}, 50000.0}}) {
    for (int n = 1; n < 40; ++n) {
      const Geofence f = randomFence(rng, n, centre, size);
      auto shape = orv::detail::compileShape(f);
      ASSERT_TRUE(shape.ok());
      const auto& s = *shape;
      for (int k = 0; k < 100; ++k) {
        // Points on and just off the polygon's vertices and edges, or around the circle.
        Coordinate p;
        if (s.isCircle()) {
          const double a = u(rng) * 2 * M_PI, r = s.radius + (u(rng) - 0.5) * 4;
          p = at(r * std::sin(a), r * std::cos(a), {s.refLat, s.refLng});
        } else {
          const auto& v = s.pts[static_cast<std::size_t>(u(rng) * s.pts.size())];
          const auto& w = s.pts[static_cast<std::size_t>(u(rng) * s.pts.size())];
          const double t = u(rng) < 0.5 ? u(rng) : 0;
          p = {v.latitude + t * (w.latitude - v.latitude),
               v.longitude + t * (w.longitude - v.longitude)};
          p = at((u(rng) - 0.5) * 6, (u(rng) - 0.5) * 6, p);
        }
        const double accuracy = u(rng) < 0.3 ? 0.0 : u(rng) * 3;
        const Side exact = orv::detail::classifyExact(s, p, accuracy);
        ASSERT_EQ(orv::detail::classify(s, p, accuracy), exact)
            << f.id << " " << p.latitude << "," << p.longitude;
        ++exactCalls;
      }
    }
  }
  EXPECT_GT(exactCalls, 0);
}

}  // namespace
