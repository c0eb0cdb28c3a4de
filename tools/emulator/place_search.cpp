#include "emulator/place_search.h"

#include <algorithm>
#include <cmath>

#include "orv/coord_transform.h"

namespace orv::emulator {
namespace {

// Code points of UTF-8 text: relevance compares lengths as a reader sees them.
double codePoints(std::string_view text) {
  return static_cast<double>(
      std::count_if(text.begin(), text.end(), [](char c) { return (c & 0xC0) != 0x80; }));
}

bool contains(std::string_view text, std::string_view part) {
  return text.find(part) != std::string_view::npos;
}

double rounded(double v, double scale) { return std::round(v * scale) / scale; }

bool namesLevel(const AreaLevel& level, std::string_view q) {
  if (level.code == q || level.name == q) return true;
  // "北京" for "北京市", "东城" for "东城区".
  return level.name.size() == q.size() + 3 && level.name.starts_with(q) &&
         (level.name.ends_with("市") || level.name.ends_with("区"));
}

void sortByRelevance(std::vector<Hit>& hits) {
  std::sort(hits.begin(), hits.end(), [](const Hit& a, const Hit& b) {
    if (a.relevance != b.relevance) return a.relevance > b.relevance;
    if (a.distance != b.distance) return a.distance < b.distance;
    return a.place->id < b.place->id;
  });
}

}  // namespace

double metresBetween(double lng1, double lat1, double lng2, double lat2) {
  return rounded(JyrCoorTransform::distanceByPoint(lat1, lat2, lng1, lng2), 10.0);
}

bool inCity(const Place& place, std::string_view city, std::string_view cityCode) {
  const AreaLevel& c = place.level("city");
  const AreaLevel& d = place.level("district");
  if (!city.empty() && !namesLevel(c, city) && !namesLevel(d, city)) return false;
  if (!cityCode.empty() && c.code != cityCode && d.code != cityCode) return false;
  return true;
}

std::optional<double> keywordRelevance(const Place& place, std::string_view keyword) {
  if (keyword.empty()) return 0.0;
  if (place.name == keyword) return 1.0;
  if (contains(place.name, keyword)) {
    return rounded(0.5 + 0.5 * codePoints(keyword) / codePoints(place.name), 1000.0);
  }
  for (const auto& c : place.categories) {
    if (contains(c.name, keyword)) return 0.4;
  }
  if (contains(place.address, keyword)) return 0.3;
  return std::nullopt;
}

std::optional<double> addressRelevance(const Place& place, std::string_view query) {
  if (query.empty()) return std::nullopt;
  const std::string full = place.isArea() ? place.address : place.address + place.name;
  if (query == full || query == place.name || query == place.address) return 1.0;
  // The query spells out this place, or the area, within a longer address.
  if (codePoints(place.name) >= 2 && contains(query, place.name)) {
    return rounded(0.6 + 0.4 * codePoints(place.name) / codePoints(query), 1000.0);
  }
  if (contains(full, query)) {
    return rounded(0.2 + 0.4 * codePoints(query) / codePoints(full), 1000.0);
  }
  return std::nullopt;
}

bool hasCategory(const Place& place, std::string_view category) {
  if (category.empty()) return true;
  return std::any_of(place.categories.begin(), place.categories.end(),
                     [&](const Category& c) { return c.id == category || c.name == category; });
}

std::optional<Hit> nearestPlace(const PlaceSet& set, double lng, double lat, double maxMetres) {
  std::optional<Hit> best;
  for (const auto& p : set.places()) {
    const double d = metresBetween(lng, lat, p.longitude, p.latitude);
    if (d <= maxMetres && (!best || d < best->distance)) best = Hit{&p, 1.0, d};
  }
  return best;
}

std::vector<Hit> geocode(const PlaceSet& set, std::string_view address, std::string_view city,
                         std::size_t limit) {
  std::vector<Hit> hits;
  for (const auto* list : {&set.places(), &set.areas()}) {
    for (const auto& p : *list) {
      if (!inCity(p, city, {})) continue;
      if (auto r = addressRelevance(p, address)) hits.push_back(Hit{&p, *r, 0.0});
    }
  }
  sortByRelevance(hits);
  if (hits.size() > limit) hits.resize(limit);
  return hits;
}

std::vector<Hit> placeSearch(const PlaceSet& set, std::string_view name, std::string_view city,
                             std::string_view cityCode) {
  std::vector<Hit> hits;
  for (const auto& p : set.places()) {
    if (!inCity(p, city, cityCode)) continue;
    if (auto r = keywordRelevance(p, name)) hits.push_back(Hit{&p, *r, 0.0});
  }
  sortByRelevance(hits);
  return hits;
}

std::vector<Hit> nearbySearch(const PlaceSet& set, const NearbyQuery& query) {
  std::vector<Hit> hits;
  for (const auto& p : set.places()) {
    if (!hasCategory(p, query.category)) continue;
    const double d = metresBetween(query.longitude, query.latitude, p.longitude, p.latitude);
    if (d > query.radius) continue;
    if (auto r = keywordRelevance(p, query.keyword)) hits.push_back(Hit{&p, *r, d});
  }
  if (query.byRelevance) {
    sortByRelevance(hits);
  } else {
    std::sort(hits.begin(), hits.end(), [](const Hit& a, const Hit& b) {
      if (a.distance != b.distance) return a.distance < b.distance;
      return a.place->id < b.place->id;
    });
  }
  return hits;
}

std::vector<Hit> page(const std::vector<Hit>& hits, int index, int size) {
  if (index < 1 || size < 1) return {};
  const auto start = static_cast<std::size_t>(index - 1) * static_cast<std::size_t>(size);
  if (start >= hits.size()) return {};
  const auto end = std::min(hits.size(), start + static_cast<std::size_t>(size));
  return {hits.begin() + static_cast<std::ptrdiff_t>(start),
          hits.begin() + static_cast<std::ptrdiff_t>(end)};
}

}  // namespace orv::emulator
