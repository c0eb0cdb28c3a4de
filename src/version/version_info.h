// How OrvVersion reads its values, separated from the library's own bundle so tests can feed any.
#pragma once

#include <mutex>
#include <optional>
#include <string>

#include "orv/bundle.h"

namespace orv::detail {

// The library's own information dictionary, generated at build time.
const Bundle& libraryBundle();

// Text values are taken as they are (also empty ones); absent or other types give the fallback.
std::string textOr(const std::optional<InfoValue>& value, const std::string& fallback);

// Each value is computed on its first read, independently of the other, and then kept.
class VersionCache {
 public:
  explicit VersionCache(const Bundle& bundle) : bundle_(bundle) {}

  const std::string& sdkVersion();
  const std::string& buildNumber();

 private:
  const Bundle& bundle_;
  std::once_flag versionOnce_, buildOnce_;
  std::string version_, build_;
};

}  // namespace orv::detail
