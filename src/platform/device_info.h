// Device facts sent with each request, and random UUIDs.
#pragma once

#include <optional>
#include <string>
#include <string_view>

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

// `bytes` with each invalid UTF-8 sequence replaced by U+FFFD (one per maximal subpart). System
// files and hosts may hand over any bytes; request bodies must be valid UTF-8.
std::string validUtf8(std::string_view bytes);

// The library's application id for systemd's app-specific machine ids, so the vendor identifier
// is what `systemd-id128 machine-id --app-specific=<this> -u` prints (in upper case).
inline constexpr std::string_view kDeviceAppId = "71bd70c5d3fb40829d0c47ef1f010248";

// The system's facts read from files below `root` ("" for the real system; tests point it at
// fake files), with uname() for what the files do not say. No cache, no overrides.
DeviceFacts readDeviceFacts(const std::string& root);

}  // namespace orv::detail
