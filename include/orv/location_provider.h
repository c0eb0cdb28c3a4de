// Where device fixes come from: the interface a host implements to feed its own source (a CAN
// bus, a proprietary receiver) and installs with orv::LocationService::use().
//
// Threads. A location manager lives on the thread that created its client; that thread runs an
// orv::RunLoop. The manager calls start() and stop() on that thread, authorizationStatus() on
// whichever thread asks, and requestAuthorization() on the thread of the client that asks. A
// provider may do its work on that run loop (timers: orv::Timer::scheduled inside start()) or on
// threads of its own; the sink accepts deliveries from any thread.
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "orv/export.h"
#include "orv/location.h"

namespace orv {

// Whether the host may position, as device location services number it.
enum class AuthorizationStatus : int {
  notDetermined = 0,
  restricted = 1,
  denied = 2,
  authorizedAlways = 3,
  authorizedWhenInUse = 4,
};

// What kind of failure a provider reports; the library turns it into the host's ErrorCode without
// reading the text (the text is what the host sees).
enum class LocationFailure : int {
  unspecified = 0,     // the text-only deliverError()
  sourceUnreachable,   // the source could not be opened or reached, or never sent anything
  sourceLost,          // a source that was delivering went away and did not come back
  protocolError,       // the source answered, but not in the protocol expected of it
  permissionDenied,    // the source refuses this host
  permissionPending,   // nobody answered the permission question
  noSourceConfigured,  // the host chose no source
};

// Receives one stream of a provider's output. Thread-safe: any thread may call it at any time,
// also after stop(). A call never blocks and never calls back into the provider: the work is
// posted to the manager's run loop, so the manager sees the output in delivery order but never
// inside the call. Once stop() has been called for this sink, everything delivered on it is
// dropped, including deliveries made earlier that the run loop has not handled yet. A sink whose
// manager is gone drops everything too, so a provider may keep a sink longer than needed.
class ORV_API LocationSink {
 public:
  virtual ~LocationSink() = default;
  // Fixes, oldest first, newest last. Coordinates are WGS-84 degrees.
  virtual void deliverLocations(std::vector<Location> locations) = 0;
  // A failure, as a localized description ("cannot connect to ..."). Delivering an error does
  // not end the stream: the provider keeps streaming until stop().
  virtual void deliverError(std::string localizedDescription) = 0;
  // The same, with its kind. Sinks that take only text get the text.
  virtual void deliverError(LocationFailure kind, std::string localizedDescription) {
    (void)kind;
    deliverError(std::move(localizedDescription));
  }
};

// One stream of a provider's output into one sink, from LocationProvider::open() on. Destroying
// the handle ends the stream and releases what it holds (on the thread that opened it); what the
// sink still receives afterwards is dropped, as after stop().
class ORV_API LocationStream {
 public:
  LocationStream() = default;
  virtual ~LocationStream() = default;
  LocationStream(const LocationStream&) = delete;
  LocationStream& operator=(const LocationStream&) = delete;
};

class ORV_API LocationProvider {
 public:
  virtual ~LocationProvider() = default;

  // Any thread; must be cheap (managers read it at every start, never caching it).
  virtual AuthorizationStatus authorizationStatus() const = 0;
  // A permission prompt: `always` asks to upgrade to authorizedAlways. The outcome is read later
  // through authorizationStatus(); nothing needs to happen for sources without permissions.
  virtual void requestAuthorization(bool always) { (void)always; }

  // Begins streaming into `sink`, on the sink owner's thread. Each manager that updates gets its
  // own sink; a provider serves several at once when several managers update. Failures (the
  // source cannot be reached) go to the sink, never out of this call.
  virtual void start(const std::shared_ptr<LocationSink>& sink) = 0;
  // Same thread as start() for that sink. Ends that stream and releases what it holds; a sink
  // that is not streaming is ignored. Deliveries racing with stop() are harmless (see above).
  virtual void stop(const LocationSink& sink) = 0;

  // How location managers stream: begins streaming into `sink` and returns the stream's handle.
  // By default start(sink), with a handle that calls stop(*sink) when destroyed; the provider must
  // outlive the handle. The library's own providers override this; a host's need not.
  virtual std::unique_ptr<LocationStream> open(const std::shared_ptr<LocationSink>& sink);
};

}  // namespace orv
