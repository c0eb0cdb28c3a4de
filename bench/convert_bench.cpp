// ns per point of each conversion direction on 1,000,000 points: the single form, the
// JyrCoorTransform batch form, and the vector engine on every instruction set this CPU runs.
// After the table, the speed-ups against the single form.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "coords/convert_engine.h"
#include "orv/convert.h"
#include "orv/coord_transform.h"

namespace {

using orv::Coordinate;
using orv::Direction;
using T = orv::JyrCoorTransform;

// The coordinate benchmark's ranges (latitude from 18 by 64 × 0.5137, longitude from 75 by
// 64 × 0.9713), sampled on a 1000 × 1000 grid.
const std::vector<Coordinate>& wgsPoints() {
  static const std::vector<Coordinate> points = [] {
    std::vector<Coordinate> p;
    p.reserve(1000000);
    for (int i = 0; i < 1000; ++i) {
      for (int j = 0; j < 1000; ++j) {
        p.push_back({18.0 + i * (64 * 0.5137 / 1000), 75.0 + j * (64 * 0.9713 / 1000)});
      }
    }
    return p;
  }();
  return points;
}

// The input of each direction: the grid expressed in the direction's source system.
const std::vector<Coordinate>& inputOf(Direction d) {
  static std::map<Direction, std::vector<Coordinate>> inputs;
  auto& in = inputs[d];
  if (in.empty()) {
    in = wgsPoints();
    if (d == Direction::gcjToWgs || d == Direction::gcjToBaidu) {
      T::transformFromWGSToGCJ(in, in);
    } else if (d == Direction::baiduToGcj || d == Direction::baiduToWgs) {
      T::transformFromWGSToBaidu(in, in);
    }
  }
  return in;
}

struct Way {
  Direction direction;
  const char* name;
  Coordinate (*single)(Coordinate);
  bool (*batch)(std::span<const Coordinate>, std::span<Coordinate>);
};

const Way kWays[] = {
    {Direction::wgsToGcj, "WgsToGcj", T::transformFromWGSToGCJ, T::transformFromWGSToGCJ},
    {Direction::gcjToWgs, "GcjToWgs", T::transformFromGCJToWGS, T::transformFromGCJToWGS},
    {Direction::gcjToBaidu, "GcjToBaidu", T::transformFromGCJToBaidu, T::transformFromGCJToBaidu},
    {Direction::baiduToGcj, "BaiduToGcj", T::transformFromBaiduToGCJ, T::transformFromBaiduToGCJ},
    {Direction::wgsToBaidu, "WgsToBaidu", T::transformFromWGSToBaidu, T::transformFromWGSToBaidu},
    {Direction::baiduToWgs, "BaiduToWgs", T::transformFromBaiduToWGS, T::transformFromBaiduToWGS},
};

bool isInverse(Direction d) { return d == Direction::gcjToWgs || d == Direction::baiduToWgs; }

void perPoint(benchmark::State& state, size_t points) {
  state.counters["per_point"] = benchmark::Counter(
      static_cast<double>(points),
      benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void single(benchmark::State& state, const Way& way) {
  const auto& in = inputOf(way.direction);
  for (auto _ : state) {
    for (const Coordinate c : in) benchmark::DoNotOptimize(way.single(c));
  }
  perPoint(state, in.size());
}

void batch(benchmark::State& state, const Way& way) {
  const auto& in = inputOf(way.direction);
  std::vector<Coordinate> out(in.size());
  for (auto _ : state) {
    way.batch(in, out);
    benchmark::DoNotOptimize(out.data());
  }
  perPoint(state, in.size());
}

void engine(benchmark::State& state, const Way& way, int64_t target, orv::InverseMethod method) {
  orv::detail::pinEngineTarget(target);
  const auto& in = inputOf(way.direction);
  std::vector<Coordinate> out(in.size());
  for (auto _ : state) {
    orv::convert(way.direction, in, out, method);
    benchmark::DoNotOptimize(out.data());
  }
  perPoint(state, in.size());
  if (isInverse(way.direction)) {
    // Largest distance in degrees from the true preimage, the grid point.
    double worst = 0;
    for (size_t i = 0; i < out.size(); ++i) {
      worst = std::fmax(worst, std::fmax(std::fabs(out[i].latitude - wgsPoints()[i].latitude),
                                         std::fabs(out[i].longitude - wgsPoints()[i].longitude)));
    }
    if (way.direction == Direction::gcjToWgs) state.counters["max_error_deg"] = worst;
  }
  orv::detail::pinEngineTarget(0);
}

// Remembers ns per point of each run and prints the speed-ups at the end.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      const auto it = run.counters.find("per_point");
      if (it != run.counters.end()) perPoint_[run.benchmark_name()] = it->second.value * 1e9;
    }
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    std::printf("\nspeed-up against the single form (ns per point in brackets)\n");
    for (const Way& way : kWays) {
      const std::string prefix = std::string(way.name) + "/";
      const auto base = perPoint_.find(prefix + "Single");
      if (base == perPoint_.end()) continue;
      std::printf("%-11s single %.1f ns:", way.name, base->second);
      for (const auto& [name, ns] : perPoint_) {
        if (name.rfind(prefix, 0) != 0 || name == base->first) continue;
        std::printf("  %s %.1fx (%.1f)", name.c_str() + prefix.size(), base->second / ns, ns);
      }
      std::printf("\n");
    }
  }

 private:
  std::map<std::string, double> perPoint_;
};

}  // namespace

int main(int argc, char** argv) {
  for (const Way& way : kWays) {
    const std::string name = way.name;
    benchmark::RegisterBenchmark((name + "/Single").c_str(), single, way);
    benchmark::RegisterBenchmark((name + "/Batch").c_str(), batch, way);
    for (const auto& target : orv::detail::availableEngineTargets()) {
      benchmark::RegisterBenchmark((name + "/Engine_" + target.name).c_str(), engine, way,
                                   target.bits, orv::InverseMethod::iterative);
    }
    if (isInverse(way.direction)) {
      benchmark::RegisterBenchmark((name + "/Engine_search").c_str(), engine, way, 0,
                                   orv::InverseMethod::search);
    }
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
