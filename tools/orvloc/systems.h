// The coordinate systems the tool names, and the conversion between any two of them.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <vector>

#include "orv/convert.h"

namespace orvloc {

enum class System { kWgs84, kGcj02, kBd09 };

const std::vector<std::pair<std::string, System>>& systemNames();

// Runs on the library's vector engine; `inverse` decides how GCJ-02 and BD-09 go back to WGS-84.
class Conversion {
 public:
  Conversion(System from, System to, orv::InverseMethod inverse);
  orv::Coordinate operator()(orv::Coordinate c) const;
  void operator()(std::span<double> lat, std::span<double> lng) const;  // in place

 private:
  std::optional<orv::Direction> direction_;  // none: the same system
  orv::InverseMethod inverse_;
};

}  // namespace orvloc
