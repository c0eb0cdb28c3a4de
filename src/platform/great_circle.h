// Great-circle distance, shared by the coordinate transform's public distance and the location
// manager's distance filter (which sits below the coordinate layer).
#pragma once

#include <algorithm>
#include <cmath>

namespace orv::detail {

// Metres on a sphere of radius 6371004 m.
inline double greatCircleMetres(double lat1, double lat2, double lng1, double lng2) {
  const double rad = 0.017453292519943295;
  const double p1 = lat1 * rad, p2 = lat2 * rad, l1 = lng1 * rad, l2 = lng2 * rad;
  double v = 2.0 - 2.0 * std::cos(p1) * std::cos(p2) * std::cos(l1 - l2) -
             2.0 * std::sin(p1) * std::sin(p2);
  // Rounding can push v just outside [0, 4] for coincident or antipodal points.
  v = std::clamp(v, 0.0, 4.0);
  return 12742008.0 * std::asin(0.5 * std::sqrt(v));
}

}  // namespace orv::detail
