#include <initializer_list>

#include "model/record_common.h"
#include "orv/geocode_res.h"

namespace orv {

ORV_DEFINE_RECORD_COMMON(OrvCategory, "id", "name")
ORV_DEFINE_RECORD_COMMON(AddressContext, "type", "name", "code")
ORV_DEFINE_RECORD_COMMON(GeocodeRes, "id", "geoPoint", "type", "name", "code", "categories",
                         "address", "relevance", "distance")

Result<std::vector<std::shared_ptr<GeocodeRes>>> decodeGeocodeList(std::string_view json) {
  using List = std::vector<std::shared_ptr<GeocodeRes>>;
  return detail::withParsedDocument<List>(json, [](simdjson::dom::element root) -> Result<List> {
    List list;
    if (auto e = detail::decodeList(root, detail::JsonPath{}, list)) return std::move(*e);
    return list;
  });
}

}  // namespace orv

namespace orv::detail {

using simdjson::dom::element;
using simdjson::dom::object;

DecodeStatus decodeInto(element v, const JsonPath& at, OrvCategory& out) {
  object o;
  if (auto e = expectObject(v, at, o)) return e;
  using K = OrvCategory::CodingKeys;
  const Members m(o, kOrvCategoryKeys);
  std::string id, name;
  if (auto e = requiredText(m[K::id], at, id)) return e;
  if (auto e = requiredText(m[K::name], at, name)) return e;
  out.setId(std::move(id));
  out.setName(std::move(name));
  return std::nullopt;
}

DecodeStatus decodeInto(element v, const JsonPath& at, AddressContext& out) {
  object o;
  if (auto e = expectObject(v, at, o)) return e;
  using K = AddressContext::CodingKeys;
  const Members m(o, kAddressContextKeys);
  std::string type, name, code;
  if (auto e = requiredText(m[K::type], at, type)) return e;
  if (auto e = requiredText(m[K::name], at, name)) return e;
  if (auto e = requiredText(m[K::code], at, code)) return e;
  out.setType(std::move(type));
  out.setName(std::move(name));
  out.setCode(std::move(code));
  return std::nullopt;
}

DecodeStatus decodeInto(element v, const JsonPath& at, GeocodeRes& out) {
  object o;
  if (auto e = expectObject(v, at, o)) return e;
  using K = GeocodeRes::CodingKeys;
  const Members m(o, kGeocodeResKeys);
  std::string id, geoPoint, type, name, code;
  if (auto e = requiredText(m[K::id], at, id)) return e;
  if (auto e = requiredText(m[K::geoPoint], at, geoPoint)) return e;
  if (auto e = requiredText(m[K::type], at, type)) return e;
  if (auto e = requiredText(m[K::name], at, name)) return e;
  if (auto e = requiredText(m[K::code], at, code)) return e;

  std::optional<GeocodeRes::Categories> categories;
  element field;
  if (optionalField(m[K::categories], field)) {
    if (auto e = decodeList(field, at.child("categories"), categories.emplace())) return e;
  }
  if (auto e = decodeRecordField(m[K::address], at, *out.address())) return e;
  double relevance = 0, distance = 0;
  if (auto e = requiredDouble(m[K::relevance], at, relevance)) return e;
  if (auto e = requiredDouble(m[K::distance], at, distance)) return e;

  out.setId(std::move(id));
  out.setGeoPoint(std::move(geoPoint));
  out.setType(std::move(type));
  out.setName(std::move(name));
  out.setCode(std::move(code));
  out.setCategories(std::move(categories));
  out.setRelevance(relevance);
  out.setDistance(distance);
  return std::nullopt;
}

void encodeTo(JsonWriter& w, const JsonPath& at, const OrvCategory& r) {
  w.beginObject();
  w.key("id");
  w.string(r.id(), at.child("id"));
  w.key("name");
  w.string(r.name(), at.child("name"));
  w.endObject();
}

void encodeTo(JsonWriter& w, const JsonPath& at, const AddressContext& r) {
  w.beginObject();
  w.key("type");
  w.string(r.type(), at.child("type"));
  w.key("name");
  w.string(r.name(), at.child("name"));
  w.key("code");
  w.string(r.code(), at.child("code"));
  w.endObject();
}

void encodeTo(JsonWriter& w, const JsonPath& at, const GeocodeRes& r) {
  w.beginObject();
  w.key("id");
  w.string(r.id(), at.child("id"));
  w.key("geoPoint");
  w.string(r.geoPoint(), at.child("geoPoint"));
  w.key("type");
  w.string(r.type(), at.child("type"));
  w.key("name");
  w.string(r.name(), at.child("name"));
  w.key("code");
  w.string(r.code(), at.child("code"));
  if (r.categories()) {
    const JsonPath catPath = at.child("categories");
    w.key("categories");
    w.beginArray();
    for (std::size_t i = 0; i < r.categories()->size() && !w.failed(); ++i) {
      encodeRecord(w, catPath.element(i), (*r.categories())[i]);
    }
    w.endArray();
  }
  w.key("address");
  encodeRecord(w, at.child("address"), r.address());
  w.key("relevance");
  w.number(r.relevance(), at.child("relevance"));
  w.key("distance");
  w.number(r.distance(), at.child("distance"));
  w.endObject();
}

}  // namespace orv::detail
