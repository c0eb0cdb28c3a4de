#include "model/request_bodies.h"

#include "model/json_writer.h"

namespace orv::detail {

namespace {

template <class Body>
Result<std::string> bodyJson(const Body& body) {
  JsonWriter w;
  body.write(w, JsonPath{});
  return std::move(w).finish();
}

void text(JsonWriter& w, const JsonPath& at, std::string_view key, std::string_view v) {
  w.key(key);
  w.string(v, at.child(key));
}

void number(JsonWriter& w, const JsonPath& at, std::string_view key, double v) {
  w.key(key);
  w.number(v, at.child(key));
}

}  // namespace

void GnssPoint::write(JsonWriter& w, const JsonPath& at) const {
  w.beginObject();
  number(w, at, "longitude", longitude);
  number(w, at, "latitude", latitude);
  w.endObject();
}

void OSInfo::write(JsonWriter& w, const JsonPath& at) const {
  w.beginObject();
  text(w, at, "type", type);
  text(w, at, "version", version);
  w.endObject();
}

void AssetInfo::write(JsonWriter& w, const JsonPath& at) const {
  w.beginObject();
  text(w, at, "id", id);
  if (manufacturer) text(w, at, "manufacturer", *manufacturer);
  if (model) text(w, at, "model", *model);
  if (os) {
    w.key("os");
    os->write(w, at.child("os"));
  }
  w.endObject();
}

void GnssData::write(JsonWriter& w, const JsonPath& at) const {
  w.beginObject();
  w.key("point");
  point.write(w, at.child("point"));
  number(w, at, "accuracy", accuracy);
  if (altitude) number(w, at, "altitude", *altitude);
  if (verticalAccuracy) number(w, at, "verticalAccuracy", *verticalAccuracy);
  if (velocity) number(w, at, "velocity", *velocity);
  w.endObject();
}

void TrackLocation::write(JsonWriter& w, const JsonPath& at) const {
  w.beginObject();
  w.key("gnss");
  gnss.write(w, at.child("gnss"));
  w.endObject();
}

void TrackRequest::write(JsonWriter& w, const JsonPath& at) const {
  w.beginObject();
  w.key("timestamp");
  w.integer(timestamp);
  text(w, at, "id", id);
  w.key("asset");
  asset.write(w, at.child("asset"));
  w.key("location");
  location.write(w, at.child("location"));
  w.endObject();
}

void ReverseGeoPosition::write(JsonWriter& w, const JsonPath& at) const {
  w.beginObject();
  w.key("point");
  point.write(w, at.child("point"));
  if (spatialReference) text(w, at, "spatialReference", *spatialReference);
  w.endObject();
}

void ReverseGeoLocation::write(JsonWriter& w, const JsonPath& at) const {
  w.beginObject();
  w.key("position");
  position.write(w, at.child("position"));
  w.endObject();
}

void ReverseGeoRequest::write(JsonWriter& w, const JsonPath& at) const {
  w.beginObject();
  text(w, at, "asset", asset);
  w.key("location");
  location.write(w, at.child("location"));
  if (timestamp) {
    w.key("timestamp");
    w.integer(*timestamp);
  }
  if (id) text(w, at, "id", *id);
  w.endObject();
}

Result<std::string> GnssPoint::toJson() const { return bodyJson(*this); }
Result<std::string> OSInfo::toJson() const { return bodyJson(*this); }
Result<std::string> AssetInfo::toJson() const { return bodyJson(*this); }
Result<std::string> GnssData::toJson() const { return bodyJson(*this); }
Result<std::string> TrackLocation::toJson() const { return bodyJson(*this); }
Result<std::string> TrackRequest::toJson() const { return bodyJson(*this); }
Result<std::string> ReverseGeoPosition::toJson() const { return bodyJson(*this); }
Result<std::string> ReverseGeoLocation::toJson() const { return bodyJson(*this); }
Result<std::string> ReverseGeoRequest::toJson() const { return bodyJson(*this); }

}  // namespace orv::detail
