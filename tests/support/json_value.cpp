#include "json_value.h"

#include <cmath>
#include <cstdint>

namespace orv::detail {

using simdjson::dom::element;
using simdjson::dom::element_type;

namespace {

bool isNumber(element_type t) {
  return t == element_type::INT64 || t == element_type::UINT64 || t == element_type::DOUBLE;
}

// Integers compare exactly; only a comparison that involves a double goes through doubles.
bool sameNumber(element a, element b) {
  const element_type ta = a.type(), tb = b.type();
  if (ta == element_type::DOUBLE || tb == element_type::DOUBLE) {
    const double x = a.get_double().value_unsafe(), y = b.get_double().value_unsafe();
    return x == y && std::signbit(x) == std::signbit(y);
  }
  if (ta != tb) return false;  // INT64 and UINT64 ranges do not overlap in simdjson
  if (ta == element_type::INT64)
    return a.get_int64().value_unsafe() == b.get_int64().value_unsafe();
  return a.get_uint64().value_unsafe() == b.get_uint64().value_unsafe();
}

}  // namespace

void writeValue(JsonWriter& w, element value, const JsonPath& at) {
  switch (value.type()) {
    case element_type::OBJECT: {
      simdjson::dom::object obj;
      if (value.get(obj)) return;
      w.beginObject();
      for (auto field : obj) {
        w.escapedKey(field.key, at);
        writeValue(w, field.value, at.child(field.key));
      }
      w.endObject();
      return;
    }
    case element_type::ARRAY: {
      simdjson::dom::array items;
      if (value.get(items)) return;
      w.beginArray();
      std::size_t i = 0;
      for (element item : items) writeValue(w, item, at.element(i++));
      w.endArray();
      return;
    }
    case element_type::STRING:
      w.string(value.get_string().value_unsafe(), at);
      return;
    case element_type::INT64:
      w.integer(value.get_int64().value_unsafe());
      return;
    case element_type::UINT64:
      w.unsignedInteger(value.get_uint64().value_unsafe());
      return;
    case element_type::DOUBLE:
      w.number(value.get_double().value_unsafe(), at);
      return;
    case element_type::BOOL:
      w.boolean(value.get_bool().value_unsafe());
      return;
    case element_type::NULL_VALUE:
      w.null();
      return;
  }
}

bool sameValue(element a, element b) {
  if (isNumber(a.type()) && isNumber(b.type())) return sameNumber(a, b);
  if (a.type() != b.type()) return false;
  switch (a.type()) {
    case element_type::OBJECT: {
      simdjson::dom::object oa, ob;
      if (a.get(oa) || b.get(ob)) return false;
      if (oa.size() != ob.size()) return false;
      auto ib = ob.begin();
      for (auto field : oa) {
        if (field.key != (*ib).key || !sameValue(field.value, (*ib).value)) return false;
        ++ib;
      }
      return true;
    }
    case element_type::ARRAY: {
      simdjson::dom::array xa, xb;
      if (a.get(xa) || b.get(xb)) return false;
      if (xa.size() != xb.size()) return false;
      auto ib = xb.begin();
      for (element item : xa) {
        if (!sameValue(item, *ib)) return false;
        ++ib;
      }
      return true;
    }
    case element_type::STRING:
      return a.get_string().value_unsafe() == b.get_string().value_unsafe();
    case element_type::BOOL:
      return a.get_bool().value_unsafe() == b.get_bool().value_unsafe();
    default:
      return true;  // null
  }
}

}  // namespace orv::detail
