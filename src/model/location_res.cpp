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
  using K = OrvPoint::CodingKeys;
  const Members m(o, kOrvPointKeys);
  double lon = 0, lat = 0;
  if (auto e = requiredDouble(m[K::longitude], at, lon)) return e;
  if (auto e = requiredDouble(m[K::latitude], at, lat)) return e;
  out.setLongitude(lon);
  out.setLatitude(lat);
  return std::nullopt;
}

DecodeStatus decodeInto(element v, const JsonPath& at, Position& out) {
  object o;
  if (auto e = expectObject(v, at, o)) return e;
  using K = Position::CodingKeys;
  const Members m(o, kPositionKeys);
  return decodeRecordField(m[K::point], at, *out.point());
}

DecodeStatus decodeInto(element v, const JsonPath& at, DistanceInfo& out) {
  object o;
  if (auto e = expectObject(v, at, o)) return e;
  using K = DistanceInfo::CodingKeys;
  const Members m(o, kDistanceInfoKeys);
  double line = 0;
  if (auto e = requiredDouble(m[K::line], at, line)) return e;
  out.setLine(line);
  return std::nullopt;
}

DecodeStatus decodeInto(element v, const JsonPath& at, PlaceInfo& out) {
  object o;
  if (auto e = expectObject(v, at, o)) return e;
  using K = PlaceInfo::CodingKeys;
  const Members m(o, kPlaceInfoKeys);
  std::string type, name;
  if (auto e = requiredText(m[K::type], at, type)) return e;
  if (auto e = requiredText(m[K::name], at, name)) return e;
  out.setType(std::move(type));
  out.setName(std::move(name));
  return decodeRecordField(m[K::distance], at, *out.distance());
}

DecodeStatus decodeInto(element v, const JsonPath& at, Address& out) {
  object o;
  if (auto e = expectObject(v, at, o)) return e;
  using K = Address::CodingKeys;
  const Members m(o, kAddressKeys);
  std::string type, name, code;
  if (auto e = requiredText(m[K::type], at, type)) return e;
  if (auto e = requiredText(m[K::name], at, name)) return e;
  if (auto e = requiredText(m[K::code], at, code)) return e;
  out.setType(std::move(type));
  out.setName(std::move(name));
  out.setCode(std::move(code));
  return std::nullopt;
}

DecodeStatus decodeInto(element v, const JsonPath& at, AddressInfo& out) {
  object o;
  if (auto e = expectObject(v, at, o)) return e;
  using K = AddressInfo::CodingKeys;
  const Members m(o, kAddressInfoKeys);
  std::string name;
  if (auto e = requiredText(m[K::name], at, name)) return e;
  element ctx;
  if (auto e = requiredField(m[K::context], at, ctx)) return e;
  std::vector<std::shared_ptr<Address>> context;
  if (auto e = decodeList(ctx, at.child("context"), context)) return e;
  out.setName(std::move(name));
  out.setContext(std::move(context));
  return std::nullopt;
}

DecodeStatus decodeInto(element v, const JsonPath& at, LocationDetail& out) {
  object o;
  if (auto e = expectObject(v, at, o)) return e;
  using K = LocationDetail::CodingKeys;
  const Members m(o, kLocationDetailKeys);
  element field;
  int64_t timestamp = 0;
  if (auto e = requiredField(m[K::timestamp], at, field)) return e;
  if (auto e = readInt64(field, at.child("timestamp"), timestamp)) return e;

  out.setTimestamp(timestamp);
  // Present optionals fill the fresh defaults; missing or null ones drop them.
  if (optionalField(m[K::address], field)) {
    if (auto e = decodeInto(field, at.child("address"), *out.address())) return e;
  } else {
    out.setAddress(nullptr);
  }
  if (optionalField(m[K::place], field)) {
    if (auto e = decodeInto(field, at.child("place"), *out.place())) return e;
  } else {
    out.setPlace(nullptr);
  }
  return decodeRecordField(m[K::position], at, *out.position());
}

DecodeStatus decodeInto(element v, const JsonPath& at, LocationRes& out) {
  object o;
  if (auto e = expectObject(v, at, o)) return e;
  using K = LocationRes::CodingKeys;
  const Members m(o, kLocationResKeys);
  std::string id, asset;
  if (auto e = requiredText(m[K::id], at, id)) return e;
  if (auto e = requiredText(m[K::asset], at, asset)) return e;
  out.setId(std::move(id));
  out.setAsset(std::move(asset));
  return decodeRecordField(m[K::location], at, *out.location());
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
