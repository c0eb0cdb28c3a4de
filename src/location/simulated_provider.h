// A provider driven by hand: fixes, errors and authorization come from the host or a test.
#pragma once

#include <mutex>
#include <optional>

#include "orv/location_sources.h"

namespace orv::detail {

class SimulatedProvider final : public SimulatedLocationProvider {
 public:
  void pushLocations(std::vector<Location> locations) override;
  void pushError(std::string localizedDescription) override;
  void setAuthorizationStatus(AuthorizationStatus status) override;
  void setStatusAfterRequest(std::optional<AuthorizationStatus> whenInUse,
                             std::optional<AuthorizationStatus> always) override;
  bool isUpdating() const override;

  AuthorizationStatus authorizationStatus() const override;
  void requestAuthorization(bool always) override;
  void start(const std::shared_ptr<LocationSink>& sink) override;
  void stop(const LocationSink& sink) override;

 private:
  // Live sinks, taken under the lock and fed outside it: a sink posts, it never calls back here.
  std::vector<std::shared_ptr<LocationSink>> liveSinks();

  mutable std::mutex mutex_;
  AuthorizationStatus status_ = AuthorizationStatus::authorizedWhenInUse;
  std::optional<AuthorizationStatus> afterWhenInUse_;
  std::optional<AuthorizationStatus> afterAlways_;
  std::vector<std::weak_ptr<LocationSink>> sinks_;
};

}  // namespace orv::detail
