#include "systems.h"

namespace orvloc {

using T = orv::JyrCoorTransform;

const std::vector<std::pair<std::string, System>>& systemNames() {
  static const std::vector<std::pair<std::string, System>> names = {
      {"wgs84", System::kWgs84}, {"gcj02", System::kGcj02}, {"bd09", System::kBd09}};
  return names;
}

orv::Coordinate Conversion::operator()(orv::Coordinate c) const {
  switch (from_) {
    case System::kWgs84:
      if (to_ == System::kGcj02) return T::transformFromWGSToGCJ(c);
      if (to_ == System::kBd09) return T::transformFromWGSToBaidu(c);
      break;
    case System::kGcj02:
      if (to_ == System::kWgs84) return T::transformFromGCJToWGS(c);
      if (to_ == System::kBd09) return T::transformFromGCJToBaidu(c);
      break;
    case System::kBd09:
      if (to_ == System::kWgs84) return T::transformFromBaiduToWGS(c);
      if (to_ == System::kGcj02) return T::transformFromBaiduToGCJ(c);
      break;
  }
  return c;
}

}  // namespace orvloc
