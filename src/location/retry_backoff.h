// Delays between attempts to reopen a lost location source: the first, then doubling up to the
// longest, until reset by a success.
#pragma once

#include <algorithm>
#include <chrono>

namespace orv::detail {

class RetryBackoff {
 public:
  using Seconds = std::chrono::duration<double>;

  RetryBackoff(Seconds first, Seconds longest) : first_(first), longest_(longest), next_(first) {}

  // The delay before the coming attempt; the one after it is twice as long, up to the longest.
  Seconds next() {
    const Seconds delay = next_;
    next_ = std::min(next_ * 2, longest_);
    return delay;
  }
  void reset() { next_ = first_; }

 private:
  Seconds first_;
  Seconds longest_;
  Seconds next_;
};

}  // namespace orv::detail
