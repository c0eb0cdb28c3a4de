#include "orv/coord_transform.h"

#include <algorithm>

#include "coords/transform_math.h"

namespace orv {
namespace {

using detail::baiduToGcj;
using detail::gcjToBaidu;
using detail::gcjToWgs;

Coordinate wgsToGcj(const JyrCoorTransform& k, Coordinate c) {
  return detail::wgsToGcj(k, c.latitude, c.longitude);
}
Coordinate wgsToBaidu(const JyrCoorTransform& k, Coordinate c) {
  return gcjToBaidu(k, wgsToGcj(k, c));
}
Coordinate baiduToWgs(const JyrCoorTransform& k, Coordinate c) {
  return gcjToWgs(k, baiduToGcj(k, c));
}

template <Coordinate (*F)(const JyrCoorTransform&, Coordinate)>
bool convertAll(std::span<const Coordinate> in, std::span<Coordinate> out) {
  if (out.size() < in.size()) return false;
  const JyrCoorTransform& k = JyrCoorTransform::shared();
  // Index-wise so that converting in place (out aliasing in) stays correct.
  for (size_t i = 0; i < in.size(); ++i) out[i] = F(k, in[i]);
  return true;
}

}  // namespace

const JyrCoorTransform& JyrCoorTransform::shared() {
  static const JyrCoorTransform instance;
  return instance;
}

Coordinate JyrCoorTransform::transformFromWGSToGCJ(Coordinate wgs) {
  return wgsToGcj(shared(), wgs);
}
Coordinate JyrCoorTransform::transformFromGCJToWGS(Coordinate gcj) {
  return gcjToWgs(shared(), gcj);
}
Coordinate JyrCoorTransform::transformFromGCJToBaidu(Coordinate gcj) {
  return gcjToBaidu(shared(), gcj);
}
Coordinate JyrCoorTransform::transformFromBaiduToGCJ(Coordinate bd) {
  return baiduToGcj(shared(), bd);
}
Coordinate JyrCoorTransform::transformFromWGSToBaidu(Coordinate wgs) {
  return wgsToBaidu(shared(), wgs);
}
Coordinate JyrCoorTransform::transformFromBaiduToWGS(Coordinate bd) {
  return baiduToWgs(shared(), bd);
}

bool JyrCoorTransform::transformFromWGSToGCJ(std::span<const Coordinate> in,
                                             std::span<Coordinate> out) {
  return convertAll<wgsToGcj>(in, out);
}
bool JyrCoorTransform::transformFromGCJToWGS(std::span<const Coordinate> in,
                                             std::span<Coordinate> out) {
  return convertAll<gcjToWgs>(in, out);
}
bool JyrCoorTransform::transformFromGCJToBaidu(std::span<const Coordinate> in,
                                               std::span<Coordinate> out) {
  return convertAll<gcjToBaidu>(in, out);
}
bool JyrCoorTransform::transformFromBaiduToGCJ(std::span<const Coordinate> in,
                                               std::span<Coordinate> out) {
  return convertAll<baiduToGcj>(in, out);
}
bool JyrCoorTransform::transformFromWGSToBaidu(std::span<const Coordinate> in,
                                               std::span<Coordinate> out) {
  return convertAll<wgsToBaidu>(in, out);
}
bool JyrCoorTransform::transformFromBaiduToWGS(std::span<const Coordinate> in,
                                               std::span<Coordinate> out) {
  return convertAll<baiduToWgs>(in, out);
}

double JyrCoorTransform::distanceByPoint(double lat1, double lat2, double lng1, double lng2) {
  const double rad = 0.017453292519943295;
  const double p1 = lat1 * rad, p2 = lat2 * rad, l1 = lng1 * rad, l2 = lng2 * rad;
  double v = 2.0 - 2.0 * std::cos(p1) * std::cos(p2) * std::cos(l1 - l2) -
             2.0 * std::sin(p1) * std::sin(p2);
  // Rounding can push v just outside [0, 4] for coincident or antipodal points.
  v = std::clamp(v, 0.0, 4.0);
  return 12742008.0 * std::asin(0.5 * std::sqrt(v));
}

double JyrCoorTransform::distanceByPoint(Coordinate point1, Coordinate point2) {
  return distanceByPoint(point1.latitude, point2.latitude, point1.longitude, point2.longitude);
}

}  // namespace orv
