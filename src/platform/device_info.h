// Device facts sent with each request, and random UUIDs.
#pragma once

#include <optional>
#include <string>

namespace orv::detail {

struct DeviceFacts {
  // Stable per machine and library (upper-case UUID text); absent without a machine id.
  std::optional<std::string> vendorIdentifier;
  std::string model;
  std::string systemName;
  std::string systemVersion;
  std::string manufacturer;
};

// Read at every call (cheap after the first read); host overrides win over what the system says.
DeviceFacts currentDevice();

// A new random (version 4) UUID from the kernel's CSPRNG: 36 characters, upper case, 8-4-4-4-12.
std::string randomUUID();

}  // namespace orv::detail
