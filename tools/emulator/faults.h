// Faults on demand: which requests get dropped or answered 500, decided from a seed and the
// request's arrival number alone, so a run with the same seed repeats.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>

namespace orv::emulator {

enum class Fault { none, drop, fail };

class FaultPlan {
 public:
  FaultPlan(double dropRate, double failRate, uint64_t seed)
      : dropRate_(dropRate), failRate_(failRate), seed_(seed) {}

  // The fault of the request that arrived `requestNumber`-th (from 0). A drop is decided first;
  // the failure rate applies to the requests that were not dropped.
  Fault decide(uint64_t requestNumber) const;

 private:
  double draw(uint64_t requestNumber, uint64_t stream) const;

  double dropRate_;
  double failRate_;
  uint64_t seed_;
};

// The request rate limit, a sliding one-second window: a request is admitted when fewer than
// `limit` were admitted in the second before it (so no one-second window ever holds more than
// `limit` admitted requests, wherever it starts). A refused request counts for nothing. Also
// keeps the busiest one-second window of arrivals seen, admitted or not. Thread-safe.
class RateWindow {
 public:
  using Clock = std::chrono::steady_clock;

  explicit RateWindow(int limit) : limit_(limit) {}

  // Nothing when admitted; otherwise the whole seconds (at least 1) until a request would be.
  std::optional<std::chrono::seconds> admit(Clock::time_point now);
  uint64_t busiestSecond() const;

 private:
  int limit_;  // 0: no limit
  mutable std::mutex mutex_;
  std::deque<Clock::time_point> admitted_;
  std::deque<Clock::time_point> arrived_;
  uint64_t busiest_ = 0;
};

}  // namespace orv::emulator
