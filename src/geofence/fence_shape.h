// A fence's geometry in WGS-84, checked and prepared for fast classification of fixes.
//
// Each fence carries a local equirectangular frame around a reference point. A fix is first
// classified in that frame, whose error against the geodesic truth is bounded by
// `frameError(D)`; only a fix whose margin to the decision is within that bound is settled by
// exact geodesics (GeographicLib).
#pragma once

#include <cstdint>
#include <vector>

#include "orv/geofence.h"
#include "orv/location.h"
#include "orv/result.h"

namespace orv::detail {

enum class Side : uint8_t { inside, outside, uncertain };

struct Box {
  double minLat = 0.0, minLng = 0.0, maxLat = 0.0, maxLng = 0.0;
};

struct FenceShape {
  double refLat = 0.0, refLng = 0.0;  // frame origin; a circle's centre
  double kx = 0.0, ky = 0.0;          // metres per degree of longitude and latitude at refLat
  double errPerM2 = 0.0;              // frame error per square metre of distance from the origin
  double halfExtent = 0.0;            // metres from the origin to the farthest vertex
  double radius = 0.0;                // a circle's radius; 0 for polygons
  // Every ring's vertices, unclosed, oriented with the fence's interior on the left.
  std::vector<Coordinate> pts;
  std::vector<uint32_t> ringEnds;  // one past each ring's last vertex in pts

  bool isCircle() const { return radius > 0.0; }
  double frameError(double distance) const { return 0.01 + errPerM2 * distance * distance; }
};

// Largest fence accepted, across, in metres: the frame and the exact fallback stay well within
// their range, and the error bound stays small.
inline constexpr double kMaxFenceExtent = 500'000.0;
// Fences must stay within this latitude: near the poles a fence cannot keep a usable frame.
inline constexpr double kMaxFenceLatitude = 85.0;

// Checks the fence, converts it to WGS-84 and prepares it. Errors name the fence.
Result<FenceShape> compileShape(const Geofence& fence);

// Degrees that cover the fence, its geodesic edges included.
Box boundingBox(const FenceShape& shape);

// The fix's side with accuracy `accuracy` (metres, >= 0): the frame first, exact when needed.
Side classify(const FenceShape& shape, Coordinate fix, double accuracy);

// The same with exact geodesics on every edge: the reference the fast path is checked against.
Side classifyExact(const FenceShape& shape, Coordinate fix, double accuracy);

// Degrees of latitude and longitude that certainly cover `metres` around `at`.
void metresToDegrees(Coordinate at, double metres, double& dLat, double& dLng);

}  // namespace orv::detail
