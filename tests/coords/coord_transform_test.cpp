#include "orv/coord_transform.h"

#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cmath>
#include <tuple>
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

// A dense grid over the region, bounds included.
std::vector<Coordinate> regionGrid(double step) {
  std::vector<Coordinate> grid;
  for (double lat = 0.8293; lat <= 55.8271; lat += step) {
    for (double lng = 72.004; lng <= 137.8347; lng += step) {
      grid.push_back({lat, lng});
    }
  }
  return grid;
}

// Published answers, WGS-84 to GCJ-02 and GCJ-02 to BD-09: forward to the digits given, back to
// within the inverses' tolerance.
TEST(KnownAnswers, EachDirection) {
  const std::tuple<Coordinate, Coordinate, bool> cases[] = {
      {{31.1774276, 121.5272106}, {31.17530398364597, 121.531541859215}, false},
      {{22.543847, 113.912316}, {22.540796131694766, 113.9171764808363}, false},
      {{39.911954, 116.377817}, {39.91334545536069, 116.38404722455657}, false},
      {{39.915, 116.404}, {39.92133699351022, 116.41036949371029}, true}};
  for (const auto& [from, to, baidu] : cases) {
    const Coordinate got =
        baidu ? T::transformFromGCJToBaidu(from) : T::transformFromWGSToGCJ(from);
    EXPECT_NEAR(got.latitude, to.latitude, 1e-12) << from.latitude;
    EXPECT_NEAR(got.longitude, to.longitude, 1e-12) << from.latitude;
    const Coordinate back = baidu ? T::transformFromBaiduToGCJ(to) : T::transformFromGCJToWGS(to);
    EXPECT_LE(sumError(back, from), 2e-5) << from.latitude;
  }
}

// Outside the region WGS-84 and GCJ-02 are the same, the bounds themselves inside; BD-09 applies
// everywhere.
TEST(OutsideTheRegion, OnlyBaiduShifts) {
  const std::pair<Coordinate, bool> cases[] = {
      {{39.9, 72.004}, true},        {{39.9, 72.00399999}, false}, {{39.9, 137.8347}, true},
      {{39.9, 137.83470001}, false}, {{0.8293, 116.0}, true},      {{0.82929999, 116.0}, false},
      {{55.8271, 116.0}, true},      {{55.82710001, 116.0}, false}};
  for (const auto& [c, inside] : cases) {
    const Coordinate gcj = T::transformFromWGSToGCJ(c);
    EXPECT_TRUE(inside ? sumError(gcj, c) > 1e-4 : sameBits(gcj, c))
        << c.latitude << "," << c.longitude;
  }
  const Coordinate far{-33.9, -70.5};
  EXPECT_TRUE(sameBits(T::transformFromGCJToWGS(far), far));
  const Coordinate bd = T::transformFromGCJToBaidu(far);
  EXPECT_GT(sumError(bd, far), 1e-3);
  EXPECT_LE(sumError(T::transformFromBaiduToGCJ(bd), far), 1e-5);
}

TEST(WgsToGcj, SameBitsAsPlainFormulasOverRegion) {
  for (const Coordinate c : regionGrid(0.37)) {
    ASSERT_TRUE(sameBits(T::transformFromWGSToGCJ(c), plain::wgsToGcj(c)))
        << c.latitude << "," << c.longitude;
  }
}

// Where the search as written meets its tolerance the result is that search's, bit for bit;
// where it runs out of iterations the result still maps back to within the tolerance.
TEST(GcjToWgs, KeepsSearchResultsAndMendsWhereItGivesUp) {
  size_t exhausted = 0, total = 0;
  for (const Coordinate wgs : regionGrid(0.19)) {
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
  EXPECT_GT(exhausted, 0u) << total;
  EXPECT_LT(exhausted * 50, total);
}

// Coincident points must not give NaN (rounding can leave the radicand below zero), nor antipodes;
// latitudes come first, then longitudes.
TEST(Distance, ChordFormula) {
  const std::array<double, 6> cases[] = {{39.9, 31.2, 116.4, 121.5, 1071286.0, 1.0},
                                         {31.23456789, 31.23456789, 121.4737, 121.4737, 0, 0},
                                         {0.0, 0.0, 0.0, 180.0, 20015099.36, 0.01}};
  for (const auto& [lat1, lat2, lng1, lng2, metres, tolerance] : cases) {
    const double d = T::distanceByPoint(lat1, lat2, lng1, lng2);
    EXPECT_NEAR(d, metres, tolerance) << lat1 << "," << lng1;
    EXPECT_EQ(d, T::distanceByPoint(Coordinate{lat1, lng1}, Coordinate{lat2, lng2}));
  }
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
