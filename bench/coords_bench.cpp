// ns per point of the conversions, single and batch, beside the plain implementation.
#include <benchmark/benchmark.h>

#include <bit>
#include <vector>

#include "coords_plain.h"
#include "orv/coord_transform.h"

namespace {

using orv::Coordinate;
using T = orv::JyrCoorTransform;

// Points spread over the region, as WGS-84 and as their GCJ-02 images.
const std::vector<Coordinate>& wgsPoints() {
  static const std::vector<Coordinate> points = [] {
    std::vector<Coordinate> p;
    for (int i = 0; i < 64; ++i) {
      for (int j = 0; j < 64; ++j) p.push_back({18.0 + i * 0.5137, 75.0 + j * 0.9713});
    }
    return p;
  }();
  return points;
}

const std::vector<Coordinate>& gcjPoints() {
  static const std::vector<Coordinate> points = [] {
    std::vector<Coordinate> p;
    for (const Coordinate c : wgsPoints()) p.push_back(plain::wgsToGcj(c));
    return p;
  }();
  return points;
}

void perPoint(benchmark::State& state, size_t points) {
  // Seconds per point, shown with an SI prefix ("150n" is 150 ns).
  state.counters["per_point"] = benchmark::Counter(
      static_cast<double>(points),
      benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

template <Coordinate (*F)(Coordinate)>
void single(benchmark::State& state, const std::vector<Coordinate>& in) {
  for (auto _ : state) {
    for (const Coordinate c : in) benchmark::DoNotOptimize(F(c));
  }
  perPoint(state, in.size());
}

void BM_WgsToGcj_Plain(benchmark::State& s) { single<plain::wgsToGcj>(s, wgsPoints()); }
void BM_WgsToGcj_Single(benchmark::State& s) { single<T::transformFromWGSToGCJ>(s, wgsPoints()); }
void BM_WgsToGcj_Batch(benchmark::State& s) {
  std::vector<Coordinate> out(wgsPoints().size());
  for (auto _ : s) {
    T::transformFromWGSToGCJ(wgsPoints(), out);
    benchmark::DoNotOptimize(out.data());
  }
  perPoint(s, out.size());
}

Coordinate plainInverse(Coordinate g) { return plain::gcjToWgs(g); }

void BM_GcjToWgs_Plain(benchmark::State& s) { single<plainInverse>(s, gcjPoints()); }
void BM_GcjToWgs_Single(benchmark::State& s) {
  // The speed only counts with the same answers: every point where the plain search meets its
  // tolerance must come out bit for bit the same.
  for (const Coordinate g : gcjPoints()) {
    bool met = false;
    const Coordinate p = plain::gcjToWgs(g, &met);
    const Coordinate q = T::transformFromGCJToWGS(g);
    if (met && (std::bit_cast<uint64_t>(p.latitude) != std::bit_cast<uint64_t>(q.latitude) ||
                std::bit_cast<uint64_t>(p.longitude) != std::bit_cast<uint64_t>(q.longitude))) {
      s.SkipWithError("results differ from the plain search");
      return;
    }
  }
  single<T::transformFromGCJToWGS>(s, gcjPoints());
}
void BM_GcjToWgs_Batch(benchmark::State& s) {
  std::vector<Coordinate> out(gcjPoints().size());
  for (auto _ : s) {
    T::transformFromGCJToWGS(gcjPoints(), out);
    benchmark::DoNotOptimize(out.data());
  }
  perPoint(s, out.size());
}

void BM_GcjToBaidu_Batch(benchmark::State& s) {
  std::vector<Coordinate> out(gcjPoints().size());
  for (auto _ : s) {
    T::transformFromGCJToBaidu(gcjPoints(), out);
    benchmark::DoNotOptimize(out.data());
  }
  perPoint(s, out.size());
}

BENCHMARK(BM_WgsToGcj_Plain);
BENCHMARK(BM_WgsToGcj_Single);
BENCHMARK(BM_WgsToGcj_Batch);
BENCHMARK(BM_GcjToWgs_Plain);
BENCHMARK(BM_GcjToWgs_Single);
BENCHMARK(BM_GcjToWgs_Batch);
BENCHMARK(BM_GcjToBaidu_Batch);

}  // namespace

BENCHMARK_MAIN();
