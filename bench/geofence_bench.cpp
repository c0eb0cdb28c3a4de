// Geofencing at scale: 100,000 fences (circles and polygons of 4-64 vertices) over a city and a
// 100,000-fix track through them.
//
// - BM_UpdatePerFix: the monitor, one fix per iteration; reports the median time per fix
//   (counter "median_ns") over the whole track, besides the mean Google Benchmark reports.
// - BM_BruteForcePerFix: every fence checked for every fix (no index, frame test per fence),
//   the baseline the index is compared with.
// - BM_Load: adding 100,000 fences; counters "bytes_per_fence" (heap growth less 16 bytes per
//   vertex) and "vertices".
// - BM_LoadGeoJson: the same fences from a GeoJSON document (parsed, checked and indexed).
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <GeographicLib/Geodesic.hpp>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "geofence/fence_shape.h"
#include "orv/geofence.h"

namespace {

constexpr orv::Coordinate kCity{31.2304, 121.4737};
constexpr double kCitySpan = 40000.0;  // metres, square
constexpr int kFences = 100000;
constexpr int kFixes = 100000;

orv::Coordinate offset(orv::Coordinate from, double east, double north) {
  double lat, lng;
  GeographicLib::Geodesic::WGS84().Direct(from.latitude, from.longitude,
                                          std::atan2(east, north) * 180 / M_PI,
                                          std::hypot(east, north), lat, lng);
  return {lat, lng};
}

const std::vector<orv::Geofence>& fences() {
  static const std::vector<orv::Geofence> all = [] {
    std::mt19937_64 rng(1);
    std::uniform_real_distribution<double> u(0, 1);
    std::vector<orv::Geofence> out;
    out.reserve(kFences);
    for (int i = 0; i < kFences; ++i) {
      orv::Geofence f;
      f.id = "site-" + std::to_string(i);
      const orv::Coordinate c =
          offset(kCity, (u(rng) - 0.5) * kCitySpan, (u(rng) - 0.5) * kCitySpan);
      const double radius = 30 + 170 * u(rng);
      if (i % 2 == 0) {
        f.shape = orv::GeofenceCircle{c, radius};
      } else {
        const int n = 4 + static_cast<int>(u(rng) * 61);
        orv::GeofencePolygon p;
        p.rings.emplace_back();
        for (int k = 0; k < n; ++k) {
          const double a = 2 * M_PI * k / n, r = radius * (0.5 + 0.5 * u(rng));
          // Metres to degrees locally: exact enough for test shapes.
          p.rings[0].push_back(
              {c.latitude + r * std::cos(a) / 110946.0, c.longitude + r * std::sin(a) / 95300.0});
        }
        f.shape = std::vector<orv::GeofencePolygon>{p};
      }
      if (i % 7 == 0) f.dwell = std::chrono::duration<double>(300);
      out.push_back(std::move(f));
    }
    return out;
  }();
  return all;
}

// A vehicle driving around the city: 10 m steps, turning now and then, 3-30 m accuracy.
const std::vector<orv::Location>& track() {
  static const std::vector<orv::Location> all = [] {
    std::mt19937_64 rng(2);
    std::uniform_real_distribution<double> u(0, 1);
    std::vector<orv::Location> out;
    double e = 0, n = 0, heading = 0;
    for (int i = 0; i < kFixes; ++i) {
      if (u(rng) < 0.01) heading = u(rng) * 2 * M_PI;
      e = std::clamp(e + 10 * std::sin(heading), -kCitySpan / 2, kCitySpan / 2);
      n = std::clamp(n + 10 * std::cos(heading), -kCitySpan / 2, kCitySpan / 2);
      orv::Location l;
      l.coordinate = {kCity.latitude + n / 110946.0, kCity.longitude + e / 95300.0};
      l.horizontalAccuracy = 3 + 27 * u(rng);
      l.timestamp = std::chrono::system_clock::time_point(std::chrono::seconds(1765090000 + i));
      out.push_back(l);
    }
    return out;
  }();
  return all;
}

orv::GeofenceMonitor& loadedMonitor() {
  static orv::GeofenceMonitor m = [] {
    orv::GeofenceMonitor mon;
    for (const auto& f : fences()) (void)mon.add(f);
    return mon;
  }();
  return m;
}

void BM_UpdatePerFix(benchmark::State& state) {
  auto& m = loadedMonitor();
  const auto& t = track();
  std::vector<double> ns;
  ns.reserve(t.size());
  std::size_t i = 0, events = 0;
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    auto r = m.update(t[i]);
    const auto end = std::chrono::steady_clock::now();
    events += r.ok() ? r->size() : 0;
    if (ns.size() < t.size())
      ns.push_back(std::chrono::duration<double, std::nano>(end - start).count());
    i = (i + 1) % t.size();
  }
  std::nth_element(ns.begin(), ns.begin() + ns.size() / 2, ns.end());
  state.counters["median_ns"] = ns.empty() ? 0 : ns[ns.size() / 2];
  state.counters["events"] = static_cast<double>(events);
}
BENCHMARK(BM_UpdatePerFix)->Iterations(kFixes);

void BM_BruteForcePerFix(benchmark::State& state) {
  static const std::vector<orv::detail::FenceShape> shapes = [] {
    std::vector<orv::detail::FenceShape> out;
    for (const auto& f : fences()) out.push_back(*orv::detail::compileShape(f));
    return out;
  }();
  const auto& t = track();
  std::size_t i = 0, inside = 0;
  for (auto _ : state) {
    const auto& l = t[i];
    for (const auto& s : shapes) {
      inside +=
          orv::detail::classify(s, l.coordinate, l.horizontalAccuracy) == orv::detail::Side::inside;
    }
    i = (i + 977) % t.size();
  }
  benchmark::DoNotOptimize(inside);
}
BENCHMARK(BM_BruteForcePerFix)->Iterations(200)->Unit(benchmark::kMicrosecond);

void BM_Load(benchmark::State& state) {
  std::size_t vertices = 0;
  for (const auto& f : fences()) {
    if (const auto* p = std::get_if<std::vector<orv::GeofencePolygon>>(&f.shape)) {
      for (const auto& poly : *p) {
        for (const auto& r : poly.rings) vertices += r.size();
      }
    }
  }
  double perFence = 0;
  for (auto _ : state) {
    const auto before = mallinfo2().uordblks;
    auto m = std::make_unique<orv::GeofenceMonitor>();
    (void)m->addAll(fences());
    const auto after = mallinfo2().uordblks;
    perFence = (static_cast<double>(after - before) - 16.0 * vertices) / kFences;
    state.PauseTiming();
    m.reset();
    state.ResumeTiming();
  }
  state.counters["bytes_per_fence"] = perFence;
  state.counters["vertices"] = static_cast<double>(vertices);
}
BENCHMARK(BM_Load)->Iterations(3)->Unit(benchmark::kMillisecond);

// The same fences as a GeoJSON FeatureCollection, parsed and added.
void BM_LoadGeoJson(benchmark::State& state) {
  std::string doc = R"({"type":"FeatureCollection","features":[)";
  char buf[64];
  for (const auto& f : fences()) {
    doc += R"({"type":"Feature","id":")" + f.id + R"(","properties":{)";
    if (const auto* c = std::get_if<orv::GeofenceCircle>(&f.shape)) {
      std::snprintf(buf, sizeof buf, R"("radius":%.3f},"geometry":{"type":"Point","coordinates":)",
                    c->radius);
      doc += buf;
      std::snprintf(buf, sizeof buf, "[%.9f,%.9f]}},", c->center.longitude, c->center.latitude);
      doc += buf;
      continue;
    }
    doc += R"(},"geometry":{"type":"Polygon","coordinates":[[)";
    const auto& ring = std::get<std::vector<orv::GeofencePolygon>>(f.shape)[0].rings[0];
    for (const auto& v : ring) {
      std::snprintf(buf, sizeof buf, "[%.9f,%.9f],", v.longitude, v.latitude);
      doc += buf;
    }
    doc.back() = ']';
    doc += "]}},";
  }
  doc.back() = ']';
  doc += '}';
  for (auto _ : state) {
    orv::GeofenceMonitor m;
    auto r = m.loadGeoJson(doc);
    if (!r.ok()) state.SkipWithError(r.error().message.c_str());
  }
  state.counters["bytes"] = static_cast<double>(doc.size());
}
BENCHMARK(BM_LoadGeoJson)->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
