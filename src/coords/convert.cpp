#include "orv/convert.h"

#include "coords/convert_engine.h"
#include "coords/transform_math.h"

namespace orv {
namespace {

bool searchesPointByPoint(Direction d, InverseMethod m) {
  return m == InverseMethod::search && (d == Direction::gcjToWgs || d == Direction::baiduToWgs);
}

}  // namespace

namespace detail {

Coordinate convertSingle(Direction direction, Coordinate c) {
  const JyrCoorTransform& k = JyrCoorTransform::shared();
  switch (direction) {
    case Direction::wgsToGcj:
      return wgsToGcj(k, c.latitude, c.longitude);
    case Direction::gcjToWgs:
      return gcjToWgs(k, c);
    case Direction::gcjToBaidu:
      return gcjToBaidu(k, c);
    case Direction::baiduToGcj:
      return baiduToGcj(k, c);
    case Direction::wgsToBaidu:
      return gcjToBaidu(k, wgsToGcj(k, c.latitude, c.longitude));
    case Direction::baiduToWgs:
      return gcjToWgs(k, baiduToGcj(k, c));
  }
  return c;
}

}  // namespace detail

bool convert(Direction direction, std::span<const Coordinate> in, std::span<Coordinate> out,
             InverseMethod inverse) noexcept {
  if (out.size() < in.size()) return false;
  if (searchesPointByPoint(direction, inverse)) {
    for (size_t i = 0; i < in.size(); ++i) out[i] = detail::convertSingle(direction, in[i]);
  } else {
    detail::engineConvert(direction, in.data(), out.data(), in.size());
  }
  return true;
}

bool convert(Direction direction, std::span<const double> latitude,
             std::span<const double> longitude, std::span<double> outLatitude,
             std::span<double> outLongitude, InverseMethod inverse) noexcept {
  const size_t n = latitude.size();
  if (longitude.size() != n || outLatitude.size() < n || outLongitude.size() < n) return false;
  if (searchesPointByPoint(direction, inverse)) {
    for (size_t i = 0; i < n; ++i) {
      const Coordinate r = detail::convertSingle(direction, {latitude[i], longitude[i]});
      outLatitude[i] = r.latitude, outLongitude[i] = r.longitude;
    }
  } else {
    detail::engineConvert(direction, latitude.data(), longitude.data(), outLatitude.data(),
                          outLongitude.data(), n);
  }
  return true;
}

const char* convertTarget() noexcept { return detail::engineTargetName(); }

}  // namespace orv
