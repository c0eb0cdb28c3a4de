// One upstream per source, fanned out to every stream opened on it.
//
// A provider holds one SharedUpstream; each stream a manager opens is a tap on it. The first tap
// opens the upstream (the serial port, socket, gpsd connection or bus client) with `openUpstream`,
// which streams into the SharedUpstream itself; every fix and failure it delivers reaches every
// tap's sink. The last tap to end closes it. A tap that joins while the upstream's last report is a
// failure (no fix came after it) is told that failure, as the first tap was.
//
// The upstream runs on the run loop of one tap's thread, its home: there its descriptor is watched
// and its timers run, so a manual clock on a client's loop drives it like any timer of that
// client. When the home's last tap ends while taps on other threads remain, the upstream is closed
// there and opened again on the loop of a remaining tap (a serial port or socket is reopened, a
// connection made anew), so it never outlives the thread it runs on. This keeps every source on a
// client loop rather than on a thread of the library's own.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "orv/location_provider.h"

namespace orv::detail {

class LoopHandle;

class SharedUpstream final : public LocationSink,
                             public std::enable_shared_from_this<SharedUpstream> {
 public:
  // Opens the upstream on the calling thread's loop, streaming into the given sink.
  using Opener =
      std::function<std::unique_ptr<LocationStream>(const std::shared_ptr<LocationSink>&)>;

  explicit SharedUpstream(Opener openUpstream) : open_(std::move(openUpstream)) {}

  // A tap for `sink` on the calling thread's loop; ending it ends the tap.
  std::unique_ptr<LocationStream> open(const std::shared_ptr<LocationSink>& sink);

  // From the upstream, any thread: to every tap.
  void deliverLocations(std::vector<Location> locations) override;
  void deliverError(std::string description) override {
    deliverError(LocationFailure::unspecified, std::move(description));
  }
  void deliverError(LocationFailure kind, std::string description) override;

  // Whether the upstream is open (for tests).
  bool isOpen() const;

 private:
  struct Tap {
    std::weak_ptr<LocationSink> sink;
    std::shared_ptr<LoopHandle> loop;
  };
  class TapStream;

  void close(const std::shared_ptr<const Tap>& tap);
  void openAtHome(uint64_t generation);
  std::vector<std::shared_ptr<LocationSink>> sinks();

  const Opener open_;
  mutable std::mutex mutex_;
  std::vector<std::shared_ptr<const Tap>> taps_;
  std::shared_ptr<LoopHandle> home_;          // the loop the upstream runs on, while there are taps
  std::unique_ptr<LocationStream> upstream_;  // opened and ended on the home loop
  uint64_t generation_ = 0;                   // counts moves of the home
  std::optional<std::pair<LocationFailure, std::string>> standingFailure_;
};

}  // namespace orv::detail
