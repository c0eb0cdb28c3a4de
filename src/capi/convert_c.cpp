// Coordinate conversions, single and whole tracks, and distance.
#include <cstddef>
#include <cstdint>
#include <span>

#include "capi/capi_internal.h"
#include "orv/coord_transform.h"

using orv::capi::fail;
using orv::capi::guarded;

// orv_coordinate and orv::Coordinate are both latitude then longitude, two doubles; the array
// forms hand the host's memory to the C++ conversions as it is.
static_assert(sizeof(orv_coordinate) == sizeof(orv::Coordinate));
static_assert(offsetof(orv_coordinate, latitude) == offsetof(orv::Coordinate, latitude));
static_assert(offsetof(orv_coordinate, longitude) == offsetof(orv::Coordinate, longitude));

namespace {

using Single = orv::Coordinate (*)(orv::Coordinate);
using Track = bool (*)(std::span<const orv::Coordinate>, std::span<orv::Coordinate>);

orv_coordinate single(Single convert, orv_coordinate c) {
  const orv::Coordinate r = convert({c.latitude, c.longitude});
  return {r.latitude, r.longitude};
}

orv_status track(Track convert, const orv_coordinate* in, orv_coordinate* out, size_t count) {
  return guarded([&] {
    if (count == 0) return ORV_STATUS_OK;
    if (!in || !out) return fail(ORV_STATUS_NULL_ARGUMENT, in ? "out is NULL" : "in is NULL");
    if (count > SIZE_MAX / sizeof(orv_coordinate)) {
      return fail(ORV_STATUS_OUT_OF_RANGE, "count is larger than any array");
    }
    const auto* from = reinterpret_cast<const orv::Coordinate*>(in);
    auto* to = reinterpret_cast<orv::Coordinate*>(out);
    convert({from, count}, {to, count});
    return ORV_STATUS_OK;
  });
}

using T = orv::JyrCoorTransform;

}  // namespace

extern "C" {

orv_coordinate orv_transform_from_wgs_to_gcj(orv_coordinate wgs) {
  return single(&T::transformFromWGSToGCJ, wgs);
}
orv_coordinate orv_transform_from_gcj_to_wgs(orv_coordinate gcj) {
  return single(&T::transformFromGCJToWGS, gcj);
}
orv_coordinate orv_transform_from_gcj_to_baidu(orv_coordinate gcj) {
  return single(&T::transformFromGCJToBaidu, gcj);
}
orv_coordinate orv_transform_from_baidu_to_gcj(orv_coordinate bd) {
  return single(&T::transformFromBaiduToGCJ, bd);
}
orv_coordinate orv_transform_from_wgs_to_baidu(orv_coordinate wgs) {
  return single(&T::transformFromWGSToBaidu, wgs);
}
orv_coordinate orv_transform_from_baidu_to_wgs(orv_coordinate bd) {
  return single(&T::transformFromBaiduToWGS, bd);
}

orv_status orv_transform_from_wgs_to_gcj_array(const orv_coordinate* in, orv_coordinate* out,
                                               size_t count) {
  return track(&T::transformFromWGSToGCJ, in, out, count);
}
orv_status orv_transform_from_gcj_to_wgs_array(const orv_coordinate* in, orv_coordinate* out,
                                               size_t count) {
  return track(&T::transformFromGCJToWGS, in, out, count);
}
orv_status orv_transform_from_gcj_to_baidu_array(const orv_coordinate* in, orv_coordinate* out,
                                                 size_t count) {
  return track(&T::transformFromGCJToBaidu, in, out, count);
}
orv_status orv_transform_from_baidu_to_gcj_array(const orv_coordinate* in, orv_coordinate* out,
                                                 size_t count) {
  return track(&T::transformFromBaiduToGCJ, in, out, count);
}
orv_status orv_transform_from_wgs_to_baidu_array(const orv_coordinate* in, orv_coordinate* out,
                                                 size_t count) {
  return track(&T::transformFromWGSToBaidu, in, out, count);
}
orv_status orv_transform_from_baidu_to_wgs_array(const orv_coordinate* in, orv_coordinate* out,
                                                 size_t count) {
  return track(&T::transformFromBaiduToWGS, in, out, count);
}

double orv_distance_by_point(double lat1, double lat2, double lng1, double lng2) {
  return T::distanceByPoint(lat1, lat2, lng1, lng2);
}

double orv_distance_by_points(orv_coordinate point1, orv_coordinate point2) {
  return T::distanceByPoint(orv::Coordinate{point1.latitude, point1.longitude},
                            orv::Coordinate{point2.latitude, point2.longitude});
}

}  // extern "C"
