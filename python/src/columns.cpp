#include "columns.h"

#include <pybind11/pybind11.h>

#include <algorithm>
#include <array>
#include <span>

#include "orv/coord_transform.h"

namespace orvpy {

namespace {

using T = orv::JyrCoorTransform;
using Batch = bool (*)(std::span<const orv::Coordinate>, std::span<orv::Coordinate>);

Batch batchFor(System src, System dst) {
  switch (src) {
    case System::wgs84:
      return dst == System::gcj02  ? Batch{&T::transformFromWGSToGCJ}
             : dst == System::bd09 ? Batch{&T::transformFromWGSToBaidu}
                                   : nullptr;
    case System::gcj02:
      return dst == System::wgs84  ? Batch{&T::transformFromGCJToWGS}
             : dst == System::bd09 ? Batch{&T::transformFromGCJToBaidu}
                                   : nullptr;
    case System::bd09:
      return dst == System::wgs84   ? Batch{&T::transformFromBaiduToWGS}
             : dst == System::gcj02 ? Batch{&T::transformFromBaiduToGCJ}
                                    : nullptr;
  }
  return nullptr;
}

}  // namespace

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

void convertColumns(System src, System dst, Inverse /*inverse*/, const double* lat,
                    const double* lng, double* outLat, double* outLng, std::size_t n) {
  const Batch batch = batchFor(src, dst);
  if (!batch) {
    std::copy_n(lat, n, outLat);
    std::copy_n(lng, n, outLng);
    return;
  }
  // The batch forms take interleaved coordinates; go through a small buffer.
  std::array<orv::Coordinate, 1024> buffer;
  for (std::size_t done = 0; done < n;) {
    const std::size_t m = std::min(buffer.size(), n - done);
    for (std::size_t i = 0; i < m; ++i) buffer[i] = {lat[done + i], lng[done + i]};
    const std::span<orv::Coordinate> chunk(buffer.data(), m);
    batch(chunk, chunk);
    for (std::size_t i = 0; i < m; ++i) {
      outLat[done + i] = buffer[i].latitude;
      outLng[done + i] = buffer[i].longitude;
    }
    done += m;
  }
}

}  // namespace orvpy
