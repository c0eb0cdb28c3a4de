// The vector engine against the single forms, on every instruction set this CPU can run.
#include "orv/convert.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>
#include <random>
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

Coordinate single(Direction d, Coordinate c) {
  switch (d) {
    case Direction::wgsToGcj:
      return T::transformFromWGSToGCJ(c);
    case Direction::gcjToWgs:
      return T::transformFromGCJToWGS(c);
    case Direction::gcjToBaidu:
      return T::transformFromGCJToBaidu(c);
    case Direction::baiduToGcj:
      return T::transformFromBaiduToGCJ(c);
    case Direction::wgsToBaidu:
      return T::transformFromWGSToBaidu(c);
    case Direction::baiduToWgs:
      return T::transformFromBaiduToWGS(c);
  }
  return c;
}

bool sameValue(double a, double b) {
  return (std::isnan(a) && std::isnan(b)) ||
         std::bit_cast<uint64_t>(a) == std::bit_cast<uint64_t>(b);
}

double maxError(Coordinate a, Coordinate b) {
  return std::fmax(std::fabs(a.latitude - b.latitude), std::fabs(a.longitude - b.longitude));
}

// A dense grid over the region and a margin around it, and random points worldwide.
std::vector<Coordinate> testPoints() {
  std::vector<Coordinate> points;
  for (double lat = -0.2; lat <= 56.9; lat += 0.131) {
    for (double lng = 71.0; lng <= 138.9; lng += 0.173) points.push_back({lat, lng});
  }
  std::mt19937_64 random(20240607);
  std::uniform_real_distribution<double> lat(-90.0, 90.0), lng(-180.0, 180.0);
  for (int i = 0; i < 50000; ++i) points.push_back({lat(random), lng(random)});
  return points;
}

const std::vector<Coordinate>& points() {
  static const std::vector<Coordinate> p = testPoints();
  return p;
}

std::vector<Coordinate> engine(Direction d, std::span<const Coordinate> in,
                               InverseMethod m = InverseMethod::iterative) {
  std::vector<Coordinate> out(in.size());
  EXPECT_TRUE(orv::convert(d, in, out, m));
  return out;
}

}  // namespace
namespace orv::detail {
void PrintTo(const EngineTarget& t, std::ostream* os) { *os << t.name; }
}  // namespace orv::detail
namespace {

std::string targetName(const testing::TestParamInfo<EngineTarget>& info) { return info.param.name; }

class Engine : public testing::TestWithParam<EngineTarget> {
 protected:
  void SetUp() override {
    orv::detail::pinEngineTarget(GetParam().bits);
    ASSERT_EQ(std::string(orv::convertTarget()), GetParam().name);
  }
  void TearDown() override { orv::detail::pinEngineTarget(0); }
};

const Direction kForward[] = {Direction::wgsToGcj, Direction::gcjToBaidu, Direction::baiduToGcj,
                              Direction::wgsToBaidu};
const Direction kAll[] = {Direction::wgsToGcj,   Direction::gcjToWgs,   Direction::gcjToBaidu,
                          Direction::baiduToGcj, Direction::wgsToBaidu, Direction::baiduToWgs};

TEST_P(Engine, ForwardDirectionsWithinBoundOfSingleForms) {
  for (const Direction d : kForward) {
    const std::vector<Coordinate> out = engine(d, points());
    double worst = 0;
    for (size_t i = 0; i < out.size(); ++i) {
      worst = std::fmax(worst, maxError(out[i], single(d, points()[i])));
    }
    EXPECT_LE(worst, 1e-10) << "direction " << static_cast<int>(d);
  }
}

TEST_P(Engine, ColumnsGiveTheSameBitsAsCoordinates) {
  std::vector<double> lat, lng;
  for (const Coordinate c : points()) lat.push_back(c.latitude), lng.push_back(c.longitude);
  for (const Direction d : kAll) {
    const std::vector<Coordinate> expected = engine(d, points());
    std::vector<double> outLat(lat.size()), outLng(lng.size());
    ASSERT_TRUE(orv::convert(d, lat, lng, outLat, outLng));
    for (size_t i = 0; i < expected.size(); ++i) {
      ASSERT_TRUE(sameValue(outLat[i], expected[i].latitude) &&
                  sameValue(outLng[i], expected[i].longitude))
          << "direction " << static_cast<int>(d) << " point " << i;
    }
  }
}

TEST_P(Engine, SearchGivesTheSingleFormsExactly) {
  const std::span<const Coordinate> some(points().data(), 20000);
  for (const Direction d : {Direction::gcjToWgs, Direction::baiduToWgs}) {
    const std::vector<Coordinate> out = engine(d, some, InverseMethod::search);
    for (size_t i = 0; i < out.size(); ++i) {
      const Coordinate s = single(d, some[i]);
      ASSERT_TRUE(sameValue(out[i].latitude, s.latitude) &&
                  sameValue(out[i].longitude, s.longitude))
          << some[i].latitude << "," << some[i].longitude;
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
  const std::vector<Coordinate> gcj = engine(Direction::wgsToGcj, wgs);
  const std::vector<Coordinate> back = engine(Direction::gcjToWgs, gcj);
  double worst = 0;
  for (size_t i = 0; i < wgs.size(); ++i) worst = std::fmax(worst, maxError(back[i], wgs[i]));
  EXPECT_LE(worst, 1e-10);

  // BD-09 to WGS-84 goes through GCJ-02: the result maps onto the GCJ-02 point.
  const std::vector<Coordinate> bd = engine(Direction::wgsToBaidu, wgs);
  const std::vector<Coordinate> fromBd = engine(Direction::baiduToWgs, bd);
  const std::vector<Coordinate> image = engine(Direction::wgsToGcj, fromBd);
  worst = 0;
  for (size_t i = 0; i < wgs.size(); ++i) {
    worst = std::fmax(worst, maxError(image[i], single(Direction::baiduToGcj, bd[i])));
  }
  EXPECT_LE(worst, 1e-9);

  // Far outside, the inverse leaves points where the single form does.
  const std::vector<Coordinate> far = {{-33.9, -70.5}, {51.5, -0.12}, {-89.9, 179.9}, {70, 100}};
  const std::vector<Coordinate> out = engine(Direction::gcjToWgs, far);
  for (size_t i = 0; i < far.size(); ++i)
    EXPECT_LE(maxError(out[i], single(Direction::gcjToWgs, far[i])), 1e-10);
}

TEST_P(Engine, NonFiniteAndHugeInputsGiveWhatTheSingleFormsGive) {
  std::vector<Coordinate> odd;
  for (const double a : {kNaN, kInf, -kInf, 1e300, -4e4, 39.9}) {
    for (const double b : {kNaN, kInf, -kInf, 1e300, 5e4, 116.4}) odd.push_back({a, b});
  }
  for (const Direction d : kAll) {
    for (const InverseMethod m : {InverseMethod::iterative, InverseMethod::search}) {
      const std::vector<Coordinate> out = engine(d, odd, m);
      for (size_t i = 0; i + 1 < odd.size(); ++i) {  // the last one is an ordinary point
        const Coordinate s = single(d, odd[i]);
        EXPECT_TRUE(sameValue(out[i].latitude, s.latitude) &&
                    sameValue(out[i].longitude, s.longitude))
            << "direction " << static_cast<int>(d) << ": " << odd[i].latitude << ","
            << odd[i].longitude << " gives " << out[i].latitude << "," << out[i].longitude;
      }
    }
  }
}

// A point's result depends on nothing but the point: not its position in a vector, its
// neighbours, the layout or the alignment.
TEST_P(Engine, AnyLengthAnyAlignmentAndInPlace) {
  // Points inside the region, with an outside one and one that is not finite among them.
  std::vector<Coordinate> all;
  for (int i = 0; i < 64; ++i) all.push_back({20.0 + i * 0.37, 100.0 + i * 0.53});
  all[9] = {-33.9, -70.5};
  all[17] = {kNaN, 116.4};
  for (const Direction d : kAll) {
    const std::vector<Coordinate> whole = engine(d, all);
    for (size_t offset : {0, 1, 3}) {
      for (size_t n = 0; n + offset <= 41; ++n) {
        std::vector<Coordinate> buffer(all.begin() + offset, all.begin() + offset + n);
        ASSERT_TRUE(orv::convert(d, buffer, buffer));  // in place
        for (size_t i = 0; i < n; ++i) {
          ASSERT_TRUE(sameValue(buffer[i].latitude, whole[offset + i].latitude) &&
                      sameValue(buffer[i].longitude, whole[offset + i].longitude))
              << "length " << n << " offset " << offset << " index " << i;
        }
      }
      // Columns that start off a vector boundary, converted in place.
      std::vector<double> lat, lng;
      for (const Coordinate c : all) lat.push_back(c.latitude), lng.push_back(c.longitude);
      const std::span<double> la(lat.data() + offset, 33), ln(lng.data() + offset, 33);
      ASSERT_TRUE(orv::convert(d, la, ln, la, ln));
      for (size_t i = 0; i < la.size(); ++i) {
        ASSERT_TRUE(sameValue(la[i], whole[offset + i].latitude) &&
                    sameValue(ln[i], whole[offset + i].longitude));
      }
    }
  }
}

TEST_P(Engine, ShortOutputsAreRefusedUntouched) {
  const std::vector<Coordinate> in(5, Coordinate{39.9, 116.4});
  std::vector<Coordinate> out(4, Coordinate{1, 2});
  EXPECT_FALSE(orv::convert(Direction::wgsToGcj, in, out));
  for (const Coordinate c : out) EXPECT_EQ(c.latitude, 1);
  std::vector<double> lat(5, 39.9), lng(4, 116.4), outLat(5, 1), outLng(5, 1);
  EXPECT_FALSE(orv::convert(Direction::wgsToGcj, lat, lng, outLat, outLng));
  EXPECT_FALSE(orv::convert(Direction::wgsToGcj, lat, lat, outLat, lng));
  EXPECT_EQ(outLat[0], 1);
}

INSTANTIATE_TEST_SUITE_P(Targets, Engine, testing::ValuesIn(orv::detail::availableEngineTargets()),
                         targetName);

}  // namespace
