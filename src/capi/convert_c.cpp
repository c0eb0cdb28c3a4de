// Coordinate conversions, single and whole tracks, and distance.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "capi/capi_internal.h"
#include "coords/convert_engine.h"
#include "orv/convert.h"
#include "orv/coord_transform.h"

using orv::capi::fail;
using orv::capi::guarded;

// orv_coordinate and orv::Coordinate are both latitude then longitude, two doubles; the arrays
// are handed to the engine as they are.
static_assert(sizeof(orv_coordinate) == sizeof(orv::Coordinate));
static_assert(offsetof(orv_coordinate, latitude) == offsetof(orv::Coordinate, latitude));
static_assert(offsetof(orv_coordinate, longitude) == offsetof(orv::Coordinate, longitude));

namespace {

using T = orv::JyrCoorTransform;

orv_coordinate single(orv::Coordinate (*convert)(orv::Coordinate), orv_coordinate c) {
  const orv::Coordinate r = convert({c.latitude, c.longitude});
  return {r.latitude, r.longitude};
}

// The host may pass any integer as an enum; only the declared values are accepted.
std::optional<orv::Direction> direction(const orv_direction& d) {
  switch (orv::capi::rawValue(d)) {
    case ORV_WGS_TO_GCJ:
      return orv::Direction::wgsToGcj;
    case ORV_GCJ_TO_WGS:
      return orv::Direction::gcjToWgs;
    case ORV_GCJ_TO_BAIDU:
      return orv::Direction::gcjToBaidu;
    case ORV_BAIDU_TO_GCJ:
      return orv::Direction::baiduToGcj;
    case ORV_WGS_TO_BAIDU:
      return orv::Direction::wgsToBaidu;
    case ORV_BAIDU_TO_WGS:
      return orv::Direction::baiduToWgs;
  }
  return std::nullopt;
}

std::optional<orv::InverseMethod> inverseMethod(const orv_inverse_method& m) {
  switch (orv::capi::rawValue(m)) {
    case ORV_INVERSE_ITERATIVE:
      return orv::InverseMethod::iterative;
    case ORV_INVERSE_SEARCH:
      return orv::InverseMethod::search;
  }
  return std::nullopt;
}

// Checks what every array form shares; `arrays` are the pointers that must be present.
template <size_t N>
orv_status checkTrack(const orv_direction& d, const orv_inverse_method& m,
                      const void* const (&arrays)[N], size_t count, size_t elementSize) {
  if (!direction(d)) return fail(ORV_STATUS_OUT_OF_RANGE, "direction is not an orv_direction");
  if (!inverseMethod(m)) {
    return fail(ORV_STATUS_OUT_OF_RANGE, "inverse is not an orv_inverse_method");
  }
  if (count == 0) return ORV_STATUS_OK;
  for (const void* a : arrays) {
    if (!a) return fail(ORV_STATUS_NULL_ARGUMENT, "an array is NULL");
  }
  if (count > SIZE_MAX / elementSize) {
    return fail(ORV_STATUS_OUT_OF_RANGE, "count is larger than any array");
  }
  return ORV_STATUS_OK;
}

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

orv_status orv_convert(orv_direction d, const orv_coordinate* in, orv_coordinate* out, size_t count,
                       orv_inverse_method m) {
  return guarded([&] {
    const void* const arrays[] = {in, out};
    if (auto s = checkTrack(d, m, arrays, count, sizeof(orv_coordinate))) return s;
    if (count == 0) return ORV_STATUS_OK;
    const auto* from = reinterpret_cast<const orv::Coordinate*>(in);
    auto* to = reinterpret_cast<orv::Coordinate*>(out);
    orv::convert(*direction(d), {from, count}, {to, count}, *inverseMethod(m));
    return ORV_STATUS_OK;
  });
}

orv_status orv_convert_columns(orv_direction d, const double* latitude, const double* longitude,
                               double* out_latitude, double* out_longitude, size_t count,
                               orv_inverse_method m) {
  return guarded([&] {
    const void* const arrays[] = {latitude, longitude, out_latitude, out_longitude};
    if (auto s = checkTrack(d, m, arrays, count, sizeof(double))) return s;
    if (count == 0) return ORV_STATUS_OK;
    if (const char* why =
            orv::detail::columnsOverlap(latitude, longitude, out_latitude, out_longitude, count)) {
      return fail(ORV_STATUS_FAILED, why);
    }
    orv::convert(*direction(d), {latitude, count}, {longitude, count}, {out_latitude, count},
                 {out_longitude, count}, *inverseMethod(m));
    return ORV_STATUS_OK;
  });
}

const char* orv_convert_target(void) { return orv::convertTarget(); }

double orv_distance_by_point(double lat1, double lat2, double lng1, double lng2) {
  return T::distanceByPoint(lat1, lat2, lng1, lng2);
}

double orv_distance_by_points(orv_coordinate point1, orv_coordinate point2) {
  return T::distanceByPoint(orv::Coordinate{point1.latitude, point1.longitude},
                            orv::Coordinate{point2.latitude, point2.longitude});
}

}  // extern "C"
