// Fixes from gpsd over TCP, in its JSON protocol (no libgps: its ABI changes between releases),
// read on a run loop through a watched socket (location/reconnecting_source.h): working once gpsd
// accepted the watch request, reconnected with backoff, reported at once while it never worked and
// after the grace period once it did. Managers streaming from one provider share one connection
// (location/shared_upstream.h).
#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include "location/location_stream.h"
#include "location/shared_upstream.h"
#include "orv/location_sources.h"

namespace orv::detail {

struct GpsdTiming {
  using Seconds = std::chrono::duration<double>;
  // A failed connection is retried after firstRetry, doubling up to maxRetry; a lost one is
  // reported as a failure when it is not back within giveUpAfter (the retries go on).
  Seconds firstRetry{0.25};
  Seconds maxRetry{8.0};
  Seconds giveUpAfter{10.0};
  // Connecting, and gpsd's VERSION and WATCH answers, each within this.
  Seconds answerWithin{5.0};
};

// "127.0.0.1:2947", "[::1]:2947".
std::string gpsdAddress(const GpsdOptions& options);

// Whether something accepts a TCP connection at the address within `timeout`: nothing when it
// does, else why not ("Connection refused"). Connects and closes; sends nothing.
std::optional<std::string> probeTcp(const GpsdOptions& options, GpsdTiming::Seconds timeout);

class GpsdProvider final : public OpenOnlyProvider {
 public:
  explicit GpsdProvider(GpsdOptions options, GpsdTiming timing = {});
  ~GpsdProvider() override;

  // gpsd has no permission model.
  AuthorizationStatus authorizationStatus() const override {
    return AuthorizationStatus::authorizedWhenInUse;
  }
  // Every stream shares one connection.
  std::unique_ptr<LocationStream> open(const std::shared_ptr<LocationSink>& sink) override {
    return upstream_->open(sink);
  }

 private:
  std::shared_ptr<SharedUpstream> upstream_;
};

}  // namespace orv::detail
