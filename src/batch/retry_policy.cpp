#include "batch/retry_policy.h"

#include <algorithm>
#include <chrono>
#include <cmath>

namespace orv::detail {

RetryKind retryKind(const LocationError& error) {
  switch (error.code) {
    case ErrorCode::networkUnreachable:
    case ErrorCode::timedOut:
    case ErrorCode::transportFailure:
      return RetryKind::retry;
    case ErrorCode::httpStatus:
      switch (error.status) {
        case 429:
          return RetryKind::limited;
        case 500:
        case 502:
        case 503:
        case 504:
          return RetryKind::retry;
        default:
          return RetryKind::never;
      }
    default:
      return RetryKind::never;
  }
}

RunLoop::Duration backoffDelay(int failures, const BatchOptions& options, double unit) {
  const double base = std::max(0.0, options.baseBackoff.count());
  const double cap = std::max(0.0, options.maxBackoff.count());
  // 2^60 s is past any cap; the exponent is bounded so the power stays finite.
  const double full = std::min(cap, base * std::exp2(std::clamp(failures - 1, 0, 60)));
  const double seconds = full * (0.5 + 0.5 * std::clamp(unit, 0.0, 1.0));
  return std::chrono::duration_cast<RunLoop::Duration>(std::chrono::duration<double>(seconds));
}

}  // namespace orv::detail
