// Shared checks of the fuzz targets: a failed check aborts so libFuzzer keeps the input.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "orv/result.h"

namespace orv::fuzz {

inline void check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "check failed: %s\n", what);
    std::abort();
  }
}

// A decode failure must say what and where: "<kind>: <path>...".
inline void checkDecodeError(const Error& e) {
  const std::string_view m = e.message;
  check(e.domain == "DecodingError", "decode error domain");
  check(m.starts_with("keyNotFound: ") || m.starts_with("valueNotFound: ") ||
            m.starts_with("typeMismatch: ") || m.starts_with("dataCorrupted: "),
        "decode error message names its kind");
}

}  // namespace orv::fuzz
