// One conversion between two coordinate systems, on the library's vector engine.
#pragma once

#include <optional>
#include <span>

#include "orv/convert.h"

namespace orv::fileconv {

class Conversion {
 public:
  // No direction: the same system on both sides, nothing changes.
  explicit Conversion(std::optional<Direction> direction = std::nullopt,
                      InverseMethod inverse = InverseMethod::iterative)
      : direction_(direction), inverse_(inverse) {}

  Coordinate operator()(Coordinate c) const {
    if (direction_) convert(*direction_, std::span(&c, 1), std::span(&c, 1), inverse_);
    return c;
  }
  void operator()(std::span<double> lat, std::span<double> lng) const {  // in place
    if (direction_) convert(*direction_, lat, lng, lat, lng, inverse_);
  }

 private:
  std::optional<Direction> direction_;
  InverseMethod inverse_;
};

}  // namespace orv::fileconv
