// Typed failures: the C codes beside the library's own.
#include <string_view>
#include <utility>

#include "capi/capi_internal.h"

namespace orv::capi {
namespace {

using E = ErrorCode;

constexpr std::pair<ErrorCode, orv_error_code> kCodes[] = {
    {E::consentMissing, ORV_ERROR_CONSENT_MISSING},
    {E::keyMissing, ORV_ERROR_KEY_MISSING},
    {E::invalidInterval, ORV_ERROR_INVALID_INTERVAL},
    {E::permissionDeclarationMissing, ORV_ERROR_PERMISSION_DECLARATION_MISSING},
    {E::permissionNotDetermined, ORV_ERROR_PERMISSION_NOT_DETERMINED},
    {E::permissionDenied, ORV_ERROR_PERMISSION_DENIED},
    {E::permissionRestricted, ORV_ERROR_PERMISSION_RESTRICTED},
    {E::noLocationProvider, ORV_ERROR_NO_LOCATION_PROVIDER},
    {E::providerFailure, ORV_ERROR_PROVIDER_FAILURE},
    {E::requestNotBuildable, ORV_ERROR_REQUEST_NOT_BUILDABLE},
    {E::networkUnreachable, ORV_ERROR_NETWORK_UNREACHABLE},
    {E::timedOut, ORV_ERROR_TIMED_OUT},
    {E::tls, ORV_ERROR_TLS},
    {E::transportFailure, ORV_ERROR_TRANSPORT_FAILURE},
    {E::invalidResponse, ORV_ERROR_INVALID_RESPONSE},
    {E::httpStatus, ORV_ERROR_HTTP_STATUS},
    {E::responseTooLarge, ORV_ERROR_RESPONSE_TOO_LARGE},
    {E::decodingFailed, ORV_ERROR_DECODING_FAILED},
    {E::cancelled, ORV_ERROR_CANCELLED},
    {E::geofenceFailure, ORV_ERROR_GEOFENCE_FAILURE},
};

// A code added to the library without a C twin fails here.
static_assert(static_cast<int>(E::geofenceFailure) + 1 == std::size(kCodes));

}  // namespace

orv_error_code errorCode(ErrorCode code) {
  for (const auto& [library, c] : kCodes) {
    if (library == code) return c;
  }
  return ORV_ERROR_PROVIDER_FAILURE;  // unreachable while the table is complete
}

}  // namespace orv::capi

extern "C" const char* orv_error_code_name(orv_error_code code) {
  const auto raw = orv::capi::rawValue(code);
  for (const auto& [library, c] : orv::capi::kCodes) {
    if (raw == c) return orv::errorCodeName(library).data();
  }
  return "unknown";
}
