// Reading and writing the result records inside a larger tree; the public decode()/encode()
// wrap these for whole documents.
#pragma once

#include <simdjson.h>

#include <array>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "model/json_path.h"
#include "model/json_reader.h"
#include "model/json_writer.h"
#include "orv/geocode_res.h"
#include "orv/location_res.h"

namespace orv::detail {

DecodeStatus decodeInto(simdjson::dom::element v, const JsonPath& at, OrvPoint& out);
DecodeStatus decodeInto(simdjson::dom::element v, const JsonPath& at, Position& out);
DecodeStatus decodeInto(simdjson::dom::element v, const JsonPath& at, DistanceInfo& out);
DecodeStatus decodeInto(simdjson::dom::element v, const JsonPath& at, PlaceInfo& out);
DecodeStatus decodeInto(simdjson::dom::element v, const JsonPath& at, Address& out);
DecodeStatus decodeInto(simdjson::dom::element v, const JsonPath& at, AddressInfo& out);
DecodeStatus decodeInto(simdjson::dom::element v, const JsonPath& at, LocationDetail& out);
DecodeStatus decodeInto(simdjson::dom::element v, const JsonPath& at, LocationRes& out);
DecodeStatus decodeInto(simdjson::dom::element v, const JsonPath& at, OrvCategory& out);
DecodeStatus decodeInto(simdjson::dom::element v, const JsonPath& at, AddressContext& out);
DecodeStatus decodeInto(simdjson::dom::element v, const JsonPath& at, GeocodeRes& out);

void encodeTo(JsonWriter& w, const JsonPath& at, const OrvPoint& r);
void encodeTo(JsonWriter& w, const JsonPath& at, const Position& r);
void encodeTo(JsonWriter& w, const JsonPath& at, const DistanceInfo& r);
void encodeTo(JsonWriter& w, const JsonPath& at, const PlaceInfo& r);
void encodeTo(JsonWriter& w, const JsonPath& at, const Address& r);
void encodeTo(JsonWriter& w, const JsonPath& at, const AddressInfo& r);
void encodeTo(JsonWriter& w, const JsonPath& at, const LocationDetail& r);
void encodeTo(JsonWriter& w, const JsonPath& at, const LocationRes& r);
void encodeTo(JsonWriter& w, const JsonPath& at, const OrvCategory& r);
void encodeTo(JsonWriter& w, const JsonPath& at, const AddressContext& r);
void encodeTo(JsonWriter& w, const JsonPath& at, const GeocodeRes& r);

// A required nested record. Hosts may store an empty pointer; that fails the write, not crashes.
template <class T>
void encodeRecord(JsonWriter& w, const JsonPath& at, const std::shared_ptr<T>& r) {
  if (!r) {
    w.fail(at, "is an empty record");
    return;
  }
  encodeTo(w, at, *r);
}

// A required nested record. decodeInto fills a record that was just default-constructed, so its
// nested defaults are new, unshared objects and are filled in place; on failure the whole fresh
// tree is dropped by the caller.
template <class T>
DecodeStatus decodeRecordField(const Member& m, const JsonPath& at, T& out) {
  simdjson::dom::element v;
  if (auto e = requiredField(m, at, v)) return e;
  return decodeInto(v, at.child(m.key), out);
}

// A JSON array whose every element decodes as a new T, kept in array order.
template <class T>
DecodeStatus decodeList(simdjson::dom::element v, const JsonPath& at,
                        std::vector<std::shared_ptr<T>>& out) {
  simdjson::dom::array items;
  if (v.get_array().get(items)) {
    return decodeError(DecodingErrorCode::typeMismatch, at, "expected array");
  }
  out.reserve(items.size());
  std::size_t i = 0;
  for (simdjson::dom::element item : items) {
    auto record = std::make_shared<T>();
    if (auto e = decodeInto(item, at.element(i++), *record)) return e;
    out.push_back(std::move(record));
  }
  return std::nullopt;
}

// Decodes `json` as one whole record of type T.
template <class T>
Result<std::shared_ptr<T>> decodeDocument(std::string_view json) {
  return withParsedDocument<std::shared_ptr<T>>(
      json, [](simdjson::dom::element root) -> Result<std::shared_ptr<T>> {
        auto record = std::make_shared<T>();
        if (auto e = decodeInto(root, JsonPath{}, *record)) return std::move(*e);
        return record;
      });
}

template <class T>
Result<std::string> encodeDocument(const T& record) {
  JsonWriter w;
  encodeTo(w, JsonPath{}, record);
  return std::move(w).finish();
}

// CodingKeys text forms: the enum's cases index the table of JSON keys.
template <class Key, std::size_t N>
std::string_view keyText(const std::array<std::string_view, N>& keys, Key key) {
  return keys[static_cast<std::size_t>(key)];
}

template <class Key, std::size_t N>
std::optional<Key> keyFromText(const std::array<std::string_view, N>& keys, std::string_view text) {
  for (std::size_t i = 0; i < N; ++i) {
    if (keys[i] == text) return static_cast<Key>(i);
  }
  return std::nullopt;
}

}  // namespace orv::detail
