// The one JSON writer, for request bodies and the records' encode(). Compact output; the first
// failure (a non-finite number, a text that is not UTF-8) is kept and ends the write.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "model/json_path.h"
#include "orv/result.h"

namespace orv::detail {

inline constexpr std::string_view kEncodingDomain = "EncodingError";
enum class EncodingErrorCode : int64_t { invalidValue = 1 };

class JsonWriter {
 public:
  JsonWriter() { out_.reserve(256); }

  void beginObject();
  void endObject();
  void beginArray();
  void endArray();
  // Keys are our own ASCII literals, written without checks.
  void key(std::string_view k);
  // A key that comes from elsewhere: escaped and checked like a string value.
  void escapedKey(std::string_view k, const JsonPath& at);
  // Escapes control characters, '"' and '\\'; fails when `v` is not valid UTF-8.
  void string(std::string_view v, const JsonPath& at);
  // Shortest text that reads back to the same double. A whole number keeps a ".0" so every
  // reader sees a floating-point number ("120.0", "-0.0"); large ones use an exponent.
  void number(double v, const JsonPath& at);
  void integer(int64_t v);
  void unsignedInteger(uint64_t v);
  void boolean(bool v);
  void null();
  // Marks the write failed with "invalidValue: <path> <what>" unless it already failed.
  void fail(const JsonPath& at, std::string_view what);

  bool failed() const { return error_.has_value(); }
  Result<std::string> finish() &&;

 private:
  void separate();
  // Appends `v` quoted and escaped; false (and the write failed) when it is not UTF-8.
  bool quoted(std::string_view v, const JsonPath& at);

  std::string out_;
  std::optional<Error> error_;
  std::vector<bool> open_;  // per open container: no value written yet
  bool afterKey_ = false;
};

}  // namespace orv::detail
