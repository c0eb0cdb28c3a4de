// Our stand-in for the platform location manager: settings, permission requests, a class-level
// authorization status, continuous and one-shot updates. Fixes come from the process-wide
// provider (orv/location_service.h); callbacks arrive on the run loop of the creating thread.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "orv/location.h"
#include "orv/location_provider.h"

namespace orv::detail {

class LocationManagerDelegate {
 public:
  virtual ~LocationManagerDelegate() = default;
  // Oldest first, newest last.
  virtual void didUpdateLocations(const std::vector<Location>& locations) = 0;
  virtual void didFailWithError(LocationFailure kind, const std::string& localizedDescription) = 0;
};

inline constexpr double kLocationAccuracyBest = -1.0;

class LocationManager {
 public:
  LocationManager();
  ~LocationManager();
  LocationManager(const LocationManager&) = delete;
  LocationManager& operator=(const LocationManager&) = delete;

  // 0 not determined, 1 restricted, 2 denied, 3 authorized always, 4 authorized when in use.
  static int authorizationStatus();

  void setDistanceFilter(double metres);
  void setDesiredAccuracy(double accuracy);
  void setDelegate(std::weak_ptr<LocationManagerDelegate> delegate);
  void setPausesLocationUpdatesAutomatically(bool pauses);
  void setAllowsBackgroundLocationUpdates(bool allows);
  void requestWhenInUseAuthorization();
  void requestAlwaysAuthorization();
  void startUpdatingLocation();
  void stopUpdatingLocation();
  void requestLocation();

  struct Impl;

 private:
  std::shared_ptr<Impl> impl_;
};

}  // namespace orv::detail
