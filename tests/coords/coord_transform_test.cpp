#include "orv/coord_transform.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <iomanip>
#include <vector>

#include "coords_plain.h"

namespace {

using orv::Coordinate;
using T = orv::JyrCoorTransform;

bool sameBits(Coordinate a, Coordinate b) {
  return std::bit_cast<uint64_t>(a.latitude) == std::bit_cast<uint64_t>(b.latitude) &&
         std::bit_cast<uint64_t>(a.longitude) == std::bit_cast<uint64_t>(b.longitude);
}

double sumError(Coordinate a, Coordinate b) {
  return std::fabs(a.latitude - b.latitude) + std::fabs(a.longitude - b.longitude);
}

// A dense grid over the region, bounds included unless `margin` keeps it away from them.
std::vector<Coordinate> regionGrid(double step, double margin = 0.0) {
  std::vector<Coordinate> grid;
  for (double lat = 0.8293 + margin; lat <= 55.8271 - margin; lat += step) {
    for (double lng = 72.004 + margin; lng <= 137.8347 - margin; lng += step) {
      grid.push_back({lat, lng});
    }
  }
  return grid;
}

struct RegionCase {
  Coordinate wgs;
  bool shifted;
};

void PrintTo(const RegionCase& c, std::ostream* os) {
  *os << std::setprecision(12) << c.wgs.latitude << ',' << c.wgs.longitude
      << (c.shifted ? " shifted" : " kept");
}

class RegionBoundary : public testing::TestWithParam<RegionCase> {};

TEST_P(RegionBoundary, ShiftsExactlyInsideTheBoundsIncluded) {
  const auto [wgs, shifted] = GetParam();
  const Coordinate gcj = T::transformFromWGSToGCJ(wgs);
  if (shifted) {
    EXPECT_GT(sumError(gcj, wgs), 1e-4);
  } else {
    EXPECT_TRUE(sameBits(gcj, wgs));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Bounds, RegionBoundary,
    testing::Values(RegionCase{{0.5, 116.0}, false}, RegionCase{{39.9, 140.0}, false},
                    RegionCase{{39.9, 72.004}, true}, RegionCase{{39.9, 72.00399999}, false},
                    RegionCase{{39.9, 137.8347}, true}, RegionCase{{39.9, 137.83470001}, false},
                    RegionCase{{0.8293, 116.0}, true}, RegionCase{{0.82929999, 116.0}, false},
                    RegionCase{{55.8271, 116.0}, true}, RegionCase{{55.82710001, 116.0}, false},
                    RegionCase{{-33.9, -70.5}, false}));

TEST(WgsToGcj, SameBitsAsPlainFormulasOverRegion) {
  for (const Coordinate c : regionGrid(0.37)) {
    ASSERT_TRUE(sameBits(T::transformFromWGSToGCJ(c), plain::wgsToGcj(c)))
        << c.latitude << "," << c.longitude;
  }
}

TEST(GcjToWgs, FarOutsideReturnsFirstMidpoint) {
  for (const Coordinate g : {Coordinate{-40.0, -70.0}, Coordinate{60.0, 10.0}}) {
    const Coordinate w = T::transformFromGCJToWGS(g);
    EXPECT_DOUBLE_EQ(w.latitude, g.latitude);
    EXPECT_DOUBLE_EQ(w.longitude, g.longitude);
  }
}

// Where the search as written meets its tolerance the result is that search's, bit for bit;
// where it runs out of iterations the result still maps back to within the tolerance.
TEST(GcjToWgs, KeepsSearchResultsAndMendsWhereItGivesUp) {
  size_t exhausted = 0, total = 0;
  for (const Coordinate wgs : regionGrid(0.113)) {
    const Coordinate gcj = plain::wgsToGcj(wgs);
    if (plain::outOfChina(gcj.latitude, gcj.longitude)) continue;
    ++total;
    bool met = false;
    const Coordinate reference = plain::gcjToWgs(gcj, &met);
    const Coordinate got = T::transformFromGCJToWGS(gcj);
    if (met) {
      ASSERT_TRUE(sameBits(got, reference)) << wgs.latitude << "," << wgs.longitude;
    } else {
      ++exhausted;
      ASSERT_LE(sumError(T::transformFromWGSToGCJ(got), gcj), 0.00001)
          << wgs.latitude << "," << wgs.longitude;
      EXPECT_LT(sumError(got, wgs), 1e-4);
    }
  }
  // The grid must reach the mended case, which is rare but spread over the region.
  EXPECT_GT(exhausted, 0u);
  EXPECT_LT(exhausted * 50, total);
}

// Near the edge a GCJ point can have a second preimage outside the region, where the forward map
// is the identity, so the round trip is checked a little inside.
TEST(RoundTrip, GcjAndBaiduOverRegionGrid) {
  for (const Coordinate wgs : regionGrid(0.29, 0.05)) {
    const Coordinate gcj = T::transformFromWGSToGCJ(wgs);
    ASSERT_LE(sumError(T::transformFromGCJToWGS(gcj), wgs), 2e-5)
        << wgs.latitude << "," << wgs.longitude;
    const Coordinate bd = T::transformFromGCJToBaidu(gcj);
    ASSERT_LE(sumError(T::transformFromBaiduToGCJ(bd), gcj), 1e-5);
    ASSERT_TRUE(sameBits(T::transformFromWGSToBaidu(wgs), bd));
    ASSERT_LE(sumError(T::transformFromBaiduToWGS(bd), wgs), 3e-5);
  }
}

TEST(Baidu, AppliesOutsideTheRegionToo) {
  const Coordinate c{-33.9, -70.5};
  const Coordinate bd = T::transformFromGCJToBaidu(c);
  EXPECT_GT(sumError(bd, c), 1e-3);
  EXPECT_LE(sumError(T::transformFromBaiduToGCJ(bd), c), 1e-5);
}

struct DistanceCase {
  double lat1, lat2, lng1, lng2, metres, tolerance;
};

void PrintTo(const DistanceCase& c, std::ostream* os) {
  *os << c.lat1 << ',' << c.lng1 << " to " << c.lat2 << ',' << c.lng2;
}

class Distance : public testing::TestWithParam<DistanceCase> {};

TEST_P(Distance, ChordFormula) {
  const auto c = GetParam();
  const double d = T::distanceByPoint(c.lat1, c.lat2, c.lng1, c.lng2);
  ASSERT_FALSE(std::isnan(d));
  EXPECT_NEAR(d, c.metres, c.tolerance);
  EXPECT_EQ(d, T::distanceByPoint(Coordinate{c.lat1, c.lng1}, Coordinate{c.lat2, c.lng2}));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Distance,
    testing::Values(DistanceCase{39.9, 31.2, 116.4, 121.5, 1071286.0, 1.0},
                    // Coincident points: rounding can leave the radicand below zero.
                    DistanceCase{39.9, 39.9, 116.4, 116.4, 0.0, 0.0},
                    DistanceCase{31.23456789, 31.23456789, 121.4737, 121.4737, 0.0, 0.0},
                    DistanceCase{0.1, 0.1, 0.1, 0.1, 0.0, 0.0},
                    // Antipodes: half the circumference, never NaN.
                    DistanceCase{0.0, 0.0, 0.0, 180.0, 20015099.36, 0.01}));

TEST(Distance, ArgumentOrderIsLatitudesThenLongitudes) {
  EXPECT_NE(T::distanceByPoint(39.9, 31.2, 116.4, 121.5),
            T::distanceByPoint(39.9, 116.4, 31.2, 121.5));
}

// The whole-track forms convert index by index, so in place too, and refuse a short output.
TEST(BatchForm, MatchesSingleFormAlsoInPlace) {
  using Single = Coordinate (*)(Coordinate);
  using Batch = bool (*)(std::span<const Coordinate>, std::span<Coordinate>);
  const std::pair<Single, Batch> forms[] = {
      {T::transformFromWGSToGCJ, T::transformFromWGSToGCJ},
      {T::transformFromGCJToWGS, T::transformFromGCJToWGS},
      {T::transformFromGCJToBaidu, T::transformFromGCJToBaidu},
      {T::transformFromBaiduToGCJ, T::transformFromBaiduToGCJ},
      {T::transformFromWGSToBaidu, T::transformFromWGSToBaidu},
      {T::transformFromBaiduToWGS, T::transformFromBaiduToWGS}};
  std::vector<Coordinate> in;
  for (int i = 0; i < 200; ++i) in.push_back({20.0 + i * 0.17, 80.0 + i * 0.29});
  in.push_back({-33.9, -70.5});
  for (const auto& [single, batch] : forms) {
    std::vector<Coordinate> inPlace = in;
    ASSERT_TRUE(batch(inPlace, inPlace));
    for (size_t i = 0; i < in.size(); ++i) ASSERT_TRUE(sameBits(inPlace[i], single(in[i]))) << i;
    std::vector<Coordinate> small(in.size() - 1, Coordinate{1.0, 2.0});
    EXPECT_FALSE(batch(in, small));
    EXPECT_EQ(small[0].latitude, 1.0);
  }
}

}  // namespace
