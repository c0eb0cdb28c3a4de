#include "client/location_error.h"

#include <charconv>
#include <ctime>

#include "model/json_reader.h"
#include "network/network_error.h"
#include "network/transport.h"

namespace orv {

std::string_view errorCodeName(ErrorCode code) {
  switch (code) {
    case ErrorCode::consentMissing:
      return "consentMissing";
    case ErrorCode::keyMissing:
      return "keyMissing";
    case ErrorCode::invalidInterval:
      return "invalidInterval";
    case ErrorCode::permissionDeclarationMissing:
      return "permissionDeclarationMissing";
    case ErrorCode::permissionNotDetermined:
      return "permissionNotDetermined";
    case ErrorCode::permissionDenied:
      return "permissionDenied";
    case ErrorCode::permissionRestricted:
      return "permissionRestricted";
    case ErrorCode::noLocationProvider:
      return "noLocationProvider";
    case ErrorCode::providerFailure:
      return "providerFailure";
    case ErrorCode::requestNotBuildable:
      return "requestNotBuildable";
    case ErrorCode::networkUnreachable:
      return "networkUnreachable";
    case ErrorCode::timedOut:
      return "timedOut";
    case ErrorCode::tls:
      return "tls";
    case ErrorCode::transportFailure:
      return "transportFailure";
    case ErrorCode::invalidResponse:
      return "invalidResponse";
    case ErrorCode::httpStatus:
      return "httpStatus";
    case ErrorCode::responseTooLarge:
      return "responseTooLarge";
    case ErrorCode::decodingFailed:
      return "decodingFailed";
    case ErrorCode::geofenceFailure:
      return "geofenceFailure";
    case ErrorCode::cancelled:
      return "cancelled";
  }
  return "unknown";
}

namespace detail {
namespace {

ErrorCode requestLayerCode(const RequestError& error) {
  switch (error.kind) {
    case RequestFailure::notBuildable:
      return ErrorCode::requestNotBuildable;
    case RequestFailure::transport:
      return transportErrorCode(error.code);
    case RequestFailure::noResponse:
      return ErrorCode::invalidResponse;
    case RequestFailure::status:
      return ErrorCode::httpStatus;
    case RequestFailure::undecodable:
      return ErrorCode::decodingFailed;
  }
  return ErrorCode::decodingFailed;
}

}  // namespace

LocationError makeLocationError(ErrorCode code, std::string_view domain, std::string message) {
  LocationError error;
  error.code = code;
  error.domain = std::string(domain);
  error.message = std::move(message);
  return error;
}

LocationError requestError(const RequestError& error, const HTTPResponse* response,
                           std::chrono::system_clock::time_point now) {
  LocationError out = makeLocationError(requestLayerCode(error), error.domain, error.message);
  if (response == nullptr) return out;
  out.status = response->statusCode;
  if (out.status == 429) {
    if (const auto value = response->header("Retry-After")) {
      out.retryAfter = parseRetryAfter(*value, now);
    }
  }
  return out;
}

LocationError requestError(const Error& unbuilt, const HTTPResponse* response,
                           std::chrono::system_clock::time_point now) {
  return requestError(requestFailure(RequestFailure::notBuildable, unbuilt), response, now);
}

std::optional<std::chrono::seconds> parseRetryAfter(std::string_view value,
                                                    std::chrono::system_clock::time_point now) {
  while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.remove_prefix(1);
  while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) value.remove_suffix(1);
  if (value.empty()) return std::nullopt;
  if (value.front() >= '0' && value.front() <= '9') {
    int64_t seconds = 0;
    const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), seconds);
    if (ec == std::errc::result_out_of_range && end == value.data() + value.size()) {
      return std::chrono::seconds::max();
    }
    if (ec != std::errc{} || end != value.data() + value.size()) return std::nullopt;
    return std::chrono::seconds(seconds);
  }
  // IMF-fixdate, the form HTTP senders must use: "Sun, 06 Nov 1994 08:49:37 GMT". Parsed by
  // hand: strptime's month names follow the host's locale.
  static constexpr std::string_view kMonths = "JanFebMarAprMayJunJulAugSepOctNovDec";
  if (value.size() != 29 || value.substr(3, 2) != ", " || value.substr(25) != " GMT") {
    return std::nullopt;
  }
  auto number = [&](size_t at, size_t len, int& out) {
    const char* first = value.data() + at;
    const auto [end, ec] = std::from_chars(first, first + len, out);
    return ec == std::errc{} && end == first + len;
  };
  std::tm tm{};
  const size_t month = kMonths.find(value.substr(8, 3));
  if (month == std::string_view::npos || month % 3 != 0 || !number(5, 2, tm.tm_mday) ||
      !number(12, 4, tm.tm_year) || !number(17, 2, tm.tm_hour) || !number(20, 2, tm.tm_min) ||
      !number(23, 2, tm.tm_sec) || value[7] != ' ' || value[11] != ' ' || value[16] != ' ' ||
      value[19] != ':' || value[22] != ':') {
    return std::nullopt;
  }
  tm.tm_mon = static_cast<int>(month / 3);
  tm.tm_year -= 1900;
  const auto at = std::chrono::system_clock::from_time_t(::timegm(&tm));
  const auto wait = std::chrono::duration_cast<std::chrono::seconds>(at - now);
  return wait.count() > 0 ? wait : std::chrono::seconds(0);
}

}  // namespace detail
}  // namespace orv
