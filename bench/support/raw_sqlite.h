// The raw SQLite the farm is measured against: a table of application rows
// as small as they can be while they keep what the farm needs (the folder,
// the name for lookups, unique in the folder, and the record), an event log,
// and the few calls the benchmarks make on them. A failure in setup aborts
// the run (Require).
#ifndef FEROQ_BENCH_SUPPORT_RAW_SQLITE_H_
#define FEROQ_BENCH_SUPPORT_RAW_SQLITE_H_

#include <sqlite3.h>

#include <cstddef>
#include <string>

namespace feroq::bench {

// Runs `sql` on `db`; aborts when it fails.
void Exec(sqlite3* db, const char* sql);

// The statement `sql` prepared on `db`; aborts when it cannot be prepared.
sqlite3_stmt* Prepare(sqlite3* db, const char* sql);

// Steps `statement` once and resets it: true when it ran to its end.
inline bool StepDone(sqlite3_stmt* statement) {
  const bool done = sqlite3_step(statement) == SQLITE_DONE;
  sqlite3_reset(statement);
  return done;
}

// Opens (or creates) the file of raw tables at `path`: items(id, folder,
// name, record) with names unique in a folder, events(seq, type, ids) and
// guarded_items (below), in WAL mode with synchronous = NORMAL.
sqlite3* OpenRaw(const std::string& path);

// The statement that inserts an items row into folder 1, and a run of it
// for `name` and `record`.
inline constexpr char kInsertItem[] = "INSERT INTO items(folder, name, record) VALUES (1, ?1, ?2)";
bool InsertItem(sqlite3_stmt* insert, const std::string& name, const std::string& record);

// The statement that inserts a guarded_items row (the farm's shape of an
// application row: both name keys under their unique indexes) into folder
// 1, and a run of it for `name` (the browser name "b-" + name) and `record`.
inline constexpr char kInsertGuarded[] =
    "INSERT INTO guarded_items(folder, name, name_key, display_key, record) VALUES (1, ?1, ?2, ?3, ?4)";
bool InsertGuarded(sqlite3_stmt* insert, const std::string& name, const std::string& record);

// `size` pseudo-random bytes, the same for the same `seed`.
std::string RecordBytes(std::size_t size, unsigned seed);

}  // namespace feroq::bench

#endif  // FEROQ_BENCH_SUPPORT_RAW_SQLITE_H_
