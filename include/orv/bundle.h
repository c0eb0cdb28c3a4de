// Information dictionaries: the host application's declarations and the library's own bundle.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "orv/export.h"

namespace orv {

// A declared value: text, whole number, real number, boolean, or a list of texts.
using InfoValue = std::variant<std::string, int64_t, double, bool, std::vector<std::string>>;

class ORV_API Bundle {
 public:
  Bundle() = default;

  // The host application's bundle. The host declares its keys here at start-up, for example
  // "NSLocationWhenInUseUsageDescription" or "UIBackgroundModes" = {"location"}.
  static Bundle& mainBundle();

  void setObject(const std::string& key, InfoValue value);
  void removeObject(const std::string& key);
  void clear();
  std::optional<InfoValue> objectForInfoDictionaryKey(const std::string& key) const;

 private:
  mutable std::mutex mutex_;
  std::map<std::string, InfoValue> values_;
};

}  // namespace orv
