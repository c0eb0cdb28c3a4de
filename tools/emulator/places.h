// The emulator's bundled data set: points of interest and the districts and streets they lie in,
// in several Chinese cities. Everything is built from the tables in place_tables.cpp.
#pragma once

#include <string>
#include <vector>

#include "orv/result.h"

namespace orv::emulator {

struct Category {
  std::string id;
  std::string name;
};

// One level of an address: "province", "city", "district" or "street".
struct AreaLevel {
  std::string type;
  std::string name;
  std::string code;
};

// A searchable record: a point of interest, or an area (a district or a street) that geocoding
// can answer with.
struct Place {
  std::string id;
  std::string type;  // "museum", "cafe", ...; "district" or "street" for an area
  std::string name;
  std::string code;                  // the district's code (an area's own code)
  std::vector<Category> categories;  // top-level first; empty for an area
  std::vector<AreaLevel> context;    // province, city, district and, below a district, street
  std::string address;               // the full address text
  double longitude = 0.0;            // GCJ-02 degrees
  double latitude = 0.0;

  bool isArea() const { return categories.empty(); }
  const AreaLevel& level(const std::string& type) const;
};

class PlaceSet {
 public:
  // Fails when a row refers to a city, district or street that does not exist.
  static Result<PlaceSet> build();
  // Built once, on first use.
  static const PlaceSet& bundled();

  // Points of interest, ordered by id.
  const std::vector<Place>& places() const { return places_; }
  // Districts, then streets.
  const std::vector<Place>& areas() const { return areas_; }

 private:
  friend class PlaceSetBuilder;
  std::vector<Place> places_;
  std::vector<Place> areas_;
};

}  // namespace orv::emulator
