// Device facts sent with each request, which the host may override (an embedded product knows
// its model better than the firmware tables do).
#pragma once

#include <optional>
#include <string>

#include "orv/export.h"

namespace orv {

// A set field replaces what the system reports; an unset one keeps it. The vendor identifier is
// sent as given, so it should be an upper-case UUID text.
struct DeviceOverrides {
  std::optional<std::string> vendorIdentifier;
  std::optional<std::string> model;
  std::optional<std::string> systemName;
  std::optional<std::string> systemVersion;
  std::optional<std::string> manufacturer;
};

// Process-wide and thread-safe; replaces earlier overrides. DeviceOverrides{} restores the
// system's facts.
ORV_API void setDeviceOverrides(DeviceOverrides overrides);

}  // namespace orv
