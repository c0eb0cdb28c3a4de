// One hit of a geocoding or place search, and the records it uses.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "orv/export.h"
#include "orv/location_res.h"
#include "orv/result.h"

namespace orv {

class ORV_API OrvCategory {
 public:
  enum class CodingKeys { id, name };
  static std::string_view toString(CodingKeys key);
  static std::optional<CodingKeys> fromString(std::string_view text);

  const std::string& id() const { return id_; }
  void setId(std::string v) { id_ = std::move(v); }
  const std::string& name() const { return name_; }
  void setName(std::string v) { name_ = std::move(v); }

  Result<std::string> encode() const;
  static Result<std::shared_ptr<OrvCategory>> decode(std::string_view json);

 private:
  std::string id_;
  std::string name_;
};

// Same keys as Address, offered to hosts; no answer decodes into it.
class ORV_API AddressContext {
 public:
  enum class CodingKeys { type, name, code };
  static std::string_view toString(CodingKeys key);
  static std::optional<CodingKeys> fromString(std::string_view text);

  const std::string& type() const { return type_; }
  void setType(std::string v) { type_ = std::move(v); }
  const std::string& name() const { return name_; }
  void setName(std::string v) { name_ = std::move(v); }
  const std::string& code() const { return code_; }
  void setCode(std::string v) { code_ = std::move(v); }

  Result<std::string> encode() const;
  static Result<std::shared_ptr<AddressContext>> decode(std::string_view json);

 private:
  std::string type_;
  std::string name_;
  std::string code_;
};

class ORV_API GeocodeRes {
 public:
  using Categories = std::vector<std::shared_ptr<OrvCategory>>;
  enum class CodingKeys {
    id,
    geoPoint,
    type,
    name,
    code,
    categories,
    address,
    relevance,
    distance
  };
  static std::string_view toString(CodingKeys key);
  static std::optional<CodingKeys> fromString(std::string_view text);

  const std::string& id() const { return id_; }
  void setId(std::string v) { id_ = std::move(v); }
  // Kept exactly as the service sends it; never parsed.
  const std::string& geoPoint() const { return geoPoint_; }
  void setGeoPoint(std::string v) { geoPoint_ = std::move(v); }
  const std::string& type() const { return type_; }
  void setType(std::string v) { type_ = std::move(v); }
  const std::string& name() const { return name_; }
  void setName(std::string v) { name_ = std::move(v); }
  const std::string& code() const { return code_; }
  void setCode(std::string v) { code_ = std::move(v); }
  // Absent and empty differ: absent when the answer has no "categories" or null.
  const std::optional<Categories>& categories() const { return categories_; }
  void setCategories(std::optional<Categories> v) { categories_ = std::move(v); }
  const std::shared_ptr<AddressInfo>& address() const { return address_; }
  void setAddress(std::shared_ptr<AddressInfo> v) { address_ = std::move(v); }
  double relevance() const { return relevance_; }
  void setRelevance(double v) { relevance_ = v; }
  double distance() const { return distance_; }
  void setDistance(double v) { distance_ = v; }

  Result<std::string> encode() const;
  static Result<std::shared_ptr<GeocodeRes>> decode(std::string_view json);

 private:
  std::string id_;
  std::string geoPoint_;
  std::string type_;
  std::string name_;
  std::string code_;
  std::optional<Categories> categories_;
  std::shared_ptr<AddressInfo> address_ = std::make_shared<AddressInfo>();
  double relevance_ = 0.0;
  double distance_ = 0.0;
};

// A reply of the geocode and place-search endpoints: a top-level array, in array order.
ORV_API Result<std::vector<std::shared_ptr<GeocodeRes>>> decodeGeocodeList(std::string_view json);

}  // namespace orv
