#include "orv/convert.h"

#include <cmath>

#include "coords/convert_targets.h"
#include "coords/transform_math.h"

namespace orv {
namespace {

using detail::outOfChina;

// p <- p - (forward(p) - g) until within 1e-10 degree, at most 30 rounds, best point kept.
Coordinate iterateInverse(const JyrCoorTransform& k, Coordinate g) {
  Coordinate p = g, best = g;
  double bestError = INFINITY;
  for (int i = 0; i < 30; ++i) {
    const Coordinate f = detail::wgsToGcj(k, p.latitude, p.longitude);
    const double dLat = f.latitude - g.latitude, dLng = f.longitude - g.longitude;
    const double error = std::fabs(dLat) + std::fabs(dLng);
    if (error < bestError) bestError = error, best = p;
    if (error <= 1e-10) break;
    p = {p.latitude - dLat, p.longitude - dLng};
  }
  return best;
}

Coordinate convertOne(Direction d, InverseMethod m, Coordinate c) {
  const JyrCoorTransform& k = JyrCoorTransform::shared();
  const auto inverse = [&](Coordinate g) {
    if (m == InverseMethod::search || !std::isfinite(g.latitude) || !std::isfinite(g.longitude)) {
      return detail::gcjToWgs(k, g);
    }
    return iterateInverse(k, g);
  };
  switch (d) {
    case Direction::wgsToGcj:
      return detail::wgsToGcj(k, c.latitude, c.longitude);
    case Direction::gcjToWgs:
      return inverse(c);
    case Direction::gcjToBaidu:
      return detail::gcjToBaidu(k, c);
    case Direction::baiduToGcj:
      return detail::baiduToGcj(k, c);
    case Direction::wgsToBaidu:
      return detail::gcjToBaidu(k, detail::wgsToGcj(k, c.latitude, c.longitude));
    case Direction::baiduToWgs:
      return inverse(detail::baiduToGcj(k, c));
  }
  return c;
}

}  // namespace

bool convert(Direction direction, std::span<const Coordinate> in, std::span<Coordinate> out,
             InverseMethod inverse) noexcept {
  if (out.size() < in.size()) return false;
  for (size_t i = 0; i < in.size(); ++i) out[i] = convertOne(direction, inverse, in[i]);
  return true;
}

bool convert(Direction direction, std::span<const double> latitude,
             std::span<const double> longitude, std::span<double> outLatitude,
             std::span<double> outLongitude, InverseMethod inverse) noexcept {
  const size_t n = latitude.size();
  if (longitude.size() != n || outLatitude.size() < n || outLongitude.size() < n) return false;
  for (size_t i = 0; i < n; ++i) {
    const Coordinate r = convertOne(direction, inverse, {latitude[i], longitude[i]});
    outLatitude[i] = r.latitude, outLongitude[i] = r.longitude;
  }
  return true;
}

const char* convertTarget() noexcept { return "SCALAR"; }

}  // namespace orv

namespace orv::detail {

std::vector<EngineTarget> availableEngineTargets() { return {{"SCALAR", 0}}; }
void pinEngineTarget(int64_t) {}

}  // namespace orv::detail
