#include "columns.h"

#include <pybind11/pybind11.h>

#include <algorithm>
#include <optional>

#include "orv/convert.h"

namespace orvpy {

std::optional<orv::Direction> directionOf(System src, System dst) {
  using D = orv::Direction;
  switch (src) {
    case System::wgs84:
      return dst == System::gcj02  ? std::optional(D::wgsToGcj)
             : dst == System::bd09 ? std::optional(D::wgsToBaidu)
                                   : std::nullopt;
    case System::gcj02:
      return dst == System::wgs84  ? std::optional(D::gcjToWgs)
             : dst == System::bd09 ? std::optional(D::gcjToBaidu)
                                   : std::nullopt;
    case System::bd09:
      return dst == System::wgs84   ? std::optional(D::baiduToWgs)
             : dst == System::gcj02 ? std::optional(D::baiduToGcj)
                                    : std::nullopt;
  }
  return std::nullopt;
}

System parseSystem(const std::string& name, const char* argument) {
  if (name == "wgs84") return System::wgs84;
  if (name == "gcj02") return System::gcj02;
  if (name == "bd09") return System::bd09;
  throw pybind11::value_error(std::string("unknown coordinate system for ") + argument + ": '" +
                              name + "' (use 'wgs84', 'gcj02' or 'bd09')");
}

Inverse parseInverse(const std::string& name) {
  if (name == "iterative") return Inverse::iterative;
  if (name == "search") return Inverse::search;
  throw pybind11::value_error("unknown inverse method: '" + name +
                              "' (use 'iterative' or 'search')");
}

void convertColumns(System src, System dst, Inverse inverse, const double* lat, const double* lng,
                    double* outLat, double* outLng, std::size_t n) {
  const auto d = directionOf(src, dst);
  if (!d) {
    if (outLat != lat) std::copy_n(lat, n, outLat);
    if (outLng != lng) std::copy_n(lng, n, outLng);
    return;
  }
  orv::convert(
      *d, {lat, n}, {lng, n}, {outLat, n}, {outLng, n},
      inverse == Inverse::search ? orv::InverseMethod::search : orv::InverseMethod::iterative);
}

}  // namespace orvpy
