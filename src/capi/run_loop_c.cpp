// The calling thread's run loop and the choice of location provider.
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdint>
#include <string>

#include "capi/capi_internal.h"
#include "orv/location_service.h"
#include "orv/run_loop.h"

using orv::capi::checkText;
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

orv_status orv_use_replay(const char* path, double speed, bool loop) {
  return guarded([&] {
    if (auto s = checkText(path, "path")) return s;
    if (!std::isfinite(speed)) return fail(ORV_STATUS_OUT_OF_RANGE, "speed must be finite");
    orv::ReplayOptions options;
    options.path = path;
    options.speed = speed;
    options.loop = loop;
    auto used = orv::LocationService::useReplay(options);
    if (!used) return fail(ORV_STATUS_FAILED, used.error().message);
    return ORV_STATUS_OK;
  });
}

orv_status orv_use_gpsd(const char* host, int port) {
  return guarded([&] {
    if (auto s = orv::capi::checkOptionalText(host, "host")) return s;
    if (port < 1 || port > 65535)
      return fail(ORV_STATUS_OUT_OF_RANGE, "port must be in [1, 65535]");
    orv::GpsdOptions options;
    if (host) options.host = host;
    options.port = static_cast<uint16_t>(port);
    orv::LocationService::useGpsd(options);
    return ORV_STATUS_OK;
  });
}

orv_status orv_use_nmea(const char* source, int baud_rate) {
  return guarded([&] {
    if (auto s = checkText(source, "source")) return s;
    auto used = orv::LocationService::useNmea({source, baud_rate});
    if (!used) return fail(ORV_STATUS_FAILED, used.error().message);
    return ORV_STATUS_OK;
  });
}

void orv_use_system_default(void) {
  try {
    orv::LocationService::useSystemDefault();
  } catch (...) {
  }
}

void orv_use_none(void) {
  try {
    orv::LocationService::useNone();
  } catch (...) {
  }
}

}  // extern "C"
