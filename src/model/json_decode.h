// Decoding a reply body into what the caller asked for. The network layer adds its own
// specialisations (for example for an empty reply).
#pragma once

#include <memory>
#include <string_view>
#include <vector>

#include "orv/geocode_res.h"
#include "orv/location_res.h"
#include "orv/result.h"

namespace orv::detail {

template <class T>
struct JsonDecode;

template <>
struct JsonDecode<std::shared_ptr<LocationRes>> {
  static Result<std::shared_ptr<LocationRes>> decode(std::string_view body) {
    return LocationRes::decode(body);
  }
};

template <>
struct JsonDecode<std::vector<std::shared_ptr<GeocodeRes>>> {
  static Result<std::vector<std::shared_ptr<GeocodeRes>>> decode(std::string_view body) {
    return decodeGeocodeList(body);
  }
};

}  // namespace orv::detail
