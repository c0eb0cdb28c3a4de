// Where a location manager's fixes come from. One provider is chosen process-wide; managers ask
// the current one at each call, so a choice made before clients exist applies to all of them.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "orv/location.h"

namespace orv::detail {

// Receives a provider's output. Thread-safe: a provider may deliver from any thread (a reader
// thread, a socket callback, a timer); the receiver re-posts to its own run loop.
class LocationSink {
 public:
  virtual ~LocationSink() = default;
  // Oldest first, newest last.
  virtual void deliverLocations(std::vector<Location> locations) = 0;
  virtual void deliverError(std::string localizedDescription) = 0;
};

class LocationProvider {
 public:
  virtual ~LocationProvider() = default;

  // 0 not determined, 1 restricted, 2 denied, 3 authorized always, 4 authorized when in use.
  virtual int authorizationStatus() const = 0;
  virtual void requestAuthorization(bool always) = 0;
  // A manager call as the provider may want to see it ("startUpdatingLocation", ...).
  virtual void recordCall(std::string_view call) { (void)call; }

  // Called on the sink owner's thread, which runs a run loop: a provider may schedule timers there
  // (a replayed track, a non-blocking socket read when it polls ready) or read on a thread of its
  // own. It keeps the sink weakly and streams into it until stop().
  virtual void start(const std::shared_ptr<LocationSink>& sink) = 0;
  // Same thread as start(). Stopping a sink that is not streaming does nothing.
  virtual void stop(const LocationSink* sink) = 0;
};

// The process-wide choice, or the default provider that fails every start.
std::shared_ptr<LocationProvider> currentLocationProvider();
void setLocationProvider(std::shared_ptr<LocationProvider> provider);

// The localized description of the failure every start meets when no provider is chosen.
extern const char* const kNoLocationProviderMessage;

}  // namespace orv::detail
