// Records the location manager calls made while it lives ("startUpdatingLocation",
// "setDistanceFilter:3", ...), whatever provider is chosen.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "platform/location/location_manager.h"

namespace orv::test {

class ManagerCallSpy final : public detail::ManagerCallObserver {
 public:
  ManagerCallSpy() { detail::setManagerCallObserver(this); }
  ~ManagerCallSpy() override { detail::setManagerCallObserver(nullptr); }
  ManagerCallSpy(const ManagerCallSpy&) = delete;
  ManagerCallSpy& operator=(const ManagerCallSpy&) = delete;

  void managerCall(std::string call) override {
    std::lock_guard lock(mutex_);
    calls_.push_back(std::move(call));
  }
  std::vector<std::string> calls() const {
    std::lock_guard lock(mutex_);
    return calls_;
  }
  void clear() {
    std::lock_guard lock(mutex_);
    calls_.clear();
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> calls_;
};

}  // namespace orv::test
