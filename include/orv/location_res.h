// The enriched location answer: LocationRes and its parts. Records are shared (std::shared_ptr);
// every field has a reader named after it and a writer set<Field>. Writers do not validate.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "orv/export.h"
#include "orv/result.h"

namespace orv {

class ORV_API OrvPoint {
 public:
  enum class CodingKeys { longitude, latitude };
  static std::string_view toString(CodingKeys key);
  static std::optional<CodingKeys> fromString(std::string_view text);

  OrvPoint() = default;
  OrvPoint(double longitude, double latitude) : longitude_(longitude), latitude_(latitude) {}

  double longitude() const { return longitude_; }
  void setLongitude(double v) { longitude_ = v; }
  double latitude() const { return latitude_; }
  void setLatitude(double v) { latitude_ = v; }

  Result<std::string> encode() const;
  static Result<std::shared_ptr<OrvPoint>> decode(std::string_view json);

 private:
  double longitude_ = 0.0;
  double latitude_ = 0.0;
};

class ORV_API Position {
 public:
  enum class CodingKeys { point };
  static std::string_view toString(CodingKeys key);
  static std::optional<CodingKeys> fromString(std::string_view text);

  Position() = default;
  // Shares the given point.
  explicit Position(std::shared_ptr<OrvPoint> point) : point_(std::move(point)) {}

  const std::shared_ptr<OrvPoint>& point() const { return point_; }
  void setPoint(std::shared_ptr<OrvPoint> v) { point_ = std::move(v); }

  Result<std::string> encode() const;
  static Result<std::shared_ptr<Position>> decode(std::string_view json);

 private:
  std::shared_ptr<OrvPoint> point_ = std::make_shared<OrvPoint>();
};

class ORV_API DistanceInfo {
 public:
  enum class CodingKeys { line };
  static std::string_view toString(CodingKeys key);
  static std::optional<CodingKeys> fromString(std::string_view text);

  double line() const { return line_; }
  void setLine(double v) { line_ = v; }

  Result<std::string> encode() const;
  static Result<std::shared_ptr<DistanceInfo>> decode(std::string_view json);

 private:
  double line_ = 0.0;
};

class ORV_API PlaceInfo {
 public:
  enum class CodingKeys { type, name, distance };
  static std::string_view toString(CodingKeys key);
  static std::optional<CodingKeys> fromString(std::string_view text);

  const std::string& type() const { return type_; }
  void setType(std::string v) { type_ = std::move(v); }
  const std::string& name() const { return name_; }
  void setName(std::string v) { name_ = std::move(v); }
  const std::shared_ptr<DistanceInfo>& distance() const { return distance_; }
  void setDistance(std::shared_ptr<DistanceInfo> v) { distance_ = std::move(v); }

  Result<std::string> encode() const;
  static Result<std::shared_ptr<PlaceInfo>> decode(std::string_view json);

 private:
  std::string type_;
  std::string name_;
  std::shared_ptr<DistanceInfo> distance_ = std::make_shared<DistanceInfo>();
};

class ORV_API Address {
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
  static Result<std::shared_ptr<Address>> decode(std::string_view json);

 private:
  std::string type_;
  std::string name_;
  std::string code_;
};

class ORV_API AddressInfo {
 public:
  enum class CodingKeys { name, context };
  static std::string_view toString(CodingKeys key);
  static std::optional<CodingKeys> fromString(std::string_view text);

  const std::string& name() const { return name_; }
  void setName(std::string v) { name_ = std::move(v); }
  // The list is a copy; the Address records inside stay shared.
  const std::vector<std::shared_ptr<Address>>& context() const { return context_; }
  void setContext(std::vector<std::shared_ptr<Address>> v) { context_ = std::move(v); }

  Result<std::string> encode() const;
  static Result<std::shared_ptr<AddressInfo>> decode(std::string_view json);

 private:
  std::string name_;
  std::vector<std::shared_ptr<Address>> context_;
};

class ORV_API LocationDetail {
 public:
  enum class CodingKeys { timestamp, address, place, position };
  static std::string_view toString(CodingKeys key);
  static std::optional<CodingKeys> fromString(std::string_view text);

  // Milliseconds since 1970-01-01 00:00 UTC.
  int64_t timestamp() const { return timestamp_; }
  void setTimestamp(int64_t v) { timestamp_ = v; }
  // Empty means absent. A default detail has both present, with empty contents.
  const std::shared_ptr<AddressInfo>& address() const { return address_; }
  void setAddress(std::shared_ptr<AddressInfo> v) { address_ = std::move(v); }
  const std::shared_ptr<PlaceInfo>& place() const { return place_; }
  void setPlace(std::shared_ptr<PlaceInfo> v) { place_ = std::move(v); }
  const std::shared_ptr<Position>& position() const { return position_; }
  void setPosition(std::shared_ptr<Position> v) { position_ = std::move(v); }

  Result<std::string> encode() const;
  static Result<std::shared_ptr<LocationDetail>> decode(std::string_view json);

 private:
  int64_t timestamp_ = 0;
  std::shared_ptr<AddressInfo> address_ = std::make_shared<AddressInfo>();
  std::shared_ptr<PlaceInfo> place_ = std::make_shared<PlaceInfo>();
  std::shared_ptr<Position> position_ = std::make_shared<Position>();
};

class ORV_API LocationRes {
 public:
  enum class CodingKeys { id, asset, location };
  static std::string_view toString(CodingKeys key);
  static std::optional<CodingKeys> fromString(std::string_view text);

  const std::string& id() const { return id_; }
  void setId(std::string v) { id_ = std::move(v); }
  const std::string& asset() const { return asset_; }
  void setAsset(std::string v) { asset_ = std::move(v); }
  const std::shared_ptr<LocationDetail>& location() const { return location_; }
  void setLocation(std::shared_ptr<LocationDetail> v) { location_ = std::move(v); }

  // Compact JSON; fails on a non-finite number, invalid UTF-8 or an empty required record.
  Result<std::string> encode() const;
  // Strict: the first missing, null or mistyped field fails the whole document.
  static Result<std::shared_ptr<LocationRes>> decode(std::string_view json);

 private:
  std::string id_;
  std::string asset_;
  std::shared_ptr<LocationDetail> location_ = std::make_shared<LocationDetail>();
};

}  // namespace orv
