#include "systems.h"

namespace orvloc {

using orv::Direction;

const std::vector<std::pair<std::string, System>>& systemNames() {
  static const std::vector<std::pair<std::string, System>> names = {
      {"wgs84", System::kWgs84}, {"gcj02", System::kGcj02}, {"bd09", System::kBd09}};
  return names;
}

std::optional<Direction> directionOf(System from, System to) {
  switch (from) {
    case System::kWgs84:
      if (to == System::kGcj02) return Direction::wgsToGcj;
      if (to == System::kBd09) return Direction::wgsToBaidu;
      break;
    case System::kGcj02:
      if (to == System::kWgs84) return Direction::gcjToWgs;
      if (to == System::kBd09) return Direction::gcjToBaidu;
      break;
    case System::kBd09:
      if (to == System::kWgs84) return Direction::baiduToWgs;
      if (to == System::kGcj02) return Direction::baiduToGcj;
      break;
  }
  return std::nullopt;
}

}  // namespace orvloc
