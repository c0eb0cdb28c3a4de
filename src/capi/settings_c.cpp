// Status texts, the last-error slot, argument checks, and the process-wide settings: log, key,
// service, host declarations, device facts, version.
#include <chrono>
#include <cmath>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "capi/capi_internal.h"
#include "network/network_client.h"
#include "orv/bundle.h"
#include "orv/client.h"
#include "orv/device.h"
#include "orv/service_configuration.h"
#include "orv/version.h"

namespace orv::capi {
namespace {

std::string& lastError() {
  thread_local std::string message;
  return message;
}

}  // namespace

orv_status fail(orv_status status, std::string_view message) {
  try {
    lastError().assign(message);
  } catch (...) {
    lastError().clear();  // no room for the message; the status still says what happened
  }
  return status;
}

orv_status checkText(const char* text, std::string_view what) {
  if (!text) return fail(ORV_STATUS_NULL_ARGUMENT, std::string(what) + " is NULL");
  if (!detail::isValidUtf8(text)) {
    return fail(ORV_STATUS_INVALID_UTF8, std::string(what) + " is not valid UTF-8");
  }
  return ORV_STATUS_OK;
}

orv_status checkOptionalText(const char* text, std::string_view what) {
  return text ? checkText(text, what) : ORV_STATUS_OK;
}

orv_status checkCoordinate(double latitude, double longitude) {
  // Written so that NaN fails too.
  if (!(std::fabs(latitude) <= 90.0)) {
    return fail(ORV_STATUS_OUT_OF_RANGE, "latitude must be a number in [-90, 90]");
  }
  if (!(std::fabs(longitude) <= 180.0)) {
    return fail(ORV_STATUS_OUT_OF_RANGE, "longitude must be a number in [-180, 180]");
  }
  return ORV_STATUS_OK;
}

orv_status toLocation(const orv_location& in, Location& out) {
  if (auto s = checkCoordinate(in.coordinate.latitude, in.coordinate.longitude)) return s;
  // Nanosecond clocks reach about 292 years either side of 1970.
  constexpr int64_t kMaxTimestampMs = 9'000'000'000'000LL;
  if (in.timestamp_ms > kMaxTimestampMs || in.timestamp_ms < -kMaxTimestampMs) {
    return fail(ORV_STATUS_OUT_OF_RANGE, "timestamp_ms is beyond the years 1678 to 2262");
  }
  out.coordinate = {in.coordinate.latitude, in.coordinate.longitude};
  out.altitude = in.altitude;
  out.horizontalAccuracy = in.horizontal_accuracy;
  out.verticalAccuracy = in.vertical_accuracy;
  out.speed = in.speed;
  out.course = in.course;
  out.timestamp = std::chrono::system_clock::time_point(
      std::chrono::duration_cast<std::chrono::system_clock::duration>(
          std::chrono::milliseconds(in.timestamp_ms)));
  return ORV_STATUS_OK;
}

orv_status toLocations(const orv_location* in, size_t count, std::vector<Location>& out) {
  if (!in && count > 0) return fail(ORV_STATUS_NULL_ARGUMENT, "locations is NULL");
  std::vector<Location> fixes(count);
  for (size_t i = 0; i < count; ++i) {
    if (auto s = toLocation(in[i], fixes[i])) return s;
  }
  out = std::move(fixes);
  return ORV_STATUS_OK;
}

}  // namespace orv::capi

using orv::capi::checkOptionalText;
using orv::capi::checkText;
using orv::capi::fail;
using orv::capi::guarded;

extern "C" {

const char* orv_status_text(orv_status status) {
  switch (orv::capi::rawValue(status)) {
    case ORV_STATUS_OK:
      return "ok";
    case ORV_STATUS_NULL_ARGUMENT:
      return "null argument";
    case ORV_STATUS_INVALID_UTF8:
      return "invalid UTF-8";
    case ORV_STATUS_OUT_OF_RANGE:
      return "out of range";
    case ORV_STATUS_FAILED:
      return "failed";
    case ORV_STATUS_NO_MEMORY:
      return "out of memory";
    case ORV_STATUS_INTERNAL:
      return "internal error";
  }
  return "unknown status";
}

const char* orv_last_error_message(void) { return orv::capi::lastError().c_str(); }

void orv_set_log_enabled(bool enabled) { orv::OrvClientLocation::setIsLogEnabled(enabled); }

bool orv_is_log_enabled(void) { return orv::OrvClientLocation::isLogEnabled(); }

void orv_set_log_sink(void (*sink)(void* user, const char* line), void* user) {
  try {
    if (!sink) {
      orv::OrvClientLocation::setLogSink(nullptr);
      return;
    }
    orv::OrvClientLocation::setLogSink([sink, user](std::string_view line) {
      const std::string text(line);  // the host needs a terminated text
      sink(user, text.c_str());
    });
  } catch (...) {
    // Out of memory for the sink: standard output stays in place.
  }
}

const char* orv_shared_access_key(void) {
  thread_local std::string key;
  try {
    key = orv::OrvClientLocation::sharedAccessKey();
  } catch (...) {
    key.clear();
  }
  return key.c_str();
}

orv_status orv_set_service_configuration(const char* base_url, const char* ca_file,
                                         const char* proxy) {
  return guarded([&] {
    if (auto s = checkOptionalText(base_url, "base_url")) return s;
    if (auto s = checkOptionalText(ca_file, "ca_file")) return s;
    if (auto s = checkOptionalText(proxy, "proxy")) return s;
    orv::ServiceConfiguration config;
    config.baseUrl = base_url ? base_url : "";
    config.caFile = ca_file ? ca_file : "";
    config.proxy = proxy ? proxy : "";
    orv::setServiceConfiguration(std::move(config));
    return ORV_STATUS_OK;
  });
}

orv_status orv_main_bundle_set_string(const char* key, const char* value) {
  return guarded([&] {
    if (auto s = checkText(key, "key")) return s;
    if (auto s = checkText(value, "value")) return s;
    orv::Bundle::mainBundle().setObject(key, std::string(value));
    return ORV_STATUS_OK;
  });
}

orv_status orv_main_bundle_set_string_list(const char* key, const char* const* values,
                                           size_t count) {
  return guarded([&] {
    if (auto s = checkText(key, "key")) return s;
    if (!values && count > 0) return fail(ORV_STATUS_NULL_ARGUMENT, "values is NULL");
    std::vector<std::string> list;
    list.reserve(count);
    for (size_t i = 0; i < count; ++i) {
      if (auto s = checkText(values[i], "values[" + std::to_string(i) + "]")) return s;
      list.emplace_back(values[i]);
    }
    orv::Bundle::mainBundle().setObject(key, std::move(list));
    return ORV_STATUS_OK;
  });
}

orv_status orv_main_bundle_remove(const char* key) {
  return guarded([&] {
    if (auto s = checkText(key, "key")) return s;
    orv::Bundle::mainBundle().removeObject(key);
    return ORV_STATUS_OK;
  });
}

orv_status orv_set_device_overrides(const orv_device_overrides* overrides) {
  return guarded([&] {
    orv::DeviceOverrides out;
    if (overrides) {
      const std::pair<const char*, std::optional<std::string>*> fields[] = {
          {overrides->vendor_identifier, &out.vendorIdentifier},
          {overrides->model, &out.model},
          {overrides->system_name, &out.systemName},
          {overrides->system_version, &out.systemVersion},
          {overrides->manufacturer, &out.manufacturer}};
      for (const auto& [text, field] : fields) {
        if (auto s = orv::capi::checkOptionalText(text, "device field")) return s;
        if (text) *field = text;
      }
    }
    orv::setDeviceOverrides(std::move(out));
    return ORV_STATUS_OK;
  });
}

const char* orv_sdk_version(void) {
  return orv::capi::guardedValue<const char*>("0.0.0",
                                              [] { return orv::OrvVersion::sdkVersion().c_str(); });
}

const char* orv_build_number(void) {
  return orv::capi::guardedValue<const char*>(
      "0", [] { return orv::OrvVersion::buildNumber().c_str(); });
}

}  // extern "C"
