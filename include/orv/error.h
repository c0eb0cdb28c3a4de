// Failures a host can act on: what went wrong as a code, with the text the library reports.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

#include "orv/export.h"

namespace orv {

enum class ErrorCode {
  // Refused before anything started (reported on the calling thread).
  consentMissing,   // "您未同意隐私政策"
  keyMissing,       // "您未配置 Appkey"
  invalidInterval,  // a continuous run with an interval that is not above zero
  // Positioning (the text starts with "定位失败：").
  permissionDeclarationMissing,  // the host's bundle lacks a usage description
  permissionNotDetermined,
  permissionDenied,
  permissionRestricted,
  noLocationProvider,  // the host chose no location provider
  providerFailure,     // the provider reported an error
  // Requests.
  requestNotBuildable,  // bad URL or a body that cannot be written (e.g. a NaN coordinate)
  networkUnreachable,   // name not resolved, connection refused or no route
  timedOut,
  tls,               // handshake or certificate verification failed
  transportFailure,  // any other transfer failure (connection reset, protocol error, ...)
  invalidResponse,   // no HTTP response
  httpStatus,        // an answer other than 200; `status` holds it
  responseTooLarge,
  decodingFailed,  // a 2xx answer whose body is not the expected JSON
  cancelled,       // the host cancelled the request (or the batch it belonged to)
  // Geofence monitoring.
  geofenceFailure,  // the monitor could not record its state; the fix changed nothing
};

// Stable lower-camel name of the code ("timedOut"), for logs and bindings.
ORV_API std::string_view errorCodeName(ErrorCode code);

struct LocationError {
  ErrorCode code = ErrorCode::providerFailure;
  // Where the failure arose: "orv.client" (the gate and run checks), "orv.location"
  // (positioning), "NetworkClient" (HTTP status), "NetworkError" (request layer), "CURLE"
  // (transfer), "JSON" (request body).
  std::string domain;
  // The HTTP status when an answer arrived (also for decodingFailed and a 2xx other than 200),
  // otherwise -1.
  long status = -1;
  // Exactly the text onLocationErrorWithMsg receives.
  std::string message;
  // From a 429 answer's Retry-After (delta-seconds or HTTP-date), when present.
  std::optional<std::chrono::seconds> retryAfter;
};

}  // namespace orv
