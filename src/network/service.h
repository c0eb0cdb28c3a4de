// The location web service's endpoints and its base URL.
#pragma once

#include <string>
#include <string_view>

namespace orv::detail {

inline constexpr std::string_view kTrackPointsPath = "/location/hub/v1/track_points";
inline constexpr std::string_view kReverseGeocodePath = "/location/hub/v1/track_points";
inline constexpr std::string_view kGeocodePath = "/location/scenario/v1/geocode";
inline constexpr std::string_view kPlaceSearchPath = "/location/scenario/v1/placesearch";
inline constexpr std::string_view kNearbySearchPath = "/location/scenario/v1/nearbysearch";

// The build-time default base URL (a reserved name, so an unconfigured client reaches no one).
std::string_view defaultServiceBaseUrl();
// The host's configured base URL, else the default; without a trailing "/".
std::string serviceBaseUrl();
// serviceBaseUrl() followed by `path`.
std::string serviceUrl(std::string_view path);

}  // namespace orv::detail
