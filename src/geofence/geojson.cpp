// Fences from a GeoJSON FeatureCollection.
#include <simdjson.h>

#include <cstdio>
#include <string>

#include "model/json_reader.h"
#include "orv/geofence.h"

namespace orv {
namespace {

using simdjson::dom::array;
using simdjson::dom::element;
using simdjson::dom::object;

Error geoJsonError(std::size_t feature, const std::string& what) {
  return Error{std::string(kGeofenceErrorDomain),
               static_cast<int64_t>(GeofenceErrorCode::invalidGeoJson),
               "feature " + std::to_string(feature) + ": " + what};
}

Error documentError(const std::string& what) {
  return Error{std::string(kGeofenceErrorDomain),
               static_cast<int64_t>(GeofenceErrorCode::invalidGeoJson), "GeoJSON: " + what};
}

// [longitude, latitude(, altitude)] -> Coordinate; false when it is not a position.
bool readPosition(element e, Coordinate& out) {
  array a;
  if (e.get_array().get(a) != simdjson::SUCCESS || a.size() < 2) return false;
  double lng = 0, lat = 0;
  if (a.at(0).get_double().get(lng) != simdjson::SUCCESS ||
      a.at(1).get_double().get(lat) != simdjson::SUCCESS) {
    return false;
  }
  out = {lat, lng};
  return true;
}

bool readPolygon(element e, GeofencePolygon& out, std::string& why) {
  array rings;
  if (e.get_array().get(rings) != simdjson::SUCCESS) {
    why = "polygon coordinates must be an array of rings";
    return false;
  }
  for (element r : rings) {
    array positions;
    if (r.get_array().get(positions) != simdjson::SUCCESS) {
      why = "a ring must be an array of positions";
      return false;
    }
    auto& ring = out.rings.emplace_back();
    ring.reserve(positions.size());
    for (element p : positions) {
      Coordinate c;
      if (!readPosition(p, c)) {
        why = "a position must be [longitude, latitude]";
        return false;
      }
      ring.push_back(c);
    }
  }
  return true;
}

// Text of an id given as a string or a number; false for anything else.
bool readId(element e, std::string& out) {
  std::string_view s;
  int64_t i = 0;
  double d = 0;
  if (e.get_string().get(s) == simdjson::SUCCESS) {
    out = s;
  } else if (e.get_int64().get(i) == simdjson::SUCCESS) {
    out = std::to_string(i);
  } else if (e.get_double().get(d) == simdjson::SUCCESS) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.17g", d);
    out = buf;
  } else {
    return false;
  }
  return true;
}

bool readDatum(std::string_view name, Datum& out) {
  std::string lower;
  for (char c : name) {
    if (c != '-' && c != '_') lower += static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
  }
  if (lower == "wgs84") {
    out = Datum::wgs84;
  } else if (lower == "gcj02") {
    out = Datum::gcj02;
  } else if (lower == "bd09") {
    out = Datum::bd09;
  } else {
    return false;
  }
  return true;
}

Result<Geofence> readFeature(element e, std::size_t index, Datum datum) {
  object feature, geometry, properties;
  if (e.get_object().get(feature) != simdjson::SUCCESS) return geoJsonError(index, "not an object");
  const bool hasProperties =
      feature["properties"].get_object().get(properties) == simdjson::SUCCESS;
  Geofence f;
  f.datum = datum;
  element idValue;
  if (feature["id"].get(idValue) == simdjson::SUCCESS && !idValue.is_null()) {
    if (!readId(idValue, f.id)) return geoJsonError(index, "id must be a string or a number");
  } else if (hasProperties && properties["id"].get(idValue) == simdjson::SUCCESS &&
             !idValue.is_null()) {
    if (!readId(idValue, f.id))
      return geoJsonError(index, "properties.id must be a string or a number");
  } else {
    return geoJsonError(index, "no id (neither id nor properties.id)");
  }
  if (hasProperties) {
    element v;
    if (properties["dwell"].get(v) == simdjson::SUCCESS && !v.is_null()) {
      double seconds = 0;
      if (v.get_double().get(seconds) != simdjson::SUCCESS || !(seconds >= 0)) {
        return geoJsonError(index, "properties.dwell must be a number of seconds, not negative");
      }
      f.dwell = std::chrono::duration<double>(seconds);
    }
    if (properties["datum"].get(v) == simdjson::SUCCESS && !v.is_null()) {
      std::string_view name;
      if (v.get_string().get(name) != simdjson::SUCCESS || !readDatum(name, f.datum)) {
        return geoJsonError(index, "properties.datum must be \"wgs84\", \"gcj02\" or \"bd09\"");
      }
    }
  }
  std::string_view type;
  element coordinates;
  if (feature["geometry"].get_object().get(geometry) != simdjson::SUCCESS ||
      geometry["type"].get_string().get(type) != simdjson::SUCCESS ||
      geometry["coordinates"].get(coordinates) != simdjson::SUCCESS) {
    return geoJsonError(index, "geometry must be an object with type and coordinates");
  }
  std::string why;
  if (type == "Point") {
    GeofenceCircle c;
    if (!readPosition(coordinates, c.center)) {
      return geoJsonError(index, "a position must be [longitude, latitude]");
    }
    if (!hasProperties || properties["radius"].get_double().get(c.radius) != simdjson::SUCCESS) {
      return geoJsonError(index, "a Point needs properties.radius in metres");
    }
    f.shape = c;
  } else if (type == "Polygon") {
    std::vector<GeofencePolygon> ps(1);
    if (!readPolygon(coordinates, ps[0], why)) return geoJsonError(index, why);
    f.shape = std::move(ps);
  } else if (type == "MultiPolygon") {
    array polygons;
    if (coordinates.get_array().get(polygons) != simdjson::SUCCESS) {
      return geoJsonError(index, "MultiPolygon coordinates must be an array of polygons");
    }
    std::vector<GeofencePolygon> ps;
    for (element p : polygons) {
      if (!readPolygon(p, ps.emplace_back(), why)) return geoJsonError(index, why);
    }
    f.shape = std::move(ps);
  } else {
    return geoJsonError(
        index, "geometry type \"" + std::string(type) + "\" is not Point, Polygon or MultiPolygon");
  }
  return f;
}

}  // namespace

Result<std::vector<Geofence>> parseGeofences(std::string_view geojson, Datum datum) {
  auto parsed = detail::withParsedDocument<std::vector<Geofence>>(
      geojson, [&](element root) -> Result<std::vector<Geofence>> {
        object collection;
        std::string_view type;
        array features;
        if (root.get_object().get(collection) != simdjson::SUCCESS ||
            collection["type"].get_string().get(type) != simdjson::SUCCESS ||
            type != "FeatureCollection" ||
            collection["features"].get_array().get(features) != simdjson::SUCCESS) {
          return documentError("not a FeatureCollection with a features array");
        }
        std::vector<Geofence> out;
        out.reserve(features.size());
        std::size_t index = 0;
        for (element e : features) {
          auto f = readFeature(e, index++, datum);
          if (!f.ok()) return f.error();
          out.push_back(std::move(*f));
        }
        return out;
      });
  if (!parsed.ok() && parsed.error().domain != kGeofenceErrorDomain) {
    return documentError("not valid JSON (" + parsed.error().message + ")");
  }
  return parsed;
}

}  // namespace orv
