// HTTP verbs and their wire texts.
#pragma once

#include <cstdint>
#include <string_view>

namespace orv::detail {

// The service is read with GET and written with POST.
enum class HTTPMethod : uint8_t { get, post };

constexpr std::string_view rawValue(HTTPMethod method) {
  switch (method) {
    case HTTPMethod::get:
      return "GET";
    case HTTPMethod::post:
      return "POST";
  }
  return "GET";
}

}  // namespace orv::detail
