// The hand-written rows the bundled place set is built from. Rows refer to each other by code
// (and a street by its district's code and its name). Coordinates are GCJ-02 degrees.
#pragma once

#include <span>
#include <string_view>

namespace orv::emulator::tables {

enum class Kind {
  scenic,
  museum,
  mall,
  hotel,
  subway,
  hospital,
  school,
  office,
  government,
  restaurant,
  fastFood,
  cafe,
  convenience,
  bank,
  pharmacy,
  parking,
};

struct CategoryRow {
  std::string_view id;
  std::string_view name;
};

// What every place of a kind carries: its type text and its top-level and own category.
struct KindRow {
  Kind kind;
  std::string_view type;
  CategoryRow top;
  CategoryRow sub;
};

struct CityRow {
  std::string_view province;
  std::string_view provinceCode;
  std::string_view city;
  std::string_view cityCode;
};

struct DistrictRow {
  std::string_view cityCode;
  std::string_view name;
  std::string_view code;
};

// A street is a straight segment; generated shops are spread along it.
struct StreetRow {
  std::string_view districtCode;
  std::string_view name;
  double lng0, lat0, lng1, lat1;
};

struct LandmarkRow {
  std::string_view districtCode;
  std::string_view street;
  std::string_view name;
  Kind kind;
  int number;  // house number, 0 for none
  double lng, lat;
};

// Shops generated along every street: `prefix` + street name + `suffix`.
struct ShopTemplate {
  Kind kind;
  std::string_view prefix;
  std::string_view suffix;
};

std::span<const KindRow> kinds();
std::span<const CityRow> cities();
std::span<const DistrictRow> districts();
std::span<const StreetRow> streets();
std::span<const LandmarkRow> landmarks();
std::span<const ShopTemplate> shopTemplates();

}  // namespace orv::emulator::tables
