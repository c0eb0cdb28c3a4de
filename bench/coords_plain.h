// A plain, straightforward WGS-84/GCJ-02 implementation: each offset function on its own, all
// four images computed in every step of the quadrant search. The benchmark measures the library
// against it, and the tests use it to show the library's results are the same bits.
#pragma once

#include <algorithm>
#include <cmath>

#include "orv/location.h"

namespace plain {

constexpr double kA = 6378245.0;
constexpr double kEe = 0.006693421622965943;
constexpr double kPi = 3.141592653589793;

inline bool outOfChina(double lat, double lng) {
  return lng < 72.004 || lng > 137.8347 || lat < 0.8293 || lat > 55.8271;
}

inline double transformLat(double x, double y) {
  double r = -100.0 + 2.0 * x + 3.0 * y + 0.2 * y * y + 0.1 * x * y + 0.2 * std::sqrt(std::fabs(x));
  r += 20.0 * std::sin(6.0 * kPi * x) * 2.0 / 3.0;
  r += 20.0 * std::sin(2.0 * kPi * x) * 2.0 / 3.0;
  r += 20.0 * std::sin(kPi * y) * 2.0 / 3.0;
  r += 40.0 * std::sin(kPi * y / 3.0) * 2.0 / 3.0;
  r += 160.0 * std::sin(kPi * y / 12.0) * 2.0 / 3.0;
  r += 320.0 * std::sin(kPi * y / 30.0) * 2.0 / 3.0;
  return r;
}

inline double transformLng(double x, double y) {
  double r = 300.0 + x + 2.0 * y + 0.1 * x * x + 0.1 * x * y + 0.1 * std::sqrt(std::fabs(x));
  r += 20.0 * std::sin(6.0 * kPi * x) * 2.0 / 3.0;
  r += 20.0 * std::sin(2.0 * kPi * x) * 2.0 / 3.0;
  r += 20.0 * std::sin(kPi * x) * 2.0 / 3.0;
  r += 40.0 * std::sin(kPi * x / 3.0) * 2.0 / 3.0;
  r += 150.0 * std::sin(kPi * x / 12.0) * 2.0 / 3.0;
  r += 300.0 * std::sin(kPi * x / 30.0) * 2.0 / 3.0;
  return r;
}

inline orv::Coordinate wgsToGcj(orv::Coordinate c) {
  const double lat = c.latitude, lng = c.longitude;
  if (outOfChina(lat, lng)) return c;
  double dLat = transformLat(lng - 105.0, lat - 35.0);
  double dLng = transformLng(lng - 105.0, lat - 35.0);
  const double radLat = lat / 180.0 * kPi;
  double magic = std::sin(radLat);
  magic = 1.0 - kEe * magic * magic;
  const double sqrtMagic = std::sqrt(magic);
  dLat = (dLat * 180.0) / ((kA * (1.0 - kEe)) / (magic * sqrtMagic) * kPi);
  dLng = (dLng * 180.0) / (kA / sqrtMagic * std::cos(radLat) * kPi);
  return {lat + dLat, lng + dLng};
}

inline bool holds(orv::Coordinate p, orv::Coordinate m, orv::Coordinate t) {
  return std::min(p.latitude, m.latitude) <= t.latitude &&
         t.latitude <= std::max(p.latitude, m.latitude) &&
         std::min(p.longitude, m.longitude) <= t.longitude &&
         t.longitude <= std::max(p.longitude, m.longitude);
}

// The quadrant search as written; `met` tells whether it reached the tolerance.
inline orv::Coordinate gcjToWgs(orv::Coordinate g, bool* met = nullptr) {
  double minLat = g.latitude - 0.5, maxLat = g.latitude + 0.5;
  double minLng = g.longitude - 0.5, maxLng = g.longitude + 0.5;
  for (int i = 0; i < 30; ++i) {
    const orv::Coordinate c1 = wgsToGcj({minLat, minLng});
    const orv::Coordinate c2 = wgsToGcj({minLat, maxLng});
    const orv::Coordinate c3 = wgsToGcj({maxLat, minLng});
    const double midLat = (minLat + maxLat) * 0.5, midLng = (minLng + maxLng) * 0.5;
    const orv::Coordinate m = wgsToGcj({midLat, midLng});
    if (std::fabs(m.latitude - g.latitude) + std::fabs(m.longitude - g.longitude) <= 0.00001) {
      if (met) *met = true;
      return {midLat, midLng};
    }
    if (holds(c1, m, g)) {
      maxLat = midLat, maxLng = midLng;
    } else if (holds(c2, m, g)) {
      maxLat = midLat, minLng = midLng;
    } else if (holds(c3, m, g)) {
      minLat = midLat, maxLng = midLng;
    } else {
      minLat = midLat, minLng = midLng;
    }
  }
  if (met) *met = false;
  return {(minLat + maxLat) * 0.5, (minLng + maxLng) * 0.5};
}

}  // namespace plain
