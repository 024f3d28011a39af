#include "support/raw_sqlite.h"

#include <cstdio>
#include <random>

#include "support/bench_farm.h"

namespace feroq::bench {
namespace {

// The raw table: an application row as small as it can be while it keeps
// what the farm needs (its folder, its name for lookups, unique in the
// folder, and the record), and the event log. guarded_items is the row as
// the farm's rules shape it: the browser name's key unique in the farm and
// the display name's key unique in the folder, each index with the column
// that lets an old file's duplicates stay (0 for a name a row holds).
constexpr char kRawSchema[] =
    "PRAGMA journal_mode = WAL; PRAGMA synchronous = NORMAL;"
    "CREATE TABLE IF NOT EXISTS items(id INTEGER PRIMARY KEY, folder INTEGER NOT NULL, name TEXT NOT NULL,"
    " record BLOB NOT NULL);"
    "CREATE UNIQUE INDEX IF NOT EXISTS items_by_name ON items(folder, name);"
    "CREATE TABLE IF NOT EXISTS events(seq INTEGER PRIMARY KEY, type INTEGER NOT NULL, ids BLOB NOT NULL);"
    "CREATE TABLE IF NOT EXISTS guarded_items(id INTEGER PRIMARY KEY, folder INTEGER NOT NULL,"
    " name TEXT NOT NULL, name_key BLOB NOT NULL, browser_holder INTEGER NOT NULL DEFAULT 0,"
    " display_key BLOB NOT NULL, display_holder INTEGER NOT NULL DEFAULT 0, record BLOB NOT NULL);"
    "CREATE UNIQUE INDEX IF NOT EXISTS guarded_by_browser ON guarded_items(name_key, browser_holder);"
    "CREATE UNIQUE INDEX IF NOT EXISTS guarded_by_display ON guarded_items(folder, display_key, display_holder);";

}  // namespace

void Exec(sqlite3* db, const char* sql) {
  char* message = nullptr;
  if (sqlite3_exec(db, sql, nullptr, nullptr, &message) != SQLITE_OK) {
    std::fprintf(stderr, "%s: %s\n", sql, message != nullptr ? message : "?");
    Require(false, "raw SQLite statement");
  }
}

sqlite3_stmt* Prepare(sqlite3* db, const char* sql) {
  sqlite3_stmt* statement = nullptr;
  Require(sqlite3_prepare_v2(db, sql, -1, &statement, nullptr) == SQLITE_OK, sql);
  return statement;
}

sqlite3* OpenRaw(const std::string& path) {
  sqlite3* db = nullptr;
  Require(sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                          nullptr) == SQLITE_OK,
          "opening a raw table's file");
  Exec(db, kRawSchema);
  return db;
}

bool InsertItem(sqlite3_stmt* insert, const std::string& name, const std::string& record) {
  sqlite3_bind_text(insert, 1, name.data(), static_cast<int>(name.size()), SQLITE_TRANSIENT);
  sqlite3_bind_blob(insert, 2, record.data(), static_cast<int>(record.size()), SQLITE_STATIC);
  return StepDone(insert);
}

bool InsertGuarded(sqlite3_stmt* insert, const std::string& name, const std::string& record) {
  // The keys: the name in 16-bit units, as the farm keeps its folded names.
  std::u16string key(name.begin(), name.end());
  const std::u16string browser = u"b-" + key;
  sqlite3_bind_text(insert, 1, name.data(), static_cast<int>(name.size()), SQLITE_TRANSIENT);
  sqlite3_bind_blob(insert, 2, browser.data(), static_cast<int>(browser.size() * 2), SQLITE_TRANSIENT);
  sqlite3_bind_blob(insert, 3, key.data(), static_cast<int>(key.size() * 2), SQLITE_TRANSIENT);
  sqlite3_bind_blob(insert, 4, record.data(), static_cast<int>(record.size()), SQLITE_STATIC);
  return StepDone(insert);
}

std::string RecordBytes(std::size_t size, unsigned seed) {
  std::string bytes(size, '\0');
  std::mt19937 random(seed);
  for (char& byte : bytes) byte = static_cast<char>(random());
  return bytes;
}

}  // namespace feroq::bench
