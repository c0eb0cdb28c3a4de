// Conversions between WGS-84, GCJ-02 and BD-09, and great-circle distance.
#pragma once

#include <span>

#include "orv/export.h"
#include "orv/location.h"

namespace orv {

using CLLocationCoordinate2D = Coordinate;

class ORV_API JyrCoorTransform {
 public:
  JyrCoorTransform() = default;

  // The process-wide instance whose constants the conversions use; created once, thread-safe.
  static const JyrCoorTransform& shared();

  static Coordinate transformFromWGSToGCJ(Coordinate wgs);
  static Coordinate transformFromGCJToWGS(Coordinate gcj);
  static Coordinate transformFromGCJToBaidu(Coordinate gcj);
  static Coordinate transformFromBaiduToGCJ(Coordinate bd);
  static Coordinate transformFromWGSToBaidu(Coordinate wgs);
  static Coordinate transformFromBaiduToWGS(Coordinate bd);

  // Whole tracks: out[i] = single form of in[i]. `in` and `out` may be the same span. Returns
  // false and writes nothing when `out` is shorter than `in`.
  static bool transformFromWGSToGCJ(std::span<const Coordinate> in, std::span<Coordinate> out);
  static bool transformFromGCJToWGS(std::span<const Coordinate> in, std::span<Coordinate> out);
  static bool transformFromGCJToBaidu(std::span<const Coordinate> in, std::span<Coordinate> out);
  static bool transformFromBaiduToGCJ(std::span<const Coordinate> in, std::span<Coordinate> out);
  static bool transformFromWGSToBaidu(std::span<const Coordinate> in, std::span<Coordinate> out);
  static bool transformFromBaiduToWGS(std::span<const Coordinate> in, std::span<Coordinate> out);

  // Metres on a sphere of radius 6371004 m. Note the order: both latitudes, then both longitudes.
  static double distanceByPoint(double lat1, double lat2, double lng1, double lng2);
  static double distanceByPoint(Coordinate point1, Coordinate point2);

  const double a = 6378245.0;
  const double ee = 0.006693421622965943;
  const double pi = 3.141592653589793;
  const double xPi = 52.35987755982988;
};

}  // namespace orv
