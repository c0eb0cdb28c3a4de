// A small result type for the network tests, decoded strictly like the wire model's records.
#pragma once

#include <simdjson.h>

#include <string>
#include <string_view>

#include "network/network_client.h"

namespace orv::test {
struct Echo {
  std::string text;
};
}  // namespace orv::test

template <>
struct orv::detail::JsonDecode<orv::test::Echo> {
  static Result<orv::test::Echo> decode(std::string_view json) {
    simdjson::dom::parser parser;
    std::string_view text;
    auto err = parser.parse(json.data(), json.size())["text"].get_string().get(text);
    if (err != simdjson::SUCCESS) return Error{"JSON", err, simdjson::error_message(err)};
    return orv::test::Echo{std::string(text)};
  }
};
