// Plays a recorded track (CSV: time,lat,lng,alt,hacc,vacc,speed) through run-loop timers of each
// streaming manager's thread, so manual clocks drive it like any other timer.
#pragma once

#include "location/location_stream.h"
#include "orv/location_sources.h"
#include "orv/result.h"

namespace orv::detail {

struct TrackRow {
  double time = 0.0;  // seconds
  Location fix;
};

// Parses the whole file; a bad header or row fails with the line number in the message.
Result<std::vector<TrackRow>> parseTrack(std::string_view text, std::string_view name);

class ReplayProvider final : public OpenOnlyProvider {
 public:
  ReplayProvider(std::vector<TrackRow> rows, const ReplayOptions& options);

  AuthorizationStatus authorizationStatus() const override;
  std::unique_ptr<LocationStream> open(const std::shared_ptr<LocationSink>& sink) override;

  struct Playback;

 private:
  std::shared_ptr<const std::vector<TrackRow>> rows_;
  double speed_;
  bool loop_;
  AuthorizationStatus status_;
};

}  // namespace orv::detail
