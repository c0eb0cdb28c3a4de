// Which side of a fence a fix is on: the fence's frame first, exact geodesics when the frame's
// error bound cannot settle it.
#include <GeographicLib/Geodesic.hpp>
#include <GeographicLib/Gnomonic.hpp>

#include <algorithm>
#include <cmath>
#include <limits>

#include "geofence/fence_shape.h"

namespace orv::detail {
namespace {

using GeographicLib::Geodesic;
using GeographicLib::Gnomonic;

const Geodesic& wgs84() { return Geodesic::WGS84(); }

// Distance from the fix to the boundary and whether its point is inside.
struct Boundary {
  double distance = std::numeric_limits<double>::infinity();
  bool inside = false;
};

double cross(double ax, double ay, double bx, double by) { return ax * by - ay * bx; }

// Planar distance and parity in the fence's frame. `edgeDistance`, when given, receives each
// edge's distance (edge i ends at vertex i).
Boundary frameBoundary(const FenceShape& s, double px, double py, double* edgeDistance) {
  Boundary b;
  double best = std::numeric_limits<double>::infinity();
  uint32_t begin = 0;
  for (uint32_t end : s.ringEnds) {
    double jx = (s.pts[end - 1].longitude - s.refLng) * s.kx;
    double jy = (s.pts[end - 1].latitude - s.refLat) * s.ky;
    for (uint32_t i = begin; i < end; ++i) {
      const double ix = (s.pts[i].longitude - s.refLng) * s.kx;
      const double iy = (s.pts[i].latitude - s.refLat) * s.ky;
      if ((iy > py) != (jy > py) && px < (jx - ix) * (py - iy) / (jy - iy) + ix)
        b.inside = !b.inside;
      const double dx = ix - jx, dy = iy - jy;
      const double len2 = dx * dx + dy * dy;
      double t = len2 > 0 ? ((px - jx) * dx + (py - jy) * dy) / len2 : 0.0;
      t = std::clamp(t, 0.0, 1.0);
      const double ex = jx + t * dx - px, ey = jy + t * dy - py;
      const double d2 = ex * ex + ey * ey;
      if (edgeDistance) edgeDistance[i] = std::sqrt(d2);
      best = std::min(best, d2);
      jx = ix;
      jy = iy;
    }
    begin = end;
  }
  b.distance = std::sqrt(best);
  return b;
}

struct EdgeFoot {
  double distance = 0;
  int vertex = -1;    // 0: the edge's start, 1: its end, -1: a point inside the edge
  bool left = false;  // for a point inside the edge: the fix is on its left
};

// Nearest point of geodesic segment a-b to p: the interception method of Karney ("Algorithms for
// geodesics", 2013), recentring an ellipsoidal gnomonic projection on the foot until it stays.
EdgeFoot nearestOnEdge(Coordinate a, Coordinate b, Coordinate p) {
  static const Gnomonic gnomonic(wgs84());
  double lat0 = (a.latitude + b.latitude) / 2, lng0 = (a.longitude + b.longitude) / 2;
  EdgeFoot foot;
  double t = 0.5;
  for (int round = 0; round < 12; ++round) {
    double xa, ya, xb, yb, xp, yp;
    gnomonic.Forward(lat0, lng0, a.latitude, a.longitude, xa, ya);
    gnomonic.Forward(lat0, lng0, b.latitude, b.longitude, xb, yb);
    gnomonic.Forward(lat0, lng0, p.latitude, p.longitude, xp, yp);
    const double dx = xb - xa, dy = yb - ya;
    t = std::clamp(((xp - xa) * dx + (yp - ya) * dy) / (dx * dx + dy * dy), 0.0, 1.0);
    foot.left = cross(dx, dy, xp - xa, yp - ya) > 0;
    if (t == 0.0 || t == 1.0) {
      // Confirm from the vertex itself, where the projection is exact in direction.
      const Coordinate v = t == 0.0 ? a : b;
      if (lat0 == v.latitude && lng0 == v.longitude) break;
      lat0 = v.latitude;
      lng0 = v.longitude;
      continue;
    }
    double lat, lng;
    gnomonic.Reverse(lat0, lng0, xa + t * dx, ya + t * dy, lat, lng);
    const bool still = std::abs(lat - lat0) < 1e-12 && std::abs(lng - lng0) < 1e-12;
    lat0 = lat;
    lng0 = lng;
    if (still) break;
  }
  double s12 = 0;
  if (t == 0.0 || t == 1.0) {
    foot.vertex = t == 0.0 ? 0 : 1;
    const Coordinate v = t == 0.0 ? a : b;
    wgs84().Inverse(p.latitude, p.longitude, v.latitude, v.longitude, s12);
  } else {
    wgs84().Inverse(p.latitude, p.longitude, lat0, lng0, s12);
  }
  foot.distance = s12;
  return foot;
}

// Is p inside the corner u-v-w (interior on the left of the path), seen from v itself, where
// every geodesic through v is a straight line of the gnomonic projection?
bool insideCorner(Coordinate u, Coordinate v, Coordinate w, Coordinate p) {
  static const Gnomonic gnomonic(wgs84());
  double xu, yu, xw, yw, xp, yp;
  gnomonic.Forward(v.latitude, v.longitude, u.latitude, u.longitude, xu, yu);
  gnomonic.Forward(v.latitude, v.longitude, w.latitude, w.longitude, xw, yw);
  gnomonic.Forward(v.latitude, v.longitude, p.latitude, p.longitude, xp, yp);
  // Edge u->v runs along -u from the origin's side; v->w along w.
  const bool leftOfIn = cross(-xu, -yu, xp, yp) > 0;
  const bool leftOfOut = cross(xw, yw, xp, yp) > 0;
  const bool convex = cross(-xu, -yu, xw, yw) > 0;
  return convex ? (leftOfIn && leftOfOut) : (leftOfIn || leftOfOut);
}

// Exact distance and side. With `allEdges` false, only edges whose frame distance could be the
// nearest within the frame's error are computed exactly.
Boundary exactBoundary(const FenceShape& s, Coordinate p, bool allEdges) {
  Boundary b;
  if (s.isCircle()) {
    double s12 = 0;
    wgs84().Inverse(s.refLat, s.refLng, p.latitude, p.longitude, s12);
    b.distance = std::abs(s12 - s.radius);
    b.inside = s12 < s.radius;
    return b;
  }
  std::vector<double> edgeDistance(s.pts.size());
  const double px = (p.longitude - s.refLng) * s.kx, py = (p.latitude - s.refLat) * s.ky;
  const Boundary frame = frameBoundary(s, px, py, edgeDistance.data());
  const double limit =
      frame.distance + 2.0 * s.frameError(std::max(s.halfExtent, std::hypot(px, py)));
  uint32_t begin = 0;
  for (uint32_t end : s.ringEnds) {
    for (uint32_t i = begin; i < end; ++i) {
      if (!allEdges && edgeDistance[i] > limit) continue;
      const uint32_t j = i == begin ? end - 1 : i - 1;
      const EdgeFoot f = nearestOnEdge(s.pts[j], s.pts[i], p);
      if (f.distance >= b.distance) continue;
      b.distance = f.distance;
      if (f.vertex < 0) {
        b.inside = f.left;
        continue;
      }
      const uint32_t v = f.vertex == 0 ? j : i;
      const uint32_t u = v == begin ? end - 1 : v - 1;
      const uint32_t w = v + 1 == end ? begin : v + 1;
      b.inside = insideCorner(s.pts[u], s.pts[v], s.pts[w], p);
    }
    begin = end;
  }
  return b;
}

Side sideOf(const Boundary& b, double accuracy) {
  if (b.distance > 0.0 && b.distance >= accuracy) return b.inside ? Side::inside : Side::outside;
  return Side::uncertain;
}

}  // namespace

Side classify(const FenceShape& s, Coordinate p, double accuracy) {
  const double px = (p.longitude - s.refLng) * s.kx, py = (p.latitude - s.refLat) * s.ky;
  Boundary frame;
  if (s.isCircle()) {
    const double r = std::hypot(px, py);
    frame.distance = std::abs(r - s.radius);
    frame.inside = r < s.radius;
  } else {
    frame = frameBoundary(s, px, py, nullptr);
  }
  const double err = s.frameError(std::max(s.halfExtent, std::hypot(px, py)));
  if (frame.distance > err && frame.distance - err >= accuracy) {
    return frame.inside ? Side::inside : Side::outside;
  }
  if (frame.distance + err < accuracy) return Side::uncertain;
  return sideOf(exactBoundary(s, p, false), accuracy);
}

Side classifyExact(const FenceShape& s, Coordinate p, double accuracy) {
  return sideOf(exactBoundary(s, p, true), accuracy);
}

}  // namespace orv::detail
