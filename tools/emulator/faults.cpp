#include "emulator/faults.h"

#include <algorithm>

namespace orv::emulator {
namespace {

// SplitMix64: a stateless mix, so any request's draw is computed without replaying the others.
uint64_t mix(uint64_t x) {
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

}  // namespace

double FaultPlan::draw(uint64_t requestNumber, uint64_t stream) const {
  const uint64_t bits = mix(mix(seed_) ^ (requestNumber * 2 + stream));
  return static_cast<double>(bits >> 11) * 0x1.0p-53;  // uniform in [0, 1)
}

Fault FaultPlan::decide(uint64_t requestNumber) const {
  if (dropRate_ > 0 && draw(requestNumber, 0) < dropRate_) return Fault::drop;
  if (failRate_ > 0 && draw(requestNumber, 1) < failRate_) return Fault::fail;
  return Fault::none;
}

std::optional<std::chrono::seconds> RateWindow::admit(Clock::time_point now) {
  constexpr auto kWindow = std::chrono::seconds(1);
  std::lock_guard lock(mutex_);
  while (!arrived_.empty() && arrived_.front() <= now - kWindow) arrived_.pop_front();
  arrived_.push_back(now);
  busiest_ = std::max<uint64_t>(busiest_, arrived_.size());
  if (limit_ <= 0) return std::nullopt;
  while (!admitted_.empty() && admitted_.front() <= now - kWindow) admitted_.pop_front();
  if (admitted_.size() < static_cast<size_t>(limit_)) {
    admitted_.push_back(now);
    return std::nullopt;
  }
  // The oldest admitted request leaves the window at front + 1 s.
  const auto wait = admitted_.front() + kWindow - now;
  return std::max(std::chrono::seconds(1), std::chrono::ceil<std::chrono::seconds>(wait));
}

uint64_t RateWindow::busiestSecond() const {
  std::lock_guard lock(mutex_);
  return busiest_;
}

}  // namespace orv::emulator
