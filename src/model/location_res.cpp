#include <initializer_list>

#include "model/record_common.h"
#include "orv/location_res.h"

namespace orv {

ORV_DEFINE_RECORD_COMMON(OrvPoint, "longitude", "latitude")
ORV_DEFINE_RECORD_COMMON(Position, "point")
ORV_DEFINE_RECORD_COMMON(DistanceInfo, "line")
ORV_DEFINE_RECORD_COMMON(PlaceInfo, "type", "name", "distance")
ORV_DEFINE_RECORD_COMMON(Address, "type", "name", "code")
ORV_DEFINE_RECORD_COMMON(AddressInfo, "name", "context")
ORV_DEFINE_RECORD_COMMON(LocationDetail, "timestamp", "address", "place", "position")
ORV_DEFINE_RECORD_COMMON(LocationRes, "id", "asset", "location")

}  // namespace orv

namespace orv::detail {

using simdjson::dom::element;
using simdjson::dom::object;

DecodeStatus decodeInto(element v, const JsonPath& at, OrvPoint& out) {
  object o;
  if (auto e = expectObject(v, at, o)) return e;
  double lon = 0, lat = 0;
  if (auto e = requiredDouble(o, "longitude", at, lon)) return e;
  if (auto e = requiredDouble(o, "latitude", at, lat)) return e;
  out.setLongitude(lon);
  out.setLatitude(lat);
  return std::nullopt;
}

DecodeStatus decodeInto(element v, const JsonPath& at, Position& out) {
  object o;
  if (auto e = expectObject(v, at, o)) return e;
  std::shared_ptr<OrvPoint> point;
  if (auto e = decodeRecordField(o, "point", at, point)) return e;
  out.setPoint(std::move(point));
  return std::nullopt;
}

DecodeStatus decodeInto(element v, const JsonPath& at, DistanceInfo& out) {
  object o;
  if (auto e = expectObject(v, at, o)) return e;
  double line = 0;
  if (auto e = requiredDouble(o, "line", at, line)) return e;
  out.setLine(line);
  return std::nullopt;
}

DecodeStatus decodeInto(element v, const JsonPath& at, PlaceInfo& out) {
  object o;
  if (auto e = expectObject(v, at, o)) return e;
  std::string type, name;
  std::shared_ptr<DistanceInfo> distance;
  if (auto e = requiredText(o, "type", at, type)) return e;
  if (auto e = requiredText(o, "name", at, name)) return e;
  if (auto e = decodeRecordField(o, "distance", at, distance)) return e;
  out.setType(std::move(type));
  out.setName(std::move(name));
  out.setDistance(std::move(distance));
  return std::nullopt;
}

DecodeStatus decodeInto(element v, const JsonPath& at, Address& out) {
  object o;
  if (auto e = expectObject(v, at, o)) return e;
  std::string type, name, code;
  if (auto e = requiredText(o, "type", at, type)) return e;
  if (auto e = requiredText(o, "name", at, name)) return e;
  if (auto e = requiredText(o, "code", at, code)) return e;
  out.setType(std::move(type));
  out.setName(std::move(name));
  out.setCode(std::move(code));
  return std::nullopt;
}

DecodeStatus decodeInto(element v, const JsonPath& at, AddressInfo& out) {
  object o;
  if (auto e = expectObject(v, at, o)) return e;
  std::string name;
  if (auto e = requiredText(o, "name", at, name)) return e;
  element ctx;
  if (auto e = requiredField(o, "context", at, ctx)) return e;
  const JsonPath ctxPath = at.child("context");
  simdjson::dom::array items;
  if (ctx.get_array().get(items)) {
    return decodeError(DecodingErrorCode::typeMismatch, ctxPath, "expected array");
  }
  std::vector<std::shared_ptr<Address>> context;
  context.reserve(items.size());
  std::size_t i = 0;
  for (element item : items) {
    auto address = std::make_shared<Address>();
    if (auto e = decodeInto(item, ctxPath.element(i++), *address)) return e;
    context.push_back(std::move(address));
  }
  out.setName(std::move(name));
  out.setContext(std::move(context));
  return std::nullopt;
}

DecodeStatus decodeInto(element v, const JsonPath& at, LocationDetail& out) {
  object o;
  if (auto e = expectObject(v, at, o)) return e;
  element field;
  int64_t timestamp = 0;
  if (auto e = requiredField(o, "timestamp", at, field)) return e;
  if (auto e = readInt64(field, at.child("timestamp"), timestamp)) return e;

  std::shared_ptr<AddressInfo> address;
  if (optionalField(o, "address", field)) {
    address = std::make_shared<AddressInfo>();
    if (auto e = decodeInto(field, at.child("address"), *address)) return e;
  }
  std::shared_ptr<PlaceInfo> place;
  if (optionalField(o, "place", field)) {
    place = std::make_shared<PlaceInfo>();
    if (auto e = decodeInto(field, at.child("place"), *place)) return e;
  }
  std::shared_ptr<Position> position;
  if (auto e = decodeRecordField(o, "position", at, position)) return e;
  out.setTimestamp(timestamp);
  out.setAddress(std::move(address));
  out.setPlace(std::move(place));
  out.setPosition(std::move(position));
  return std::nullopt;
}

DecodeStatus decodeInto(element v, const JsonPath& at, LocationRes& out) {
  object o;
  if (auto e = expectObject(v, at, o)) return e;
  std::string id, asset;
  std::shared_ptr<LocationDetail> location;
  if (auto e = requiredText(o, "id", at, id)) return e;
  if (auto e = requiredText(o, "asset", at, asset)) return e;
  if (auto e = decodeRecordField(o, "location", at, location)) return e;
  out.setId(std::move(id));
  out.setAsset(std::move(asset));
  out.setLocation(std::move(location));
  return std::nullopt;
}

void encodeTo(JsonWriter& w, const JsonPath& at, const OrvPoint& r) {
  w.beginObject();
  w.key("longitude");
  w.number(r.longitude(), at.child("longitude"));
  w.key("latitude");
  w.number(r.latitude(), at.child("latitude"));
  w.endObject();
}

void encodeTo(JsonWriter& w, const JsonPath& at, const Position& r) {
  w.beginObject();
  w.key("point");
  encodeRecord(w, at.child("point"), r.point());
  w.endObject();
}

void encodeTo(JsonWriter& w, const JsonPath& at, const DistanceInfo& r) {
  w.beginObject();
  w.key("line");
  w.number(r.line(), at.child("line"));
  w.endObject();
}

void encodeTo(JsonWriter& w, const JsonPath& at, const PlaceInfo& r) {
  w.beginObject();
  w.key("type");
  w.string(r.type(), at.child("type"));
  w.key("name");
  w.string(r.name(), at.child("name"));
  w.key("distance");
  encodeRecord(w, at.child("distance"), r.distance());
  w.endObject();
}

void encodeTo(JsonWriter& w, const JsonPath& at, const Address& r) {
  w.beginObject();
  w.key("type");
  w.string(r.type(), at.child("type"));
  w.key("name");
  w.string(r.name(), at.child("name"));
  w.key("code");
  w.string(r.code(), at.child("code"));
  w.endObject();
}

void encodeTo(JsonWriter& w, const JsonPath& at, const AddressInfo& r) {
  w.beginObject();
  w.key("name");
  w.string(r.name(), at.child("name"));
  w.key("context");
  const JsonPath ctxPath = at.child("context");
  w.beginArray();
  for (std::size_t i = 0; i < r.context().size() && !w.failed(); ++i) {
    encodeRecord(w, ctxPath.element(i), r.context()[i]);
  }
  w.endArray();
  w.endObject();
}

void encodeTo(JsonWriter& w, const JsonPath& at, const LocationDetail& r) {
  w.beginObject();
  w.key("timestamp");
  w.integer(r.timestamp());
  if (r.address()) {
    w.key("address");
    encodeTo(w, at.child("address"), *r.address());
  }
  if (r.place()) {
    w.key("place");
    encodeTo(w, at.child("place"), *r.place());
  }
  w.key("position");
  encodeRecord(w, at.child("position"), r.position());
  w.endObject();
}

void encodeTo(JsonWriter& w, const JsonPath& at, const LocationRes& r) {
  w.beginObject();
  w.key("id");
  w.string(r.id(), at.child("id"));
  w.key("asset");
  w.string(r.asset(), at.child("asset"));
  w.key("location");
  encodeRecord(w, at.child("location"), r.location());
  w.endObject();
}

}  // namespace orv::detail
