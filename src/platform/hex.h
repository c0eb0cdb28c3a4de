// Bytes spelled as two hex digits: percent-encoding and ids in upper case, JSON escapes in lower.
#pragma once

#include <string>

namespace orv::detail {

enum class HexCase { upper, lower };

inline void appendHexByte(std::string& out, unsigned char byte, HexCase hexCase = HexCase::upper) {
  const char* digits = hexCase == HexCase::upper ? "0123456789ABCDEF" : "0123456789abcdef";
  out += digits[byte >> 4];
  out += digits[byte & 0x0F];
}

}  // namespace orv::detail
