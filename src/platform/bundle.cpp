#include "orv/bundle.h"

namespace orv {

Bundle& Bundle::mainBundle() {
  static Bundle bundle;
  return bundle;
}

void Bundle::setObject(const std::string& key, InfoValue value) {
  std::lock_guard lock(mutex_);
  values_.insert_or_assign(key, std::move(value));
}

void Bundle::removeObject(const std::string& key) {
  std::lock_guard lock(mutex_);
  values_.erase(key);
}

void Bundle::clear() {
  std::lock_guard lock(mutex_);
  values_.clear();
}

std::optional<InfoValue> Bundle::objectForInfoDictionaryKey(const std::string& key) const {
  std::lock_guard lock(mutex_);
  auto it = values_.find(key);
  if (it == values_.end()) return std::nullopt;
  return it->second;
}

}  // namespace orv
