// Queries over the place set: nearest place, geocoding, keyword and nearby search, paging.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "emulator/places.h"

namespace orv::emulator {

struct Hit {
  const Place* place = nullptr;
  double relevance = 0.0;  // 0 to 1
  double distance = 0.0;   // metres from the search centre; 0 without one
};

// Metres between two GCJ-02 points, rounded to a tenth.
double metresBetween(double lng1, double lat1, double lng2, double lat2);

// Empty `city` and `cityCode` match every place. `city` matches the city's or the district's
// name (with or without its last character "市"/"区") or code; `cityCode` matches either code.
bool inCity(const Place& place, std::string_view city, std::string_view cityCode);

// How well `keyword` names the place: 1 for the exact name, down through a part of the name, a
// category, a part of the address. Empty matches everything with 0.
std::optional<double> keywordRelevance(const Place& place, std::string_view keyword);

// How well an address text points at the place or area.
std::optional<double> addressRelevance(const Place& place, std::string_view query);

// A category filter: an id or name of one of the place's categories. Empty matches all.
bool hasCategory(const Place& place, std::string_view category);

// The point of interest nearest to a GCJ-02 point, if one lies within `maxMetres`.
std::optional<Hit> nearestPlace(const PlaceSet& set, double lng, double lat, double maxMetres);

// Places and areas matching an address, best first, at most `limit`.
std::vector<Hit> geocode(const PlaceSet& set, std::string_view address, std::string_view city,
                         std::size_t limit);

// Points of interest matching a keyword within a city, best first, ties by id.
std::vector<Hit> placeSearch(const PlaceSet& set, std::string_view name, std::string_view city,
                             std::string_view cityCode);

struct NearbyQuery {
  std::string keyword;
  double longitude = 0.0;  // centre, GCJ-02
  double latitude = 0.0;
  double radius = 1000.0;  // metres
  std::string category;
  bool byRelevance = false;  // else nearest first
};
std::vector<Hit> nearbySearch(const PlaceSet& set, const NearbyQuery& query);

// Page `index` (from 1) of `size` hits; past the end gives an empty page.
std::vector<Hit> page(const std::vector<Hit>& hits, int index, int size);

}  // namespace orv::emulator
