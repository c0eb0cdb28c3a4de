// The five endpoints of the location web service, answered from the place set. Transport-free:
// the server hands each request over as an Incoming and sends back the Reply.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "emulator/places.h"

namespace orv::emulator {

inline constexpr const char* kTrackPointsPath = "/location/hub/v1/track_points";
inline constexpr const char* kGeocodePath = "/location/scenario/v1/geocode";
inline constexpr const char* kPlaceSearchPath = "/location/scenario/v1/placesearch";
inline constexpr const char* kNearbySearchPath = "/location/scenario/v1/nearbysearch";

// A fix farther than this from every place gets an answer without address and place.
inline constexpr double kMaxPlaceMetres = 20000.0;
// Longer pages are cut to this size.
inline constexpr int kMaxPageSize = 50;
inline constexpr int kGeocodeLimit = 10;

struct Incoming {
  std::string method;
  std::string path;
  std::multimap<std::string, std::string> query;  // decoded
  std::string body;
};

struct Reply {
  int status = 200;
  std::string body;  // JSON
};

// A JSON error body: {"code":status,"error":kind,"message":message}.
Reply errorReply(int status, const std::string& kind, const std::string& message);

class Endpoints {
 public:
  Endpoints(const PlaceSet& places, std::vector<std::string> keys)
      : places_(places), keys_(std::move(keys)) {}

  // Unknown path 404, wrong method 405, missing or unknown "access_key" 401, malformed input
  // 400; otherwise 200 with a LocationRes object or an array of GeocodeRes.
  Reply handle(const Incoming& request) const;

 private:
  Reply trackPoints(const Incoming& request) const;
  Reply geocode(const Incoming& request) const;
  Reply placeSearch(const Incoming& request) const;
  Reply nearbySearch(const Incoming& request) const;

  const PlaceSet& places_;
  std::vector<std::string> keys_;
  mutable std::atomic<uint64_t> answers_{0};  // numbers answers to bodies without an id
};

}  // namespace orv::emulator
