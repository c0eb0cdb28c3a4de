// The vector engine against the single forms, on every instruction set this CPU can run.
#include "orv/convert.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>
#include <random>
#include <tuple>
#include <vector>

#include "coords/convert_engine.h"
#include "orv/coord_transform.h"

namespace {

using orv::Coordinate;
using orv::Direction;
using orv::InverseMethod;
using orv::detail::EngineTarget;
using T = orv::JyrCoorTransform;

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// The single forms, in the order of Direction.
Coordinate (*const kSingle[])(Coordinate) = {
    T::transformFromWGSToGCJ,   T::transformFromGCJToWGS,   T::transformFromGCJToBaidu,
    T::transformFromBaiduToGCJ, T::transformFromWGSToBaidu, T::transformFromBaiduToWGS};

Coordinate single(Direction d, Coordinate c) { return kSingle[static_cast<int>(d)](c); }

// The same bits (any NaN matching any NaN), or within `tolerance` degree.
bool near(Coordinate a, Coordinate b, double tolerance = 0) {
  auto same = [tolerance](double x, double y) {
    return (std::isnan(x) && std::isnan(y)) ||
           std::bit_cast<uint64_t>(x) == std::bit_cast<uint64_t>(y) ||
           std::fabs(x - y) <= tolerance;
  };
  return same(a.latitude, b.latitude) && same(a.longitude, b.longitude);
}

// A grid over the region and a margin around it, random points worldwide, points far outside,
// and last the inputs that are not finite or too large for the vector functions, which the single
// forms take.
constexpr size_t kFar = 4, kOdd = 25;
const std::vector<Coordinate>& points() {
  static const std::vector<Coordinate> all = [] {
    std::vector<Coordinate> out;
    for (double lat = -0.2; lat <= 56.9; lat += 0.37) {
      for (double lng = 71.0; lng <= 138.9; lng += 0.41) out.push_back({lat, lng});
    }
    std::mt19937_64 random(20240607);
    std::uniform_real_distribution<double> lat(-90.0, 90.0), lng(-180.0, 180.0);
    for (int i = 0; i < 10000; ++i) out.push_back({lat(random), lng(random)});
    out.insert(out.end(), {{-33.9, -70.5}, {51.5, -0.12}, {-89.9, 179.9}, {70, 100}});
    for (const double a : {kNaN, kInf, -kInf, 1e300, -4e4}) {
      for (const double b : {kNaN, kInf, -kInf, 1e300, 5e4}) out.push_back({a, b});
    }
    return out;
  }();
  return all;
}

// The engine on coordinates; on columns it must give the same bits.
std::vector<Coordinate> engine(Direction d, std::span<const Coordinate> in,
                               InverseMethod m = InverseMethod::iterative) {
  std::vector<Coordinate> out(in.size());
  EXPECT_TRUE(orv::convert(d, in, out, m));
  std::vector<double> lat, lng, outLat(in.size()), outLng(in.size());
  for (const Coordinate c : in) lat.push_back(c.latitude), lng.push_back(c.longitude);
  EXPECT_TRUE(orv::convert(d, lat, lng, outLat, outLng, m));
  for (size_t i = 0; i < in.size(); ++i) {
    if (!near(out[i], {outLat[i], outLng[i]})) {
      ADD_FAILURE() << "columns differ, direction " << static_cast<int>(d) << " point " << i;
      break;
    }
  }
  return out;
}

class Engine : public testing::TestWithParam<EngineTarget> {
 protected:
  void SetUp() override {
    orv::detail::pinEngineTarget(GetParam().bits);
    ASSERT_EQ(std::string(orv::convertTarget()), GetParam().name);
  }
  void TearDown() override { orv::detail::pinEngineTarget(0); }
};

// The forward directions within the engine's bound, the search exactly, and the inputs the single
// forms take exactly in every direction; the iterative inverse differs from the search by design
// (see below), except far outside.
TEST_P(Engine, MatchesTheSingleForms) {
  using D = Direction;
  constexpr auto kIterative = InverseMethod::iterative, kSearch = InverseMethod::search;
  const std::tuple<Direction, InverseMethod, double, bool> rows[] = {
      {D::wgsToGcj, kIterative, 1e-10, false},   {D::gcjToBaidu, kIterative, 1e-10, false},
      {D::baiduToGcj, kIterative, 1e-10, false}, {D::wgsToBaidu, kIterative, 1e-10, false},
      {D::gcjToWgs, kSearch, 0, false},          {D::baiduToWgs, kSearch, 0, false},
      {D::gcjToWgs, kIterative, 1e-10, true},    {D::baiduToWgs, kIterative, 1e-10, true}};
  for (const auto& [d, m, tolerance, lastOnly] : rows) {
    const std::span<const Coordinate> in =
        lastOnly ? std::span(points()).last(kFar + kOdd) : std::span(points());
    const std::vector<Coordinate> out = engine(d, in, m);
    for (size_t i = 0; i < in.size(); ++i) {
      const Coordinate s = single(d, in[i]);
      ASSERT_TRUE(near(out[i], s, i + kOdd >= in.size() ? 0 : tolerance))
          << "direction " << static_cast<int>(d) << ": " << in[i].latitude << "," << in[i].longitude
          << " gives " << out[i].latitude << "," << out[i].longitude << " instead of " << s.latitude
          << "," << s.longitude;
    }
  }
}

TEST_P(Engine, IterativeInverseFindsThePreimage) {
  // Away from the region's edges every GCJ-02 point has a WGS-84 preimage.
  std::vector<Coordinate> wgs;
  for (const Coordinate c : points()) {
    if (c.latitude > 1.0 && c.latitude < 55.5 && c.longitude > 72.3 && c.longitude < 137.5) {
      wgs.push_back(c);
    }
  }
  const std::vector<Coordinate> back =
      engine(Direction::gcjToWgs, engine(Direction::wgsToGcj, wgs));
  // BD-09 to WGS-84 goes through GCJ-02: the result maps onto the GCJ-02 point.
  const std::vector<Coordinate> bd = engine(Direction::wgsToBaidu, wgs);
  const std::vector<Coordinate> image =
      engine(Direction::wgsToGcj, engine(Direction::baiduToWgs, bd));
  for (size_t i = 0; i < wgs.size(); ++i) {
    ASSERT_TRUE(near(back[i], wgs[i], 1e-10)) << wgs[i].latitude << "," << wgs[i].longitude;
    ASSERT_TRUE(near(image[i], single(Direction::baiduToGcj, bd[i]), 1e-9));
  }
}

// A point's result depends on nothing but the point: not its position in a vector, its
// neighbours, the layout or the alignment; in place too.
TEST_P(Engine, AnyLengthAnyAlignmentAndInPlace) {
  std::vector<Coordinate> all;
  for (int i = 0; i < 44; ++i) all.push_back({20.0 + i * 0.37, 100.0 + i * 0.53});
  all[9] = {-33.9, -70.5};
  all[17] = {kNaN, 116.4};
  for (const Direction d : {Direction::wgsToGcj, Direction::gcjToWgs, Direction::gcjToBaidu,
                            Direction::baiduToGcj, Direction::wgsToBaidu, Direction::baiduToWgs}) {
    const std::vector<Coordinate> whole = engine(d, all);
    for (size_t offset : {0, 1, 3}) {
      for (size_t n = 0; n + offset <= 41; ++n) {
        std::vector<Coordinate> buffer(all.begin() + offset, all.begin() + offset + n);
        std::vector<double> lat, lng;
        for (const Coordinate c : all) lat.push_back(c.latitude), lng.push_back(c.longitude);
        const std::span<double> la(lat.data() + offset, n), ln(lng.data() + offset, n);
        ASSERT_TRUE(orv::convert(d, buffer, buffer));
        ASSERT_TRUE(orv::convert(d, la, ln, la, ln));
        for (size_t i = 0; i < n; ++i) {
          ASSERT_TRUE(near(buffer[i], whole[offset + i]) && near({la[i], ln[i]}, whole[offset + i]))
              << "length " << n << " offset " << offset << " index " << i;
        }
      }
    }
  }
}

TEST_P(Engine, ShortOutputsAreRefusedUntouched) {
  const std::vector<Coordinate> in(5, Coordinate{39.9, 116.4});
  std::vector<Coordinate> out(4, Coordinate{1, 2});
  EXPECT_FALSE(orv::convert(Direction::wgsToGcj, in, out));
  EXPECT_EQ(out[0].latitude, 1);
  std::vector<double> lat(5, 39.9), lng(4, 116.4), outLat(5, 1), outLng(5, 1);
  EXPECT_FALSE(orv::convert(Direction::wgsToGcj, lat, lng, outLat, outLng));
  EXPECT_FALSE(orv::convert(Direction::wgsToGcj, lat, lat, outLat, lng));
  EXPECT_EQ(outLat[0], 1);
}

INSTANTIATE_TEST_SUITE_P(Targets, Engine, testing::ValuesIn(orv::detail::availableEngineTargets()),
                         [](const testing::TestParamInfo<EngineTarget>& info) {
                           return info.param.name;
                         });

}  // namespace
