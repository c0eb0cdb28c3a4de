// Checking, converting and preparing fences.
#include "geofence/fence_shape.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <string>

#include "orv/convert.h"

namespace orv::detail {
namespace {

constexpr double kA = 6378137.0;          // WGS-84 semi-major axis
constexpr double kE2 = 6.69437999014e-3;  // first eccentricity squared
constexpr double kDeg = std::numbers::pi / 180.0;

Error fenceError(const std::string& id, const std::string& what) {
  return Error{std::string(kGeofenceErrorDomain),
               static_cast<int64_t>(GeofenceErrorCode::invalidFence),
               "fence \"" + id + "\": " + what};
}

bool validCoordinate(Coordinate c) {
  return std::isfinite(c.latitude) && std::isfinite(c.longitude) && c.latitude >= -90.0 &&
         c.latitude <= 90.0 && c.longitude >= -180.0 && c.longitude <= 180.0;
}

void setFrame(FenceShape& s, double lat, double lng) {
  s.refLat = lat;
  s.refLng = lng;
  const double sn = std::sin(lat * kDeg);
  const double w = std::sqrt(1.0 - kE2 * sn * sn);
  s.kx = kA / w * std::cos(lat * kDeg) * kDeg;
  s.ky = kA * (1.0 - kE2) / (w * w * w) * kDeg;
  // Scale change across the frame (tan(lat) per radian of latitude) plus the bulge of geodesic
  // edges, with a factor of two to spare; checked against exact geodesics in the tests.
  s.errPerM2 = (1.0 + 4.0 * std::abs(std::tan(lat * kDeg))) / 6.3e6;
}

double cross(double ax, double ay, double bx, double by) { return ax * by - ay * bx; }

// Do segments p1p2 and p3p4 share a point? (Planar, in the fence's frame.)
bool segmentsMeet(const double* p1, const double* p2, const double* p3, const double* p4) {
  auto orient = [](const double* a, const double* b, const double* c) {
    const double v = cross(b[0] - a[0], b[1] - a[1], c[0] - a[0], c[1] - a[1]);
    return (v > 0) - (v < 0);
  };
  auto onSegment = [](const double* a, const double* b, const double* c) {
    return std::min(a[0], b[0]) <= c[0] && c[0] <= std::max(a[0], b[0]) &&
           std::min(a[1], b[1]) <= c[1] && c[1] <= std::max(a[1], b[1]);
  };
  const int d1 = orient(p3, p4, p1), d2 = orient(p3, p4, p2);
  const int d3 = orient(p1, p2, p3), d4 = orient(p1, p2, p4);
  if (d1 * d2 < 0 && d3 * d4 < 0) return true;
  return (d1 == 0 && onSegment(p3, p4, p1)) || (d2 == 0 && onSegment(p3, p4, p2)) ||
         (d3 == 0 && onSegment(p1, p2, p3)) || (d4 == 0 && onSegment(p1, p2, p4));
}

// Ring [begin, end) of xy (pairs): any two non-adjacent edges meeting, or adjacent edges folding
// back onto each other.
bool selfIntersects(const std::vector<double>& xy, std::size_t begin, std::size_t end) {
  const std::size_t n = end - begin;
  auto p = [&](std::size_t i) { return &xy[2 * (begin + i % n)]; };
  for (std::size_t i = 0; i < n; ++i) {
    for (std::size_t j = i + 1; j < n; ++j) {
      const bool adjacent = j == i + 1 || (i == 0 && j == n - 1);
      if (!adjacent) {
        if (segmentsMeet(p(i), p(i + 1), p(j), p(j + 1))) return true;
        continue;
      }
      // Adjacent edges share a vertex; they may only meet there. They fold back when collinear
      // and pointing against each other.
      const std::size_t a = (j == i + 1) ? i : j, b = a + 1, c = a + 2;
      const double ux = p(b)[0] - p(a)[0], uy = p(b)[1] - p(a)[1];
      const double vx = p(c)[0] - p(b)[0], vy = p(c)[1] - p(b)[1];
      if (cross(ux, uy, vx, vy) == 0.0 && ux * vx + uy * vy < 0.0) return true;
    }
  }
  return false;
}

// Converts the fence's coordinates to WGS-84 in place.
void toWgs84(Datum datum, std::vector<Coordinate>& pts) {
  if (datum == Datum::wgs84 || pts.empty()) return;
  const Direction d = datum == Datum::gcj02 ? Direction::gcjToWgs : Direction::baiduToWgs;
  convert(d, pts, pts);
}

Result<FenceShape> compileCircle(const Geofence& fence, const GeofenceCircle& c) {
  if (!validCoordinate(c.center)) return fenceError(fence.id, "centre is not a valid coordinate");
  if (!std::isfinite(c.radius) || c.radius <= 0.0) {
    return fenceError(fence.id, "radius must be above 0");
  }
  if (2.0 * c.radius > kMaxFenceExtent) return fenceError(fence.id, "larger than 500 km across");
  std::vector<Coordinate> centre{c.center};
  toWgs84(fence.datum, centre);
  FenceShape s;
  setFrame(s, centre[0].latitude, centre[0].longitude);
  s.radius = c.radius;
  s.halfExtent = c.radius;
  return s;
}

Result<FenceShape> compilePolygons(const Geofence& fence, const std::vector<GeofencePolygon>& ps) {
  if (ps.empty()) return fenceError(fence.id, "has no polygon");
  FenceShape s;
  for (std::size_t pi = 0; pi < ps.size(); ++pi) {
    if (ps[pi].rings.empty())
      return fenceError(fence.id, "polygon " + std::to_string(pi) + " has no ring");
    for (std::size_t ri = 0; ri < ps[pi].rings.size(); ++ri) {
      const std::string where = "polygon " + std::to_string(pi) + " ring " + std::to_string(ri);
      const auto& ring = ps[pi].rings[ri];
      const std::size_t begin = s.pts.size();
      for (const Coordinate& c : ring) {
        if (!validCoordinate(c))
          return fenceError(fence.id, where + ": a vertex is not a valid coordinate");
        if (s.pts.size() > begin && s.pts.back().latitude == c.latitude &&
            s.pts.back().longitude == c.longitude) {
          continue;  // repeated vertex
        }
        s.pts.push_back(c);
      }
      while (s.pts.size() - begin > 1 && s.pts.back().latitude == s.pts[begin].latitude &&
             s.pts.back().longitude == s.pts[begin].longitude) {
        s.pts.pop_back();  // closing vertex
      }
      if (s.pts.size() - begin < 3) {
        return fenceError(fence.id, where + ": fewer than 3 distinct vertices");
      }
      for (std::size_t i = begin; i < s.pts.size(); ++i) {
        const Coordinate& a = s.pts[i];
        const Coordinate& b = s.pts[i + 1 < s.pts.size() ? i + 1 : begin];
        if (std::abs(a.longitude - b.longitude) > 180.0) {
          return fenceError(fence.id, where + ": crosses the antimeridian (not supported)");
        }
      }
      s.ringEnds.push_back(static_cast<uint32_t>(s.pts.size()));
    }
  }
  toWgs84(fence.datum, s.pts);

  double minLat = 90, maxLat = -90, minLng = 180, maxLng = -180;
  for (const Coordinate& c : s.pts) {
    minLat = std::min(minLat, c.latitude);
    maxLat = std::max(maxLat, c.latitude);
    minLng = std::min(minLng, c.longitude);
    maxLng = std::max(maxLng, c.longitude);
  }
  if (maxLng - minLng > 90.0) return fenceError(fence.id, "larger than 500 km across");
  setFrame(s, (minLat + maxLat) / 2, (minLng + maxLng) / 2);
  std::vector<double> xy(2 * s.pts.size());
  for (std::size_t i = 0; i < s.pts.size(); ++i) {
    xy[2 * i] = (s.pts[i].longitude - s.refLng) * s.kx;
    xy[2 * i + 1] = (s.pts[i].latitude - s.refLat) * s.ky;
    s.halfExtent = std::max(s.halfExtent, std::hypot(xy[2 * i], xy[2 * i + 1]));
  }
  if (2.0 * s.halfExtent > kMaxFenceExtent)
    return fenceError(fence.id, "larger than 500 km across");

  // Interior on the left: outer rings counter-clockwise, holes clockwise.
  std::size_t begin = 0, ringNo = 0;
  for (std::size_t pi = 0; pi < ps.size(); ++pi) {
    for (std::size_t ri = 0; ri < ps[pi].rings.size(); ++ri, ++ringNo) {
      const std::size_t end = s.ringEnds[ringNo];
      const std::string where = "polygon " + std::to_string(pi) + " ring " + std::to_string(ri);
      if (selfIntersects(xy, begin, end))
        return fenceError(fence.id, where + ": self-intersecting ring");
      double area = 0;
      for (std::size_t i = begin; i < end; ++i) {
        const std::size_t j = i + 1 < end ? i + 1 : begin;
        area += cross(xy[2 * i], xy[2 * i + 1], xy[2 * j], xy[2 * j + 1]);
      }
      if (area == 0.0) return fenceError(fence.id, where + ": ring has no area");
      if ((area > 0) != (ri == 0)) std::reverse(s.pts.begin() + begin, s.pts.begin() + end);
      begin = end;
    }
  }
  return s;
}

}  // namespace

void metresToDegrees(Coordinate at, double metres, double& dLat, double& dLng) {
  // Smallest metres per degree: the meridian at the equator, the parallel at the box's
  // poleward edge; 0.1% spare covers the rest.
  constexpr double kMinMeridianDegree = kA * (1.0 - kE2) * kDeg;
  dLat = metres / kMinMeridianDegree * 1.001 + 1e-9;
  const double lat = std::min(90.0, std::abs(at.latitude) + dLat);
  const double parallel = kA * std::cos(lat * kDeg) * kDeg;
  dLng = parallel > 1.0 ? metres / parallel * 1.001 + 1e-9 : 360.0;
}

Box boundingBox(const FenceShape& s) {
  Box b{s.refLat, s.refLng, s.refLat, s.refLng};
  for (const Coordinate& c : s.pts) {
    b.minLat = std::min(b.minLat, c.latitude);
    b.maxLat = std::max(b.maxLat, c.latitude);
    b.minLng = std::min(b.minLng, c.longitude);
    b.maxLng = std::max(b.maxLng, c.longitude);
  }
  // A circle's radius, or how far a geodesic edge can stray from its vertices' box.
  const double spare = s.isCircle() ? s.radius : s.frameError(s.halfExtent);
  double dLat = 0, dLng = 0;
  metresToDegrees(Coordinate{std::abs(b.minLat) > std::abs(b.maxLat) ? b.minLat : b.maxLat, 0},
                  spare, dLat, dLng);
  b.minLat -= dLat;
  b.maxLat += dLat;
  b.minLng -= dLng;
  b.maxLng += dLng;
  return b;
}

Result<FenceShape> compileShape(const Geofence& fence) {
  if (fence.id.empty()) return fenceError(fence.id, "a fence needs an id");
  if (fence.dwell && !(fence.dwell->count() >= 0.0)) {
    return fenceError(fence.id, "dwell time must not be negative");
  }
  Result<FenceShape> s =
      std::holds_alternative<GeofenceCircle>(fence.shape)
          ? compileCircle(fence, std::get<GeofenceCircle>(fence.shape))
          : compilePolygons(fence, std::get<std::vector<GeofencePolygon>>(fence.shape));
  if (!s.ok()) return s;
  const Box b = boundingBox(*s);
  if (b.minLat < -kMaxFenceLatitude || b.maxLat > kMaxFenceLatitude) {
    return fenceError(fence.id,
                      "reaches beyond latitude 85 (fences near the poles are not supported)");
  }
  if (b.minLng < -180.0 || b.maxLng > 180.0) {
    return fenceError(fence.id, "crosses the antimeridian (not supported)");
  }
  return s;
}

}  // namespace orv::detail
