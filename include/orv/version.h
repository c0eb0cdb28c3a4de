// The library's version and build number, read once from its own information dictionary.
#pragma once

#include <string>

#include "orv/export.h"

namespace orv {

class ORV_API OrvVersion {
 public:
  OrvVersion() = default;

  // "CFBundleShortVersionString", or "0.0.0" when absent or not text.
  static const std::string& sdkVersion();
  // "CFBundleVersion", or "0" when absent or not text.
  static const std::string& buildNumber();
};

}  // namespace orv
