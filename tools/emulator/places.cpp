#include "emulator/places.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <optional>
#include <string_view>

#include "emulator/place_tables.h"

namespace orv::emulator {
namespace {

constexpr int kShopsPerStreet = 5;
// Shops sit this far (degrees, about 15 m) to either side of their street's centre line.
constexpr double kShopSideOffset = 0.00015;

Error dataError(std::string message) { return Error{"EmulatorData", 1, std::move(message)}; }

std::string pad(int value, int width) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%0*d", width, value);
  return buf;
}

const tables::KindRow* findKind(tables::Kind kind) {
  for (const auto& row : tables::kinds()) {
    if (row.kind == kind) return &row;
  }
  return nullptr;
}

struct DistrictInfo {
  std::vector<AreaLevel> context;  // province, city, district
  std::string prefix;              // address text down to the district
  std::string code;
  int places = 0;  // for numbering the district's points of interest
  int streets = 0;
  double sumLng = 0.0, sumLat = 0.0;
};

struct StreetInfo {
  DistrictInfo* district;
  AreaLevel level;
  const tables::StreetRow* row;
};

}  // namespace

class PlaceSetBuilder {
 public:
  Result<PlaceSet> run(PlaceSet set) {
    if (auto e = collectDistricts()) return *e;
    if (auto e = collectStreets()) return *e;
    for (const auto& row : tables::landmarks()) {
      auto it = streets_.find(std::string(row.districtCode) + "/" + std::string(row.street));
      if (it == streets_.end()) {
        return dataError("landmark " + std::string(row.name) + " names an unknown street");
      }
      if (auto e = addPlace(set, it->second, row.name, row.kind, row.number, row.lng, row.lat)) {
        return *e;
      }
    }
    if (auto e = addShops(set)) return *e;
    std::sort(set.places_.begin(), set.places_.end(),
              [](const Place& a, const Place& b) { return a.id < b.id; });
    for (const auto& d : districtOrder_) set.areas_.push_back(districtArea(*d));
    for (const auto& key : streetOrder_) set.areas_.push_back(streetArea(streets_.at(key)));
    return set;
  }

 private:
  std::optional<Error> collectDistricts() {
    for (const auto& row : tables::districts()) {
      const tables::CityRow* city = nullptr;
      for (const auto& c : tables::cities()) {
        if (c.cityCode == row.cityCode) city = &c;
      }
      if (city == nullptr) return dataError("district " + std::string(row.name) + ": no city");
      auto& d = districts_[std::string(row.code)];
      d.code = row.code;
      d.context = {{"province", std::string(city->province), std::string(city->provinceCode)},
                   {"city", std::string(city->city), std::string(city->cityCode)},
                   {"district", std::string(row.name), std::string(row.code)}};
      // A municipality is its own province: its name is written once.
      if (city->province != city->city) d.prefix = city->province;
      d.prefix += std::string(city->city) + std::string(row.name);
      districtOrder_.push_back(&d);
    }
    return std::nullopt;
  }

  std::optional<Error> collectStreets() {
    for (const auto& row : tables::streets()) {
      auto it = districts_.find(std::string(row.districtCode));
      if (it == districts_.end())
        return dataError("street " + std::string(row.name) + ": no district");
      DistrictInfo& d = it->second;
      const std::string key = std::string(row.districtCode) + "/" + std::string(row.name);
      ++d.streets;
      d.sumLng += (row.lng0 + row.lng1) / 2;
      d.sumLat += (row.lat0 + row.lat1) / 2;
      streets_[key] =
          StreetInfo{&d, {"street", std::string(row.name), d.code + pad(d.streets, 3)}, &row};
      streetOrder_.push_back(key);
    }
    return std::nullopt;
  }

  std::optional<Error> addShops(PlaceSet& set) {
    const auto templates = tables::shopTemplates();
    for (std::size_t s = 0; s < streetOrder_.size(); ++s) {
      const StreetInfo& street = streets_.at(streetOrder_[s]);
      const auto& r = *street.row;
      const double dx = r.lng1 - r.lng0, dy = r.lat1 - r.lat0;
      const double len = std::hypot(dx, dy);
      for (int j = 0; j < kShopsPerStreet; ++j) {
        // Distinct templates per street, varied from street to street.
        const auto& t = templates[(s + 2 * static_cast<std::size_t>(j)) % templates.size()];
        const double along = (j + 0.5) / kShopsPerStreet;
        const double side = (j % 2 == 0 ? -1.0 : 1.0) * kShopSideOffset / len;
        const std::string name = std::string(t.prefix) + street.level.name + std::string(t.suffix);
        const int number = 10 * j + 2 + (j % 2) + 2 * static_cast<int>(s % 3);
        if (auto e = addPlace(set, street, name, t.kind, number, r.lng0 + along * dx - side * dy,
                              r.lat0 + along * dy + side * dx)) {
          return e;
        }
      }
    }
    return std::nullopt;
  }

  std::optional<Error> addPlace(PlaceSet& set, const StreetInfo& street, std::string_view name,
                                tables::Kind kind, int number, double lng, double lat) {
    const tables::KindRow* k = findKind(kind);
    if (k == nullptr) return dataError("place " + std::string(name) + ": unknown kind");
    DistrictInfo& d = *street.district;
    Place p;
    p.id = "B" + d.code + pad(++d.places, 4);
    p.type = k->type;
    p.name = name;
    p.code = d.code;
    p.categories = {{std::string(k->top.id), std::string(k->top.name)},
                    {std::string(k->sub.id), std::string(k->sub.name)}};
    p.context = d.context;
    p.context.push_back(street.level);
    p.address = d.prefix + street.level.name + (number > 0 ? std::to_string(number) + "号" : "");
    p.longitude = lng;
    p.latitude = lat;
    set.places_.push_back(std::move(p));
    return std::nullopt;
  }

  static Place districtArea(const DistrictInfo& d) {
    Place p;
    p.id = d.code;
    p.type = "district";
    p.name = d.context.back().name;
    p.code = d.code;
    p.context = d.context;
    p.address = d.prefix;
    if (d.streets > 0) {
      p.longitude = d.sumLng / d.streets;
      p.latitude = d.sumLat / d.streets;
    }
    return p;
  }

  static Place streetArea(const StreetInfo& s) {
    Place p;
    p.id = s.level.code;
    p.type = "street";
    p.name = s.level.name;
    p.code = s.level.code;
    p.context = s.district->context;
    p.context.push_back(s.level);
    p.address = s.district->prefix + s.level.name;
    p.longitude = (s.row->lng0 + s.row->lng1) / 2;
    p.latitude = (s.row->lat0 + s.row->lat1) / 2;
    return p;
  }

  std::map<std::string, DistrictInfo> districts_;
  std::vector<DistrictInfo*> districtOrder_;
  std::map<std::string, StreetInfo> streets_;
  std::vector<std::string> streetOrder_;
};

const AreaLevel& Place::level(const std::string& type) const {
  static const AreaLevel none;
  for (const auto& l : context) {
    if (l.type == type) return l;
  }
  return none;
}

Result<PlaceSet> PlaceSet::build() { return PlaceSetBuilder().run(PlaceSet()); }

const PlaceSet& PlaceSet::bundled() {
  static const PlaceSet set = [] {
    auto built = build();
    if (!built) {
      // The tables are compiled in: a bad row is a bug that every test run shows at once.
      std::fprintf(stderr, "orv-emulator: bundled data: %s\n", built.error().message.c_str());
      std::abort();
    }
    return std::move(built).value();
  }();
  return set;
}

}  // namespace orv::emulator
