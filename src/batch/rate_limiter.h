// A batch's client-side rate limit: a token bucket whose rate drops after a 429 and climbs back,
// the pause a 429 imposes on the whole endpoint, and a cap of the rate's worth of starts in any
// one second (plus an allowance for the arrival jitter). The cap lets a burst above 1 make up for a
// late timer (whose lateness a bucket of one token would lose) without ever putting more than the
// rate into a service's one-second window.
#pragma once

#include <chrono>
#include <deque>
#include <optional>

#include "orv/run_loop.h"

namespace orv::detail {

class RateLimiter {
 public:
  using TimePoint = RunLoop::TimePoint;
  using Duration = RunLoop::Duration;
  // The cap counts starts over a second and this much more, so that the arrival jitter of
  // requests sent a second apart does not put one too many into a service's second: at the limit
  // a single 429 costs a whole pause and a lowered rate.
  static constexpr Duration kArrivalAllowance = std::chrono::milliseconds(25);

  // `rate` requests per second (0: no limit, only pauses apply), `burst` tokens at most; after a
  // 429 the rate becomes `cutFactor` times itself, then grows by `recovery` * rate per second.
  RateLimiter(double rate, double burst, double cutFactor, double recovery);

  // How long until the next request may start (zero: now).
  Duration delay(TimePoint now);
  // A request starts now (call only when delay() is zero).
  void take(TimePoint now);
  // A 429: nothing starts before now + pause, and the rate is cut (once per pause: the other
  // answers of the same overload arrive during it).
  void limited(TimePoint now, Duration pause);

  double currentRate(TimePoint now);
  std::optional<TimePoint> pausedUntil(TimePoint now) const;

 private:
  void refill(TimePoint now);

  double target_;
  double burst_;
  double cutFactor_;
  double recovery_;
  double rate_;
  double tokens_;
  bool started_ = false;
  TimePoint last_{};
  TimePoint pausedUntil_{};
  std::deque<TimePoint> recentStarts_;
};

}  // namespace orv::detail
