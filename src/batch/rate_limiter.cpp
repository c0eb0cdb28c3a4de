#include "batch/rate_limiter.h"

#include <algorithm>
#include <chrono>
#include <cmath>

namespace orv::detail {
namespace {

double secondsOf(RunLoop::Duration d) { return std::chrono::duration<double>(d).count(); }

}  // namespace

RateLimiter::RateLimiter(double rate, double burst, double cutFactor, double recovery)
    : target_(std::max(0.0, rate)),
      burst_(std::max(1.0, burst)),
      cutFactor_(std::clamp(cutFactor, 0.05, 1.0)),
      recovery_(std::max(0.0, recovery)),
      rate_(target_),
      tokens_(burst_) {}

void RateLimiter::refill(TimePoint now) {
  if (!started_) {
    started_ = true;
    last_ = now;
    return;
  }
  // Nothing accrues while paused: the pause ends with an empty bucket, not a burst.
  const TimePoint from = std::max(last_, pausedUntil_);
  if (now <= from) {
    last_ = std::max(last_, now);
    return;
  }
  const double dt = secondsOf(now - from);
  const double before = rate_;
  rate_ = std::min(target_, rate_ + target_ * recovery_ * dt);
  tokens_ = std::min(burst_, tokens_ + dt * (before + rate_) / 2);
  last_ = now;
}

RateLimiter::Duration RateLimiter::delay(TimePoint now) {
  refill(now);
  if (now < pausedUntil_) return pausedUntil_ - now;
  if (target_ <= 0) return Duration::zero();
  // The span a service counts as one second, as seen from here: requests reach it with some
  // jitter, and two starts exactly a second apart may arrive within one of its seconds.
  const auto span = std::chrono::seconds(1) + kArrivalAllowance;
  while (!recentStarts_.empty() && recentStarts_.front() <= now - span) {
    recentStarts_.pop_front();
  }
  const auto perSecond = static_cast<size_t>(std::max(1.0, std::floor(rate_)));
  if (recentStarts_.size() >= perSecond) {
    return recentStarts_[recentStarts_.size() - perSecond] + span - now;
  }
  if (tokens_ >= 1) return Duration::zero();
  // A microsecond more, so that the refill after the wait reaches the whole token.
  const auto wait = std::chrono::duration<double>((1 - tokens_) / rate_);
  return std::chrono::duration_cast<Duration>(wait) + std::chrono::microseconds(1);
}

void RateLimiter::take(TimePoint now) {
  refill(now);
  if (target_ <= 0) return;
  tokens_ -= 1;
  recentStarts_.push_back(now);
}

void RateLimiter::limited(TimePoint now, Duration pause) {
  refill(now);
  const bool alreadyPaused = now < pausedUntil_;
  pausedUntil_ = std::max(pausedUntil_, now + pause);
  tokens_ = std::min(tokens_, 0.0);
  if (!alreadyPaused) rate_ = std::max(target_ * 0.05, rate_ * cutFactor_);
}

double RateLimiter::currentRate(TimePoint now) {
  refill(now);
  return rate_;
}

std::optional<RateLimiter::TimePoint> RateLimiter::pausedUntil(TimePoint now) const {
  if (now < pausedUntil_) return pausedUntil_;
  return std::nullopt;
}

}  // namespace orv::detail
