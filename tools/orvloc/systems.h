// The coordinate systems the tool names, and the conversion between any two of them.
#pragma once

#include <string>
#include <vector>

#include "orv/coord_transform.h"

namespace orvloc {

enum class System { kWgs84, kGcj02, kBd09 };

const std::vector<std::pair<std::string, System>>& systemNames();

class Conversion {
 public:
  Conversion(System from, System to) : from_(from), to_(to) {}
  orv::Coordinate operator()(orv::Coordinate c) const;

 private:
  System from_, to_;
};

}  // namespace orvloc
