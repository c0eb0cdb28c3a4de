#include "orv/coord_transform.h"

#include <span>

#include "coords/transform_math.h"
#include "platform/great_circle.h"

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
  return detail::greatCircleMetres(lat1, lat2, lng1, lng2);
}

double JyrCoorTransform::distanceByPoint(Coordinate point1, Coordinate point2) {
  return distanceByPoint(point1.latitude, point2.latitude, point1.longitude, point2.longitude);
}

}  // namespace orv
