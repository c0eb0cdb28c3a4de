// Request bodies sent to the location web service. Plain values; each writes itself as one
// compact JSON object, fields in declaration order, absent optionals left out (never null).
// toJson() fails on a non-finite number or a text that is not UTF-8, naming the field.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "orv/result.h"

namespace orv::detail {

class JsonWriter;
struct JsonPath;

struct GnssPoint {
  double longitude = 0.0;
  double latitude = 0.0;

  void write(JsonWriter& w, const JsonPath& at) const;
  Result<std::string> toJson() const;
};

struct OSInfo {
  std::string type;
  std::string version;

  void write(JsonWriter& w, const JsonPath& at) const;
  Result<std::string> toJson() const;
};

struct AssetInfo {
  std::string id;
  std::optional<std::string> manufacturer;
  std::optional<std::string> model;
  std::optional<OSInfo> os;

  void write(JsonWriter& w, const JsonPath& at) const;
  Result<std::string> toJson() const;
};

struct GnssData {
  GnssPoint point;
  double accuracy = 0.0;
  std::optional<double> altitude;
  std::optional<double> verticalAccuracy;
  std::optional<double> velocity;

  void write(JsonWriter& w, const JsonPath& at) const;
  Result<std::string> toJson() const;
};

struct TrackLocation {
  GnssData gnss;

  void write(JsonWriter& w, const JsonPath& at) const;
  Result<std::string> toJson() const;
};

// The fusion-location body.
struct TrackRequest {
  int64_t timestamp = 0;  // milliseconds since 1970
  std::string id;
  AssetInfo asset;
  TrackLocation location;

  void write(JsonWriter& w, const JsonPath& at) const;
  Result<std::string> toJson() const;
};

struct ReverseGeoPosition {
  GnssPoint point;
  std::optional<std::string> spatialReference;

  void write(JsonWriter& w, const JsonPath& at) const;
  Result<std::string> toJson() const;
};

struct ReverseGeoLocation {
  ReverseGeoPosition position;

  void write(JsonWriter& w, const JsonPath& at) const;
  Result<std::string> toJson() const;
};

// The reverse-geocoding body; `asset` is the device identifier text itself.
struct ReverseGeoRequest {
  std::string asset;
  ReverseGeoLocation location;
  std::optional<int64_t> timestamp;
  std::optional<std::string> id;

  void write(JsonWriter& w, const JsonPath& at) const;
  Result<std::string> toJson() const;
};

}  // namespace orv::detail
