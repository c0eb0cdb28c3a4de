#include "orv/convert.h"

#include <cstdint>

#include "coords/convert_engine.h"
#include "coords/transform_math.h"

namespace orv {
namespace {

bool searchesPointByPoint(Direction d, InverseMethod m) {
  return m == InverseMethod::search && (d == Direction::gcjToWgs || d == Direction::baiduToWgs);
}

// Whether two arrays of n doubles share an element. Compared as addresses: the arrays are
// usually unrelated objects, which the built-in comparison does not order.
bool shareElements(const double* a, const double* b, size_t n) {
  const auto x = reinterpret_cast<std::uintptr_t>(a), y = reinterpret_cast<std::uintptr_t>(b);
  const std::uintptr_t bytes = n * sizeof(double);
  return x < y + bytes && y < x + bytes;
}

}  // namespace

namespace detail {

const char* columnsOverlap(const double* lat, const double* lng, const double* outLat,
                           const double* outLng, size_t n) {
  if (n == 0) return nullptr;
  if (shareElements(outLat, outLng, n)) return "the output columns overlap each other";
  if ((outLat != lat && shareElements(outLat, lat, n)) || shareElements(outLat, lng, n) ||
      (outLng != lng && shareElements(outLng, lng, n)) || shareElements(outLng, lat, n)) {
    return "an output column overlaps an input column other than its own";
  }
  return nullptr;
}

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
  if (detail::columnsOverlap(latitude.data(), longitude.data(), outLatitude.data(),
                             outLongitude.data(), n)) {
    return false;
  }
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
