// Turning the library's failures into the typed LocationError handed to the delegate.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

#include "network/network_error.h"
#include "network/url_request.h"
#include "orv/error.h"
#include "orv/result.h"

namespace orv::detail {

// Domains of the failures the client and the positioning layer report themselves.
inline constexpr std::string_view kClientDomain = "orv.client";
inline constexpr std::string_view kLocationDomain = "orv.location";

// A failure with no HTTP answer behind it.
LocationError makeLocationError(ErrorCode code, std::string_view domain, std::string message);

// A failed request, from the request layer's error and the HTTP response if one arrived. The
// message is the error's own (what onLocationErrorWithMsg has always received).
LocationError requestError(const RequestError& error, const HTTPResponse* response,
                           std::chrono::system_clock::time_point now);
// A request that could not be built: the builder's error (URL or body) as it gave it.
LocationError requestError(const Error& unbuilt, const HTTPResponse* response,
                           std::chrono::system_clock::time_point now);

// Retry-After as delta-seconds or an HTTP-date (relative to `now`, never negative); nothing when
// the value is neither.
std::optional<std::chrono::seconds> parseRetryAfter(std::string_view value,
                                                    std::chrono::system_clock::time_point now);

}  // namespace orv::detail
