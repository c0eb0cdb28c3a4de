#include "model/json_writer.h"

#include <simdjson.h>

#include <charconv>
#include <cmath>
#include <utility>

#include "platform/hex.h"

namespace orv::detail {

std::string JsonPath::toString() const {
  std::vector<const JsonPath*> chain;
  for (const JsonPath* p = this; p != nullptr && p->parent != nullptr; p = p->parent) {
    chain.push_back(p);
  }
  if (chain.empty()) return "top level";
  std::string out;
  for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
    if ((*it)->index >= 0) {
      out += '[';
      out += std::to_string((*it)->index);
      out += ']';
    } else {
      if (!out.empty()) out += '.';
      out += (*it)->key;
    }
  }
  return out;
}

void JsonWriter::separate() {
  if (afterKey_) {
    afterKey_ = false;
    return;
  }
  if (!open_.empty()) {
    if (!open_.back()) out_ += ',';
    open_.back() = false;
  }
}

void JsonWriter::beginObject() {
  separate();
  out_ += '{';
  open_.push_back(true);
}

void JsonWriter::endObject() {
  out_ += '}';
  open_.pop_back();
}

void JsonWriter::beginArray() {
  separate();
  out_ += '[';
  open_.push_back(true);
}

void JsonWriter::endArray() {
  out_ += ']';
  open_.pop_back();
}

void JsonWriter::key(std::string_view k) {
  separate();
  out_ += '"';
  out_ += k;
  out_ += "\":";
  afterKey_ = true;
}

void JsonWriter::escapedKey(std::string_view k, const JsonPath& at) {
  separate();
  if (!quoted(k, at)) return;
  out_ += ':';
  afterKey_ = true;
}

void JsonWriter::string(std::string_view v, const JsonPath& at) {
  separate();
  quoted(v, at);
}

bool JsonWriter::quoted(std::string_view v, const JsonPath& at) {
  if (!simdjson::validate_utf8(v.data(), v.size())) {
    fail(at, "is not valid UTF-8");
    return false;
  }
  out_ += '"';
  std::size_t plain = 0;  // start of the run of bytes copied as they are
  for (std::size_t i = 0; i < v.size(); ++i) {
    const auto c = static_cast<unsigned char>(v[i]);
    if (c >= 0x20 && c != '"' && c != '\\') continue;
    out_.append(v.data() + plain, i - plain);
    plain = i + 1;
    switch (c) {
      case '"':
        out_ += "\\\"";
        break;
      case '\\':
        out_ += "\\\\";
        break;
      case '\n':
        out_ += "\\n";
        break;
      case '\r':
        out_ += "\\r";
        break;
      case '\t':
        out_ += "\\t";
        break;
      case '\b':
        out_ += "\\b";
        break;
      case '\f':
        out_ += "\\f";
        break;
      default:
        out_ += "\\u00";
        appendHexByte(out_, c, HexCase::lower);
    }
  }
  out_.append(v.data() + plain, v.size() - plain);
  out_ += '"';
  return true;
}

void JsonWriter::number(double v, const JsonPath& at) {
  separate();
  if (!std::isfinite(v)) {
    fail(at, "is not a finite number");
    return;
  }
  char buf[32];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v);
  std::string_view text(buf, static_cast<std::size_t>(end - buf));
  out_ += text;
  if (text.find_first_of(".e") == std::string_view::npos) out_ += ".0";
}

namespace {

template <class Int>
void appendInteger(std::string& out, Int v) {
  char buf[24];  // room for any 64-bit integer with its sign
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v);
  out.append(buf, end);
}

}  // namespace

void JsonWriter::integer(int64_t v) {
  separate();
  appendInteger(out_, v);
}

void JsonWriter::unsignedInteger(uint64_t v) {
  separate();
  appendInteger(out_, v);
}

void JsonWriter::boolean(bool v) {
  separate();
  out_ += v ? "true" : "false";
}

void JsonWriter::null() {
  separate();
  out_ += "null";
}

void JsonWriter::fail(const JsonPath& at, std::string_view what) {
  if (error_) return;
  std::string message = "invalidValue: ";
  message += at.toString();
  message += ' ';
  message += what;
  error_ = Error{std::string(kEncodingDomain),
                 static_cast<int64_t>(EncodingErrorCode::invalidValue), std::move(message)};
}

Result<std::string> JsonWriter::finish() && {
  if (error_) return std::move(*error_);
  return std::move(out_);
}

}  // namespace orv::detail
