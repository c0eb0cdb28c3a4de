// The conversion formulas, inline so that single and batch forms compile to the same code.
#pragma once

#include <algorithm>
#include <cmath>

#include "orv/coord_transform.h"

namespace orv::detail {

inline bool outOfChina(double lat, double lng) {
  return lng < 72.004 || lng > 137.8347 || lat < 0.8293 || lat > 55.8271;
}

// The offset terms that depend on the longitude alone, and those that depend on the latitude
// alone. The two polynomials share their first two periodic terms, so each is computed once, and
// the quadrant search reuses a box edge's terms; every term and sum keeps its own order of
// operations, so the results are the same bits as evaluating each polynomial on its own.
struct LngTerms {
  double x, sqrtAbsX, t6x, t2x, t1x, t3x, t12x, t30x;
};
struct LatTerms {
  double y, t1y, t3y, t12y, t30y, magic, sqrtMagic, cosLat;
};

inline LngTerms lngTerms(const JyrCoorTransform& k, double lng) {
  const double pi = k.pi;
  const double x = lng - 105.0;
  return {x,
          std::sqrt(std::fabs(x)),
          20.0 * std::sin(6.0 * pi * x) * 2.0 / 3.0,
          20.0 * std::sin(2.0 * pi * x) * 2.0 / 3.0,
          20.0 * std::sin(pi * x) * 2.0 / 3.0,
          40.0 * std::sin(pi * x / 3.0) * 2.0 / 3.0,
          150.0 * std::sin(pi * x / 12.0) * 2.0 / 3.0,
          300.0 * std::sin(pi * x / 30.0) * 2.0 / 3.0};
}

inline LatTerms latTerms(const JyrCoorTransform& k, double lat) {
  const double pi = k.pi;
  const double y = lat - 35.0;
  const double radLat = lat / 180.0 * pi;
  const double sinLat = std::sin(radLat);
  const double magic = 1.0 - k.ee * sinLat * sinLat;
  return {y,
          20.0 * std::sin(pi * y) * 2.0 / 3.0,
          40.0 * std::sin(pi * y / 3.0) * 2.0 / 3.0,
          160.0 * std::sin(pi * y / 12.0) * 2.0 / 3.0,
          320.0 * std::sin(pi * y / 30.0) * 2.0 / 3.0,
          magic,
          std::sqrt(magic),
          std::cos(radLat)};
}

// The forward transform of (lat, lng) from its terms, region test included.
inline Coordinate image(const JyrCoorTransform& k, double lat, double lng, const LatTerms& la,
                        const LngTerms& ln) {
  if (outOfChina(lat, lng)) return {lat, lng};
  const double x = ln.x, y = la.y;
  double dLat = -100.0 + 2.0 * x + 3.0 * y + 0.2 * y * y + 0.1 * x * y + 0.2 * ln.sqrtAbsX;
  dLat += ln.t6x;
  dLat += ln.t2x;
  dLat += la.t1y;
  dLat += la.t3y;
  dLat += la.t12y;
  dLat += la.t30y;
  double dLng = 300.0 + x + 2.0 * y + 0.1 * x * x + 0.1 * x * y + 0.1 * ln.sqrtAbsX;
  dLng += ln.t6x;
  dLng += ln.t2x;
  dLng += ln.t1x;
  dLng += ln.t3x;
  dLng += ln.t12x;
  dLng += ln.t30x;
  dLat = (dLat * 180.0) / ((k.a * (1.0 - k.ee)) / (la.magic * la.sqrtMagic) * k.pi);
  dLng = (dLng * 180.0) / (k.a / la.sqrtMagic * la.cosLat * k.pi);
  return {lat + dLat, lng + dLng};
}

inline Coordinate wgsToGcj(const JyrCoorTransform& k, double lat, double lng) {
  if (outOfChina(lat, lng)) return {lat, lng};
  return image(k, lat, lng, latTerms(k, lat), lngTerms(k, lng));
}

inline bool withinTolerance(Coordinate image, Coordinate target) {
  return std::fabs(image.latitude - target.latitude) +
             std::fabs(image.longitude - target.longitude) <=
         0.00001;
}

// Whether the rectangle spanned by corner image p and midpoint image m holds the target.
inline bool rectangleHolds(Coordinate p, Coordinate m, Coordinate t) {
  return std::fmin(p.latitude, m.latitude) <= t.latitude &&
         t.latitude <= std::fmax(p.latitude, m.latitude) &&
         std::fmin(p.longitude, m.longitude) <= t.longitude &&
         t.longitude <= std::fmax(p.longitude, m.longitude);
}

struct SearchOutcome {
  Coordinate point;
  bool met = false;
};

// The quadrant search. Each step brings one new latitude and one new longitude (the midpoint's);
// the box edges are earlier midpoints, so their offset terms are kept rather than recomputed. A
// corner image is formed only when its rectangle is tested, and a kept quadrant reuses the images
// it shares with the previous box (a corner, or the old midpoint). Every image is the forward
// transform of the same bits as in the search written out plainly, so the path and the result
// are identical to it.
inline SearchOutcome quadrantSearch(const JyrCoorTransform& k, Coordinate g) {
  double minLat = g.latitude - 0.5, maxLat = g.latitude + 0.5;
  double minLng = g.longitude - 0.5, maxLng = g.longitude + 0.5;
  LatTerms lowT = latTerms(k, minLat), highT = latTerms(k, maxLat);
  LngTerms leftT = lngTerms(k, minLng), rightT = lngTerms(k, maxLng);
  Coordinate c1{}, c2{}, c3{};
  bool have1 = false, have2 = false, have3 = false;
  for (int i = 0; i < 30; ++i) {
    const double midLat = (minLat + maxLat) * 0.5;
    const double midLng = (minLng + maxLng) * 0.5;
    const LatTerms midLatT = latTerms(k, midLat);
    const LngTerms midLngT = lngTerms(k, midLng);
    const Coordinate m = image(k, midLat, midLng, midLatT, midLngT);
    if (withinTolerance(m, g)) return {{midLat, midLng}, true};

    if (!have1) c1 = image(k, minLat, minLng, lowT, leftT), have1 = true;
    if (rectangleHolds(c1, m, g)) {  // lower left: keeps C1
      maxLat = midLat, maxLng = midLng, highT = midLatT, rightT = midLngT;
      have2 = have3 = false;
      continue;
    }
    if (!have2) c2 = image(k, minLat, maxLng, lowT, rightT), have2 = true;
    if (rectangleHolds(c2, m, g)) {  // lower right: keeps C2, the old midpoint becomes C3
      maxLat = midLat, minLng = midLng, highT = midLatT, leftT = midLngT;
      c3 = m, have3 = true, have1 = false;
      continue;
    }
    if (!have3) c3 = image(k, maxLat, minLng, highT, leftT), have3 = true;
    if (rectangleHolds(c3, m, g)) {  // upper left: keeps C3, the old midpoint becomes C2
      minLat = midLat, maxLng = midLng, lowT = midLatT, rightT = midLngT;
      c2 = m, have2 = true, have1 = false;
      continue;
    }
    // upper right: the old midpoint becomes C1
    minLat = midLat, minLng = midLng, lowT = midLatT, leftT = midLngT;
    c1 = m, have1 = true, have2 = have3 = false;
  }
  return {{(minLat + maxLat) * 0.5, (minLng + maxLng) * 0.5}, false};
}

// Where the search gives up, its rectangle test has kept a quadrant whose true image misses the
// target. The offset changes slowly (its derivative is a few percent), so p <- p - (f(p) - g)
// contracts quickly; it is capped, and the best point seen is kept. Steps stay inside the region:
// outside it the forward map is the identity, so a step across the edge would bounce back and
// forth instead of settling on a preimage at the edge.
inline Coordinate refineInverse(const JyrCoorTransform& k, Coordinate start, Coordinate g) {
  Coordinate p = start, best = start;
  double bestError = INFINITY;
  for (int i = 0; i < 40; ++i) {
    const Coordinate f = wgsToGcj(k, p.latitude, p.longitude);
    const double dLat = f.latitude - g.latitude;
    const double dLng = f.longitude - g.longitude;
    const double error = std::fabs(dLat) + std::fabs(dLng);
    if (error < bestError) bestError = error, best = p;
    if (error <= 0.00001) break;
    p = {std::clamp(p.latitude - dLat, 0.8293, 55.8271),
         std::clamp(p.longitude - dLng, 72.004, 137.8347)};
  }
  return best;
}

inline Coordinate gcjToWgs(const JyrCoorTransform& k, Coordinate g) {
  const SearchOutcome s = quadrantSearch(k, g);
  return s.met ? s.point : refineInverse(k, s.point, g);
}

inline Coordinate gcjToBaidu(const JyrCoorTransform& k, Coordinate c) {
  const double x = c.longitude, y = c.latitude;
  const double z = std::sqrt(x * x + y * y) + 0.00002 * std::sin(y * k.xPi);
  const double theta = std::atan2(y, x) + 0.000003 * std::cos(x * k.xPi);
  return {z * std::sin(theta) + 0.006, z * std::cos(theta) + 0.0065};
}

inline Coordinate baiduToGcj(const JyrCoorTransform& k, Coordinate c) {
  const double x = c.longitude - 0.0065, y = c.latitude - 0.006;
  const double z = std::sqrt(x * x + y * y) - 0.00002 * std::sin(y * k.xPi);
  const double theta = std::atan2(y, x) - 0.000003 * std::cos(x * k.xPi);
  return {z * std::sin(theta), z * std::cos(theta)};
}

}  // namespace orv::detail
