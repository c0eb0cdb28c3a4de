// Which failed requests a batch sends again, and how long it waits first.
#pragma once

#include "orv/batch.h"
#include "orv/error.h"
#include "orv/run_loop.h"

namespace orv::detail {

enum class RetryKind {
  never,    // the same request would fail the same way (4xx, undecodable, not buildable, TLS)
  retry,    // transient: no connection, time-out, reset, 500/502/503/504
  limited,  // 429: retry once the endpoint's pause is over
};

RetryKind retryKind(const LocationError& error);

// The wait before retry `failures` (from 1): `unit` (in [0, 1)) picks it between half and all of
// min(maxBackoff, baseBackoff * 2^(failures-1)).
RunLoop::Duration backoffDelay(int failures, const BatchOptions& options, double unit);

}  // namespace orv::detail
