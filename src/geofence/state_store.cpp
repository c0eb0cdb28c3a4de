// Fence state in SQLite, WAL mode, synchronous commits: a commit that returned survives a kill
// or a power cut, and a kill mid-commit leaves the previous state.
#include "geofence/state_store.h"

#include <sqlite3.h>

#include <string>

#include "orv/geofence.h"

namespace orv::detail {
namespace {

constexpr int kApplicationId = 0x4F525646;  // "ORVF"
constexpr int kVersion = 1;

Error stateError(const std::string& what) {
  return Error{std::string(kGeofenceErrorDomain),
               static_cast<int64_t>(GeofenceErrorCode::stateFile), "geofence state file: " + what};
}

Error sqliteError(sqlite3* db, const std::string& what) {
  return stateError(what + ": " + (db ? sqlite3_errmsg(db) : "out of memory"));
}

// Runs a statement that yields at most one integer (or text) and returns it.
bool queryOne(sqlite3* db, const char* sql, int& intOut, std::string* textOut = nullptr) {
  sqlite3_stmt* st = nullptr;
  if (sqlite3_prepare_v2(db, sql, -1, &st, nullptr) != SQLITE_OK) return false;
  const int rc = sqlite3_step(st);
  if (rc == SQLITE_ROW) {
    intOut = sqlite3_column_int(st, 0);
    if (textOut) {
      const auto* txt = sqlite3_column_text(st, 0);
      *textOut = txt ? reinterpret_cast<const char*>(txt) : "";
    }
  }
  sqlite3_finalize(st);
  return rc == SQLITE_ROW || rc == SQLITE_DONE;
}

class Statement {
 public:
  Statement(sqlite3* db, const char* sql) { sqlite3_prepare_v2(db, sql, -1, &st_, nullptr); }
  ~Statement() { sqlite3_finalize(st_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  sqlite3_stmt* get() const { return st_; }
  explicit operator bool() const { return st_ != nullptr; }

 private:
  sqlite3_stmt* st_ = nullptr;
};

}  // namespace

Result<std::unique_ptr<StateStore>> StateStore::open(const std::string& path) {
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) !=
      SQLITE_OK) {
    Error e = sqliteError(db, "cannot open " + path);
    sqlite3_close(db);
    return e;
  }
  std::unique_ptr<StateStore> store(new StateStore(db));
  sqlite3_busy_timeout(db, 2000);
  int appId = 0, version = 0, tables = 0;
  std::string check;
  if (!queryOne(db, "PRAGMA application_id", appId) ||
      !queryOne(db, "SELECT count(*) FROM sqlite_master", tables)) {
    return sqliteError(db, path + " is corrupt or not a state file");
  }
  if (appId == 0 && tables == 0) {
    const std::string init = "PRAGMA application_id=" + std::to_string(kApplicationId) +
                             ";PRAGMA user_version=" + std::to_string(kVersion) +
                             ";CREATE TABLE fence_state(id TEXT PRIMARY KEY, dwell_reported "
                             "INTEGER NOT NULL, since REAL NOT NULL) WITHOUT ROWID;";
    if (sqlite3_exec(db, init.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) {
      return sqliteError(db, "cannot create " + path);
    }
  } else if (appId != kApplicationId) {
    return stateError(path + " is not a geofence state file");
  }
  int dummy = 0;
  if (!queryOne(db, "PRAGMA user_version", version)) return sqliteError(db, "cannot read " + path);
  if (version != kVersion) {
    return stateError(path + " has version " + std::to_string(version) +
                      "; this library reads version " + std::to_string(kVersion));
  }
  if (!queryOne(db, "PRAGMA quick_check", dummy, &check) || check != "ok") {
    return stateError(path + " is corrupt (" + check + ")");
  }
  std::string mode;
  if (!queryOne(db, "PRAGMA journal_mode=WAL", dummy, &mode) || mode != "wal" ||
      sqlite3_exec(db, "PRAGMA synchronous=FULL", nullptr, nullptr, nullptr) != SQLITE_OK) {
    return sqliteError(db, "cannot switch " + path + " to WAL mode");
  }
  return store;
}

StateStore::~StateStore() { sqlite3_close(db_); }

std::optional<FenceState> StateStore::load(std::string_view id) {
  Statement st(db_, "SELECT dwell_reported, since FROM fence_state WHERE id=?");
  if (!st) return std::nullopt;
  sqlite3_bind_text(st.get(), 1, id.data(), static_cast<int>(id.size()), SQLITE_TRANSIENT);
  if (sqlite3_step(st.get()) != SQLITE_ROW) return std::nullopt;
  return FenceState{true, sqlite3_column_int(st.get(), 0) != 0, sqlite3_column_double(st.get(), 1)};
}

std::optional<Error> StateStore::save(const std::vector<StateChange>& changes) {
  if (sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK) {
    return sqliteError(db_, "cannot write");
  }
  Statement put(db_, "INSERT OR REPLACE INTO fence_state(id, dwell_reported, since) VALUES(?,?,?)");
  Statement del(db_, "DELETE FROM fence_state WHERE id=?");
  bool ok = put && del;
  for (const StateChange& c : changes) {
    if (!ok) break;
    sqlite3_stmt* st = c.state.inside ? put.get() : del.get();
    sqlite3_bind_text(st, 1, c.id.data(), static_cast<int>(c.id.size()), SQLITE_TRANSIENT);
    if (c.state.inside) {
      sqlite3_bind_int(st, 2, c.state.dwellReported ? 1 : 0);
      sqlite3_bind_double(st, 3, c.state.since);
    }
    ok = sqlite3_step(st) == SQLITE_DONE;
    sqlite3_reset(st);
  }
  if (!ok || sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK) {
    Error e = sqliteError(db_, "cannot write");
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    return e;
  }
  return std::nullopt;
}

std::optional<Error> StateStore::erase(std::string_view id) {
  return save({StateChange{id, FenceState{}}});
}

}  // namespace orv::detail
