#include "model/json_reader.h"

#include <cmath>
#include <cstring>

namespace orv::detail {

namespace {

constexpr std::string_view kindName(DecodingErrorCode code) {
  switch (code) {
    case DecodingErrorCode::keyNotFound:
      return "keyNotFound";
    case DecodingErrorCode::valueNotFound:
      return "valueNotFound";
    case DecodingErrorCode::typeMismatch:
      return "typeMismatch";
    case DecodingErrorCode::dataCorrupted:
      return "dataCorrupted";
  }
  return "dataCorrupted";
}

// A single member looked up by key, for readers that take one field at a time.
Member memberAt(simdjson::dom::object obj, std::string_view key) {
  Member m;
  m.key = key;
  m.present = !obj.at_key(key).get(m.value);
  return m;
}

}  // namespace

Error decodeError(DecodingErrorCode code, const JsonPath& at, std::string_view detail) {
  std::string message(kindName(code));
  message += ": ";
  message += at.toString();
  if (!detail.empty()) {
    message += ' ';
    message += detail;
  }
  return Error{std::string(kDecodingDomain), static_cast<int64_t>(code), std::move(message)};
}

simdjson::dom::parser& threadParser() {
  thread_local simdjson::dom::parser parser;
  return parser;
}

std::string& threadBuffer() {
  thread_local std::string buffer;
  return buffer;
}

Result<simdjson::dom::element> parseDocument(std::string_view body, simdjson::dom::parser& parser,
                                             std::string& padded) {
  // simdjson reads up to SIMDJSON_PADDING bytes past the end: parse a zero-padded copy.
  padded.resize(body.size() + simdjson::SIMDJSON_PADDING);
  if (!body.empty()) std::memcpy(padded.data(), body.data(), body.size());
  std::memset(padded.data() + body.size(), 0, simdjson::SIMDJSON_PADDING);
  simdjson::dom::element root;
  auto err = parser.parse(padded.data(), body.size(), false).get(root);
  if (err) {
    std::string detail = "invalid JSON: ";
    detail += simdjson::error_message(err);
    return decodeError(DecodingErrorCode::dataCorrupted, JsonPath{}, detail);
  }
  return root;
}

DecodeStatus expectObject(simdjson::dom::element value, const JsonPath& at,
                          simdjson::dom::object& out) {
  if (value.get_object().get(out)) {
    return decodeError(DecodingErrorCode::typeMismatch, at, "expected object");
  }
  return std::nullopt;
}

DecodeStatus requiredField(simdjson::dom::object obj, std::string_view key, const JsonPath& at,
                           simdjson::dom::element& out) {
  return requiredField(memberAt(obj, key), at, out);
}

bool optionalField(simdjson::dom::object obj, std::string_view key, simdjson::dom::element& out) {
  return optionalField(memberAt(obj, key), out);
}

void Members::match(simdjson::dom::object obj) {
  std::size_t left = count_;
  std::size_t next = 0;  // replies mostly list the keys in field order: try that one first
  for (auto field : obj) {
    std::size_t i = next;
    for (std::size_t tried = 0; tried < count_; ++tried, i = (i + 1 == count_ ? 0 : i + 1)) {
      if (keys_[i] != field.key) continue;
      if (!found_[i]) {
        found_[i] = true;
        values_[i] = field.value;
        --left;
      }
      next = i + 1 == count_ ? 0 : i + 1;
      break;
    }
    if (left == 0) break;  // later members are unknown keys or duplicates, which lose anyway
  }
}

DecodeStatus requiredField(const Member& m, const JsonPath& at, simdjson::dom::element& out) {
  if (!m.present) return decodeError(DecodingErrorCode::keyNotFound, at.child(m.key));
  if (m.value.is_null()) return decodeError(DecodingErrorCode::valueNotFound, at.child(m.key));
  out = m.value;
  return std::nullopt;
}

bool optionalField(const Member& m, simdjson::dom::element& out) {
  if (!m.present || m.value.is_null()) return false;
  out = m.value;
  return true;
}

DecodeStatus requiredText(const Member& m, const JsonPath& at, std::string& out) {
  simdjson::dom::element v;
  if (auto e = requiredField(m, at, v)) return e;
  return readText(v, at.child(m.key), out);
}

DecodeStatus requiredDouble(const Member& m, const JsonPath& at, double& out) {
  simdjson::dom::element v;
  if (auto e = requiredField(m, at, v)) return e;
  return readDouble(v, at.child(m.key), out);
}

DecodeStatus readText(simdjson::dom::element value, const JsonPath& at, std::string& out) {
  std::string_view text;
  if (value.get_string().get(text)) {
    return decodeError(DecodingErrorCode::typeMismatch, at, "expected string");
  }
  out.assign(text);
  return std::nullopt;
}

DecodeStatus readDouble(simdjson::dom::element value, const JsonPath& at, double& out) {
  if (!value.is_number() || value.get_double().get(out)) {
    return decodeError(DecodingErrorCode::typeMismatch, at, "expected number");
  }
  return std::nullopt;
}

DecodeStatus readInt64(simdjson::dom::element value, const JsonPath& at, int64_t& out) {
  switch (value.type()) {
    case simdjson::dom::element_type::INT64:
      out = value.get_int64().value_unsafe();
      return std::nullopt;
    case simdjson::dom::element_type::UINT64:  // only above INT64_MAX
      return decodeError(DecodingErrorCode::dataCorrupted, at, "out of the 64-bit integer range");
    case simdjson::dom::element_type::DOUBLE: {
      const double d = value.get_double().value_unsafe();
      // [-2^63, 2^63) holds exactly the doubles that convert to int64 without overflow.
      if (std::trunc(d) != d) {
        return decodeError(DecodingErrorCode::typeMismatch, at, "expected whole number");
      }
      if (!(d >= -9223372036854775808.0 && d < 9223372036854775808.0)) {
        return decodeError(DecodingErrorCode::dataCorrupted, at, "out of the 64-bit integer range");
      }
      out = static_cast<int64_t>(d);
      return std::nullopt;
    }
    default:
      return decodeError(DecodingErrorCode::typeMismatch, at, "expected number");
  }
}

DecodeStatus requiredText(simdjson::dom::object obj, std::string_view key, const JsonPath& at,
                          std::string& out) {
  return requiredText(memberAt(obj, key), at, out);
}

DecodeStatus requiredDouble(simdjson::dom::object obj, std::string_view key, const JsonPath& at,
                            double& out) {
  return requiredDouble(memberAt(obj, key), at, out);
}

}  // namespace orv::detail
