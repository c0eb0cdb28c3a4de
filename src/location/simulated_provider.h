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
  std::unique_ptr<LocationStream> open(const std::shared_ptr<LocationSink>& sink) override;
  // For hosts that drive it by sink: start() adds the sink to those fed, stop() removes it.
  void start(const std::shared_ptr<LocationSink>& sink) override;
  void stop(const LocationSink& sink) override;

  // The sinks fed, one entry per stream. Shared with the stream handles, which remove their own
  // entry, so a handle may outlive the provider.
  struct Fanout {
    std::mutex mutex;
    std::vector<std::shared_ptr<const std::weak_ptr<LocationSink>>> taps;
  };

 private:
  // Live sinks, taken under the lock and fed outside it: a sink posts, it never calls back here.
  std::vector<std::shared_ptr<LocationSink>> liveSinks();

  mutable std::mutex mutex_;
  AuthorizationStatus status_ = AuthorizationStatus::authorizedWhenInUse;
  std::optional<AuthorizationStatus> afterWhenInUse_;
  std::optional<AuthorizationStatus> afterAlways_;
  std::shared_ptr<Fanout> fanout_ = std::make_shared<Fanout>();
};

}  // namespace orv::detail
