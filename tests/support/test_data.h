// The shared test data, read in place. CI names the folder in ORV_TESTDATA_DIR, and then it must
// be there; otherwise the folder beside the source tree is used when present, and tests that need
// it skip (a fresh clone has no such folder).
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

namespace orv::test {

// `sub` inside the test data folder, or nothing with `skipReason` set. A folder named explicitly
// but missing is a failure, not a skip.
inline std::optional<std::filesystem::path> testData(const std::string& sub,
                                                     std::string& skipReason) {
  const char* named = std::getenv("ORV_TESTDATA_DIR");
  const std::filesystem::path dir =
      std::filesystem::path(named && *named ? named : ORV_TESTDATA_DIR) / sub;
  if (std::filesystem::exists(dir)) return dir;
  skipReason = "test data " + dir.string() +
               " is absent (set ORV_TESTDATA_DIR to the shared testdata folder to run this)";
  if (named && *named) ADD_FAILURE() << "ORV_TESTDATA_DIR is set but " << dir << " is missing";
  return std::nullopt;
}

}  // namespace orv::test
