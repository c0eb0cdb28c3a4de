// The four operations every result record shares: key texts, key lookup, encode and decode.
#pragma once

#include "model/record_codec.h"

#define ORV_DEFINE_RECORD_COMMON(Record, ...)                                          \
  namespace {                                                                          \
  constexpr std::array<std::string_view,                                               \
                       std::initializer_list<std::string_view>{__VA_ARGS__}.size()>    \
      k##Record##Keys{__VA_ARGS__};                                                    \
  }                                                                                    \
  std::string_view Record::toString(CodingKeys key) {                                  \
    return detail::keyText(k##Record##Keys, key);                                      \
  }                                                                                    \
  std::optional<Record::CodingKeys> Record::fromString(std::string_view text) {        \
    return detail::keyFromText<CodingKeys>(k##Record##Keys, text);                     \
  }                                                                                    \
  Result<std::string> Record::encode() const { return detail::encodeDocument(*this); } \
  Result<std::shared_ptr<Record>> Record::decode(std::string_view json) {              \
    return detail::decodeDocument<Record>(json);                                       \
  }
