// The coordinate systems the tool names, and the conversion between any two of them.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "orv/convert.h"

namespace orvloc {

enum class System { kWgs84, kGcj02, kBd09 };

const std::vector<std::pair<std::string, System>>& systemNames();

// The engine's direction from one system to another; none for the same system.
std::optional<orv::Direction> directionOf(System from, System to);

}  // namespace orvloc
