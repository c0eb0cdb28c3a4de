// A provider driven by hand: fixes, errors and authorization come from the host or a test.
#pragma once

#include <mutex>
#include <optional>

#include "orv/location_service.h"
#include "platform/location/location_provider.h"

namespace orv::detail {

class SimulatedProvider final : public SimulatedLocationProvider, public LocationProvider {
 public:
  // SimulatedLocationProvider
  void pushLocations(std::vector<Location> locations) override;
  void pushError(std::string localizedDescription) override;
  void setAuthorizationStatus(int status) override;
  void setStatusAfterRequest(std::optional<int> whenInUse, std::optional<int> always) override;
  std::vector<std::string> calls() const override;
  void clearCalls() override;
  bool isUpdating() const override;

  // LocationProvider
  int authorizationStatus() const override;
  void requestAuthorization(bool always) override;
  void recordCall(std::string_view call) override;
  void start(const std::shared_ptr<LocationSink>& sink) override;
  void stop(const LocationSink* sink) override;

 private:
  // Live sinks, taken under the lock and fed outside it: a sink posts, it never calls back here.
  std::vector<std::shared_ptr<LocationSink>> liveSinks();

  mutable std::mutex mutex_;
  int status_ = 4;
  std::optional<int> afterWhenInUse_;
  std::optional<int> afterAlways_;
  std::vector<std::string> calls_;
  std::vector<std::weak_ptr<LocationSink>> sinks_;
};

}  // namespace orv::detail
