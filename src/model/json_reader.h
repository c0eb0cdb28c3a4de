// Strict reading of records from a simdjson DOM tree. A failure is an Error whose message names
// the kind and the path, e.g. "keyNotFound: location.address.context".
#pragma once

#include <simdjson.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "model/json_path.h"
#include "orv/result.h"

namespace orv::detail {

inline constexpr std::string_view kDecodingDomain = "DecodingError";
enum class DecodingErrorCode : int64_t {
  keyNotFound = 1,
  valueNotFound = 2,
  typeMismatch = 3,
  dataCorrupted = 4
};

// Empty when the step succeeded.
using DecodeStatus = std::optional<Error>;

Error decodeError(DecodingErrorCode code, const JsonPath& at, std::string_view detail = {});

// Parses `body` on this thread's reused parser and hands the root to `build`, whose result is
// returned. Records must copy what they keep: the tree is gone once `build` returns.
template <class T, class Build>
Result<T> withParsedDocument(std::string_view body, Build&& build);

DecodeStatus expectObject(simdjson::dom::element value, const JsonPath& at,
                          simdjson::dom::object& out);
// A required field: present and not null.
DecodeStatus requiredField(simdjson::dom::object obj, std::string_view key, const JsonPath& at,
                           simdjson::dom::element& out);
// An optional field: false when missing or null.
bool optionalField(simdjson::dom::object obj, std::string_view key, simdjson::dom::element& out);

// One member of an object, as matched by Members: its key and, when present, its value.
struct Member {
  std::string_view key;
  bool present = false;
  simdjson::dom::element value;
};

// An object's members matched against a record's keys in one pass, instead of one at_key scan
// per field. The first occurrence of a key wins, as with at_key; other keys are skipped.
class Members {
 public:
  static constexpr std::size_t kMaxKeys = 12;

  template <std::size_t N>
  Members(simdjson::dom::object obj, const std::array<std::string_view, N>& keys)
      : keys_(keys.data()), count_(N) {
    static_assert(N <= kMaxKeys);
    match(obj);
  }

  // `key` is the record's CodingKeys case; its value indexes the keys.
  template <class Key>
  Member operator[](Key key) const {
    const auto i = static_cast<std::size_t>(key);
    return Member{keys_[i], found_[i], values_[i]};
  }

 private:
  void match(simdjson::dom::object obj);

  const std::string_view* keys_;
  std::size_t count_;
  std::array<simdjson::dom::element, kMaxKeys> values_{};
  std::array<bool, kMaxKeys> found_{};
};

DecodeStatus requiredField(const Member& m, const JsonPath& at, simdjson::dom::element& out);
bool optionalField(const Member& m, simdjson::dom::element& out);
DecodeStatus requiredText(const Member& m, const JsonPath& at, std::string& out);
DecodeStatus requiredDouble(const Member& m, const JsonPath& at, double& out);

DecodeStatus readText(simdjson::dom::element value, const JsonPath& at, std::string& out);
DecodeStatus readDouble(simdjson::dom::element value, const JsonPath& at, double& out);
// A whole number within the signed 64-bit range (1.0 and 1e3 count, 1.5 does not).
DecodeStatus readInt64(simdjson::dom::element value, const JsonPath& at, int64_t& out);

DecodeStatus requiredText(simdjson::dom::object obj, std::string_view key, const JsonPath& at,
                          std::string& out);
DecodeStatus requiredDouble(simdjson::dom::object obj, std::string_view key, const JsonPath& at,
                            double& out);

// --- implementation of the template ---

// The parser behind withParsedDocument; documents above `kReusedCapacity` bytes get a
// short-lived parser so one huge reply does not pin its buffers to the thread.
inline constexpr std::size_t kReusedCapacity = std::size_t{1} << 20;
Result<simdjson::dom::element> parseDocument(std::string_view body, simdjson::dom::parser& parser,
                                             std::string& padded);
simdjson::dom::parser& threadParser();
std::string& threadBuffer();

template <class T, class Build>
Result<T> withParsedDocument(std::string_view body, Build&& build) {
  if (body.size() > kReusedCapacity) {
    simdjson::dom::parser parser;
    std::string padded;
    auto root = parseDocument(body, parser, padded);
    if (!root) return root.error();
    return std::forward<Build>(build)(root.value());
  }
  auto root = parseDocument(body, threadParser(), threadBuffer());
  if (!root) return root.error();
  return std::forward<Build>(build)(root.value());
}

}  // namespace orv::detail
