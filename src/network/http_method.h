// HTTP verbs and their wire texts.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace orv::detail {

enum class HTTPMethod : uint8_t { get, post, put, delete_, patch };

constexpr std::string_view rawValue(HTTPMethod method) {
  switch (method) {
    case HTTPMethod::get:
      return "GET";
    case HTTPMethod::post:
      return "POST";
    case HTTPMethod::put:
      return "PUT";
    case HTTPMethod::delete_:
      return "DELETE";
    case HTTPMethod::patch:
      return "PATCH";
  }
  return "GET";
}

// Exact, case-sensitive match with one of the wire texts.
constexpr std::optional<HTTPMethod> httpMethodFromString(std::string_view text) {
  for (auto m : {HTTPMethod::get, HTTPMethod::post, HTTPMethod::put, HTTPMethod::delete_,
                 HTTPMethod::patch}) {
    if (rawValue(m) == text) return m;
  }
  return std::nullopt;
}

}  // namespace orv::detail
