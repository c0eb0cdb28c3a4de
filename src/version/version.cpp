#include "orv/version.h"

#include "orv_version_info.h"
#include "version/version_info.h"

namespace orv {
namespace detail {

const Bundle& libraryBundle() {
  static const Bundle* const bundle = [] {
    auto* b = new Bundle;  // lives for the process, like a platform bundle
    b->setObject("CFBundleShortVersionString", std::string(ORV_VERSION_STRING));
#ifdef ORV_INFO_BUILD_NUMBER
    b->setObject("CFBundleVersion", std::string(ORV_INFO_BUILD_NUMBER));
#endif
    return b;
  }();
  return *bundle;
}

std::string textOr(const std::optional<InfoValue>& value, const std::string& fallback) {
  if (value) {
    if (const auto* text = std::get_if<std::string>(&*value)) return *text;
  }
  return fallback;
}

const std::string& VersionCache::sdkVersion() {
  std::call_once(versionOnce_, [this] {
    version_ = textOr(bundle_.objectForInfoDictionaryKey("CFBundleShortVersionString"), "0.0.0");
  });
  return version_;
}

const std::string& VersionCache::buildNumber() {
  std::call_once(buildOnce_, [this] {
    build_ = textOr(bundle_.objectForInfoDictionaryKey("CFBundleVersion"), "0");
  });
  return build_;
}

VersionCache& libraryVersion() {
  static VersionCache cache(libraryBundle());
  return cache;
}

}  // namespace detail

const std::string& OrvVersion::sdkVersion() { return detail::libraryVersion().sdkVersion(); }
const std::string& OrvVersion::buildNumber() { return detail::libraryVersion().buildNumber(); }

}  // namespace orv
