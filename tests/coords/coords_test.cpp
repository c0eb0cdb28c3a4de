// The single forms against published answers and the plain formulas, and the vector engine
// against the single forms on every instruction set this CPU can run.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <iomanip>
#include <limits>
#include <random>
#include <tuple>
#include <vector>

#include "coords/convert_engine.h"
#include "coords_plain.h"
#include "orv/convert.h"
#include "orv/coord_transform.h"

namespace {

using orv::Coordinate;
using orv::Direction;
using orv::InverseMethod;
using T = orv::JyrCoorTransform;

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// The single and whole-track forms, in the order of Direction.
Coordinate (*const kSingle[])(Coordinate) = {
    T::transformFromWGSToGCJ,   T::transformFromGCJToWGS,   T::transformFromGCJToBaidu,
    T::transformFromBaiduToGCJ, T::transformFromWGSToBaidu, T::transformFromBaiduToWGS};
bool (*const kBatch[])(std::span<const Coordinate>, std::span<Coordinate>) = {
    T::transformFromWGSToGCJ,   T::transformFromGCJToWGS,   T::transformFromGCJToBaidu,
    T::transformFromBaiduToGCJ, T::transformFromWGSToBaidu, T::transformFromBaiduToWGS};
const Direction kAll[] = {Direction::wgsToGcj,   Direction::gcjToWgs,   Direction::gcjToBaidu,
                          Direction::baiduToGcj, Direction::wgsToBaidu, Direction::baiduToWgs};

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

double sumError(Coordinate a, Coordinate b) {
  return std::fabs(a.latitude - b.latitude) + std::fabs(a.longitude - b.longitude);
}

// Published answers, WGS-84 to GCJ-02 and GCJ-02 to BD-09: forward to the digits given, back to
// within the inverses' tolerance.
TEST(KnownAnswers, EachDirection) {
  const std::tuple<Coordinate, Coordinate, bool> cases[] = {
      {{31.1774276, 121.5272106}, {31.17530398364597, 121.531541859215}, false},
      {{39.915, 116.404}, {39.92133699351022, 116.41036949371029}, true}};
  for (const auto& [from, to, baidu] : cases) {
    const Coordinate got =
        baidu ? T::transformFromGCJToBaidu(from) : T::transformFromWGSToGCJ(from);
    EXPECT_TRUE(near(got, to, 1e-12)) << got.latitude << "," << got.longitude;
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
    EXPECT_TRUE(inside ? sumError(gcj, c) > 1e-4 : near(gcj, c))
        << c.latitude << "," << c.longitude;
  }
  const Coordinate far{-33.9, -70.5};
  EXPECT_TRUE(near(T::transformFromGCJToWGS(far), far));
  const Coordinate bd = T::transformFromGCJToBaidu(far);
  EXPECT_GT(sumError(bd, far), 1e-3);
  EXPECT_LE(sumError(T::transformFromBaiduToGCJ(bd), far), 1e-5);
}

// Over a grid of the region, bounds included: WGS-84 to GCJ-02 gives the plain formulas' bits.
// Where the search as written meets its tolerance the inverse gives that search's bits; where it
// runs out of iterations the result still maps back to within the tolerance.
TEST(SingleForms, PlainFormulasAndTheMendedSearch) {
  size_t exhausted = 0, total = 0;
  for (double lat = 0.8293; lat <= 55.8271; lat += 0.19) {
    for (double lng = 72.004; lng <= 137.8347; lng += 0.19) {
      const Coordinate wgs{lat, lng}, gcj = plain::wgsToGcj(wgs);
      ASSERT_TRUE(near(T::transformFromWGSToGCJ(wgs), gcj)) << lat << "," << lng;
      if (plain::outOfChina(gcj.latitude, gcj.longitude)) continue;
      ++total;
      bool met = false;
      const Coordinate reference = plain::gcjToWgs(gcj, &met), got = T::transformFromGCJToWGS(gcj);
      if (met) {
        ASSERT_TRUE(near(got, reference)) << lat << "," << lng;
      } else {
        ++exhausted;
        ASSERT_LE(sumError(T::transformFromWGSToGCJ(got), gcj), 0.00001) << lat << "," << lng;
        EXPECT_LT(sumError(got, wgs), 1e-4);
      }
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
  std::vector<Coordinate> in;
  for (int i = 0; i < 200; ++i) in.push_back({20.0 + i * 0.17, 80.0 + i * 0.29});
  in.push_back({-33.9, -70.5});
  for (const Direction d : kAll) {
    std::vector<Coordinate> inPlace = in;
    ASSERT_TRUE(kBatch[static_cast<int>(d)](inPlace, inPlace));
    for (size_t i = 0; i < in.size(); ++i) ASSERT_TRUE(near(inPlace[i], single(d, in[i]))) << i;
    std::vector<Coordinate> small(in.size() - 1, Coordinate{1.0, 2.0});
    EXPECT_FALSE(kBatch[static_cast<int>(d)](in, small));
    EXPECT_EQ(small[0].latitude, 1.0);
  }
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
  size_t same = 0;
  while (same < in.size() && near(out[same], {outLat[same], outLng[same]})) ++same;
  EXPECT_EQ(same, in.size()) << "columns differ, direction " << static_cast<int>(d);
  return out;
}

class Engine : public testing::TestWithParam<orv::detail::EngineTarget> {
 protected:
  void SetUp() override {
    orv::detail::pinEngineTarget(GetParam().bits);
    ASSERT_EQ(std::string(orv::convertTarget()), GetParam().name);
  }
  void TearDown() override { orv::detail::pinEngineTarget(0); }
};

// The forward directions within the engine's bound, the search exactly, and the inputs the single
// forms take exactly in every direction; the iterative inverse is another method than the search
// (see below) and agrees only far outside.
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

// Beyond the region the forward transform is the identity, so it jumps at the region's edges, and
// the offset moves every point north and east. Along each edge, at corners and between them:
// images of points up to 0.01 degree inside, and targets on the edge and up to 0.01 degree inside
// it, converted as a whole track and one by one. Each result maps back onto its target within
// 1e-9 degree. Only along the west and south edges is there a strip that no point maps onto;
// there the best answer is the point just across the edge (its image is itself), so the bound is
// the target's distance from the edge.
TEST_P(Engine, IterativeInverseAtTheRegionsEdges) {
  constexpr double kSouth = 0.8293, kNorth = 55.8271, kWest = 72.004, kEast = 137.8347;
  std::vector<Coordinate> targets{{39.9, 72.004}};
  std::vector<double> bounds{1e-9};
  for (int edge = 0; edge < 4; ++edge) {
    for (int step = 0; step <= 6; ++step) {
      const double t = step / 6.0;
      for (const double inward : {0.0, 1e-12, 1e-10, 1e-9, 1e-7, 1e-5, 1e-3, 1e-2}) {
        const double lat = kSouth + t * (kNorth - kSouth), lng = kWest + t * (kEast - kWest);
        const Coordinate p = edge == 0   ? Coordinate{kSouth + inward, lng}
                             : edge == 1 ? Coordinate{kNorth - inward, lng}
                             : edge == 2 ? Coordinate{lat, kWest + inward}
                                         : Coordinate{lat, kEast - inward};
        targets.push_back(T::transformFromWGSToGCJ(p));
        bounds.push_back(1e-9);
        targets.push_back(p);
        // The distance from the edge, and a step across it.
        const double fromEdge = edge == 0 ? p.latitude - kSouth : p.longitude - kWest;
        bounds.push_back(edge == 0 || edge == 2 ? std::max(1e-9, fromEdge + 1e-12) : 1e-9);
      }
    }
  }
  const std::vector<Coordinate> whole = engine(Direction::gcjToWgs, targets);
  for (size_t i = 0; i < targets.size(); ++i) {
    const Coordinate alone = engine(Direction::gcjToWgs, std::span(&targets[i], 1))[0];
    ASSERT_TRUE(near(alone, whole[i])) << i;
    const Coordinate image = T::transformFromWGSToGCJ(whole[i]);
    EXPECT_LE(sumError(image, targets[i]), bounds[i])
        << std::setprecision(17) << targets[i].latitude << "," << targets[i].longitude << " gives "
        << whole[i].latitude << "," << whole[i].longitude << ", which maps onto " << image.latitude
        << "," << image.longitude;
  }
}

// A point's result depends on nothing but the point: not its position in a vector, its
// neighbours, the layout or the alignment; in place too.
TEST_P(Engine, AnyLengthAnyAlignmentAndInPlace) {
  std::vector<Coordinate> all;
  std::vector<double> lat, lng;
  for (int i = 0; i < 44; ++i) all.push_back({20.0 + i * 0.37, 100.0 + i * 0.53});
  all[9] = {-33.9, -70.5};
  all[17] = {kNaN, 116.4};
  for (const Coordinate c : all) lat.push_back(c.latitude), lng.push_back(c.longitude);
  for (const Direction d : kAll) {
    const std::vector<Coordinate> whole = engine(d, all);
    for (size_t offset : {0, 1, 3}) {
      for (size_t n = 0; n + offset <= 41; ++n) {
        std::vector<Coordinate> buffer(all.begin() + offset, all.begin() + offset + n);
        std::vector<double> columnLat = lat, columnLng = lng;  // columns start off a boundary
        const std::span<double> la(columnLat.data() + offset, n), ln(columnLng.data() + offset, n);
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

// Outputs that are too short, or that overlap each other or an input other than their own, are
// refused with nothing written; in place over the inputs is fine.
TEST_P(Engine, UnusableOutputsAreRefusedUntouched) {
  const std::vector<Coordinate> in(5, Coordinate{39.9, 116.4});
  std::vector<Coordinate> out(4, Coordinate{1, 2});
  EXPECT_FALSE(orv::convert(Direction::wgsToGcj, in, out));
  EXPECT_EQ(out[0].latitude, 1);

  std::vector<double> lat(5, 39.9), lng(5, 116.4), shortLng(4, 116.4), outLat(5, 1), outLng(5, 1);
  std::vector<double> shared(7, 40.0);  // the same storage seen as several columns
  const std::span<double> s0(shared.data(), 5), s1(shared.data() + 1, 5);
  const std::span<double> s2(shared.data() + 2, 5);
  const struct {
    const char* what;
    std::span<const double> lat, lng;
    std::span<double> outLat, outLng;
    bool accepted;
  } rows[] = {
      {"input columns of two lengths", lat, shortLng, outLat, outLng, false},
      {"short output", lat, lng, outLat, shortLng, false},
      {"one output twice", lat, lng, s0, s0, false},
      {"outputs overlapping", lat, lng, s0, s2, false},
      {"outputs overlapping, the other way", lat, lng, s2, s0, false},
      {"output over the other input", lat, lng, outLat, lat, false},
      {"output partly over its own input", s0, lng, s1, outLng, false},
      {"output partly over the other input", s0, s2, outLat, s1, false},
      {"in place", s0, lng, s0, outLng, true},
  };
  for (const auto& row : rows) {
    const auto before = std::tuple(lat, lng, shared, outLat, outLng);
    EXPECT_EQ(orv::convert(Direction::wgsToGcj, row.lat, row.lng, row.outLat, row.outLng),
              row.accepted)
        << row.what;
    if (!row.accepted) {
      EXPECT_TRUE(before == std::tuple(lat, lng, shared, outLat, outLng)) << row.what;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Targets, Engine, testing::ValuesIn(orv::detail::availableEngineTargets()),
                         [](const auto& info) { return info.param.name; });

}  // namespace
