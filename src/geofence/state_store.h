// The fences' state on disk, so a restarted monitor resumes instead of repeating events.
//
// Only fences that are inside have a row: not inside and unknown behave alike. Each fix's changes
// are written in one transaction before its events are handed out.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "orv/result.h"

struct sqlite3;

namespace orv::detail {

struct FenceState {
  bool inside = false;
  bool dwellReported = false;
  double since = 0.0;  // seconds since the epoch of the stay's enter
};

struct StateChange {
  std::string_view id;
  FenceState state;
};

class StateStore {
 public:
  // Opens or creates the file. A file of another version, or not a state file, is refused.
  static Result<std::unique_ptr<StateStore>> open(const std::string& path);
  ~StateStore();
  StateStore(const StateStore&) = delete;
  StateStore& operator=(const StateStore&) = delete;

  std::optional<FenceState> load(std::string_view id);
  // All changes or none.
  std::optional<Error> save(const std::vector<StateChange>& changes);
  std::optional<Error> erase(std::string_view id);

 private:
  explicit StateStore(sqlite3* db) : db_(db) {}
  sqlite3* db_;
};

}  // namespace orv::detail
