// GeoJSON fences: parsing never crashes, and whatever parses can be offered to a monitor.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "orv/geofence.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  auto fences = orv::parseGeofences(text, orv::Datum::gcj02);
  if (fences.ok()) {
    orv::GeofenceMonitor m;
    for (const auto& f : *fences) (void)m.add(f);
    orv::Location fix;
    fix.coordinate = {31.23, 121.47};
    fix.horizontalAccuracy = 10;
    (void)m.update(fix);
  }
  return 0;
}
