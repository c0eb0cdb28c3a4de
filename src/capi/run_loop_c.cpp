// The calling thread's run loop.
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdint>
#include <string>

#include "capi/capi_internal.h"
#include "orv/run_loop.h"

using orv::capi::fail;
using orv::capi::guarded;

extern "C" {

orv_status orv_run_for(double seconds) {
  return guarded([&] {
    // The loop caps its own waits; past a year the number only risks overflowing the duration.
    if (!(seconds >= 0.0 && seconds <= 3.2e7)) {
      return fail(ORV_STATUS_OUT_OF_RANGE, "seconds must be a number in [0, 3.2e7]");
    }
    const auto duration =
        std::chrono::duration_cast<orv::RunLoop::Duration>(std::chrono::duration<double>(seconds));
    orv::RunLoop::current().runFor(duration);
    return ORV_STATUS_OK;
  });
}

void orv_run_stop(void) {
  try {
    orv::RunLoop::current().stop();
  } catch (...) {
  }
}

int orv_poll_fd(void) {
  return orv::capi::guardedValue(-1, [] { return orv::RunLoop::current().pollFd(); });
}

void orv_process_pending(void) {
  try {
    orv::RunLoop::current().processPending();
  } catch (...) {
    // A task that threw has been dropped; the loop stays usable.
  }
}

int orv_time_until_next_timer(void) {
  return orv::capi::guardedValue(-1, [] {
    const auto due = orv::RunLoop::current().timeUntilNextTimer();
    if (!due) return -1;
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(*due).count();
    return ms > INT_MAX ? INT_MAX : static_cast<int>(ms < 0 ? 0 : ms);
  });
}

}  // extern "C"
