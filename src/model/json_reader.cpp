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

bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isNumberChar(char c) {
  return isDigit(c) || c == '-' || c == '+' || c == '.' || c == 'e' || c == 'E';
}

// Whether the integer text `digits` (no sign, no leading zero) lies beyond what simdjson reads
// as an integer: above UINT64_MAX, or below INT64_MIN when negative.
bool beyond64Bits(std::string_view digits, bool negative) {
  const std::string_view limit = negative ? "9223372036854775808" : "18446744073709551615";
  if (digits.size() != limit.size()) return digits.size() > limit.size();
  return digits > limit;
}

// JSON allows integers of any size; simdjson refuses those beyond 64 bits. Writes `body` with
// ".0" after each such integer, so it parses as the double it stands for (a double field takes it,
// an ignored key skips it, an integer field reports it out of range). Returns false when there is
// none. Text that is not JSON stays not JSON.
bool bigIntegersAsDoubles(std::string_view body, std::string& out) {
  out.clear();
  bool changed = false;
  bool inString = false;
  for (std::size_t i = 0; i < body.size();) {
    const char c = body[i];
    if (inString) {
      out += c;
      if (c == '\\' && i + 1 < body.size()) out += body[++i];
      if (c == '"') inString = false;
      ++i;
      continue;
    }
    if (c == '"') inString = true;
    if (c != '-' && !isDigit(c)) {
      out += c;
      ++i;
      continue;
    }
    std::size_t end = i;
    while (end < body.size() && isNumberChar(body[end])) ++end;
    const std::string_view token = body.substr(i, end - i);
    out += token;
    const bool negative = token.front() == '-';
    const std::string_view digits = token.substr(negative ? 1 : 0);
    if (!digits.empty() && digits.front() != '0' &&
        digits.find_first_not_of("0123456789") == std::string_view::npos &&
        beyond64Bits(digits, negative)) {
      out += ".0";
      changed = true;
    }
    i = end;
  }
  return changed;
}

simdjson::error_code parseInto(std::string_view body, simdjson::dom::parser& parser,
                               std::string& padded, simdjson::dom::element& root) {
  // simdjson reads up to SIMDJSON_PADDING bytes past the end: parse a zero-padded copy.
  padded.resize(body.size() + simdjson::SIMDJSON_PADDING);
  if (!body.empty()) std::memcpy(padded.data(), body.data(), body.size());
  std::memset(padded.data() + body.size(), 0, simdjson::SIMDJSON_PADDING);
  return parser.parse(padded.data(), body.size(), false).get(root);
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
  simdjson::dom::element root;
  auto err = parseInto(body, parser, padded, root);
  if (err == simdjson::NUMBER_ERROR) {
    std::string rewritten;
    if (bigIntegersAsDoubles(body, rewritten)) err = parseInto(rewritten, parser, padded, root);
  }
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
