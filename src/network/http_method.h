// HTTP verbs and their wire texts.
#pragma once

#include <cstdint>
#include <string_view>

namespace orv::detail {

// The service is read with GET and written with POST; the transport also knows DELETE.
enum class HTTPMethod : uint8_t { get, post, delete_ };

constexpr std::string_view rawValue(HTTPMethod method) {
  switch (method) {
    case HTTPMethod::get:
      return "GET";
    case HTTPMethod::post:
      return "POST";
    case HTTPMethod::delete_:
      return "DELETE";
  }
  return "GET";
}

}  // namespace orv::detail
