#include "location/shared_upstream.h"

#include <algorithm>
#include <utility>

#include "orv/run_loop.h"
#include "platform/run_loop_impl.h"

namespace orv::detail {

class SharedUpstream::TapStream final : public LocationStream {
 public:
  TapStream(std::shared_ptr<SharedUpstream> owner, std::shared_ptr<const Tap> tap)
      : owner_(std::move(owner)), tap_(std::move(tap)) {}
  ~TapStream() override { owner_->close(tap_); }

 private:
  std::shared_ptr<SharedUpstream> owner_;
  std::shared_ptr<const Tap> tap_;
};

std::unique_ptr<LocationStream> SharedUpstream::open(const std::shared_ptr<LocationSink>& sink) {
  auto tap = std::make_shared<const Tap>(Tap{sink, handleOf(RunLoop::current())});
  bool first = false;
  std::optional<std::pair<LocationFailure, std::string>> standing;
  {
    std::lock_guard lock(mutex_);
    taps_.push_back(tap);
    if (!home_) {
      home_ = tap->loop;
      ++generation_;
      standingFailure_.reset();
      first = true;
    } else {
      standing = standingFailure_;
    }
  }
  if (standing) sink->deliverError(standing->first, standing->second);
  // Opened outside the lock: the opener may deliver (a failure) at once.
  if (first) {
    auto upstream = open_(shared_from_this());
    std::lock_guard lock(mutex_);
    upstream_ = std::move(upstream);
  }
  return std::make_unique<TapStream>(shared_from_this(), std::move(tap));
}

// On the tap's own loop. Only a tap of the home loop can be the one whose end closes the upstream,
// so the upstream is always ended on the loop it runs on.
void SharedUpstream::close(const std::shared_ptr<const Tap>& tap) {
  std::unique_ptr<LocationStream> ended;
  std::shared_ptr<LoopHandle> newHome;
  uint64_t generation = 0;
  {
    std::lock_guard lock(mutex_);
    std::erase(taps_, tap);
    if (tap->loop != home_) return;
    const bool homeStays =
        std::any_of(taps_.begin(), taps_.end(), [&](const auto& t) { return t->loop == home_; });
    if (homeStays) return;
    ended = std::move(upstream_);
    home_ = taps_.empty() ? nullptr : taps_.front()->loop;
    generation = ++generation_;
    newHome = home_;
  }
  ended.reset();  // outside the lock: ending may wait for a reader thread that delivers here
  if (!newHome) return;
  newHome->post([weak = weak_from_this(), generation] {
    if (auto self = weak.lock()) self->openAtHome(generation);
  });
}

// On the new home's loop, unless the home moved again or every tap ended meanwhile.
void SharedUpstream::openAtHome(uint64_t generation) {
  {
    std::lock_guard lock(mutex_);
    if (generation != generation_ || !home_ || upstream_) return;
  }
  auto upstream = open_(shared_from_this());
  std::lock_guard lock(mutex_);
  if (generation == generation_) upstream_ = std::move(upstream);
  // else: the home moved while opening; `upstream` ends here, on the loop that opened it.
}

std::vector<std::shared_ptr<LocationSink>> SharedUpstream::sinks() {
  std::vector<std::shared_ptr<LocationSink>> live;
  std::lock_guard lock(mutex_);
  for (const auto& tap : taps_) {
    if (auto sink = tap->sink.lock()) live.push_back(std::move(sink));
  }
  return live;
}

// Sinks post and never call back, so feeding them outside the lock keeps the order per sink.
void SharedUpstream::deliverLocations(std::vector<Location> locations) {
  {
    std::lock_guard lock(mutex_);
    standingFailure_.reset();
  }
  for (const auto& sink : sinks()) sink->deliverLocations(locations);
}

void SharedUpstream::deliverError(LocationFailure kind, std::string description) {
  {
    std::lock_guard lock(mutex_);
    standingFailure_.emplace(kind, description);
  }
  for (const auto& sink : sinks()) sink->deliverError(kind, description);
}

bool SharedUpstream::isOpen() const {
  std::lock_guard lock(mutex_);
  return upstream_ != nullptr;
}

}  // namespace orv::detail
