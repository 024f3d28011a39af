// The farm file's schema and its migrations (see sqlite_schema.h).
//
// Schema version 4. Text columns hold UTF-16 exactly as the store was given
// it (the database encoding is UTF-16le). Identifiers are stored as SQLite's
// signed 64-bit integers, bit for bit. *_key columns are folded keys
// (FoldedKey) and carry the lookups made without regard to case.
//
//   farm          the one row (id 1): name, last_queue_handle (the last
//                 event queue handle handed out), fold_fingerprint (the case
//                 classes the *_key columns were made with)
//   serials       kind -> the last identifier serial handed out (for
//                 applications: at least the serial of the last one gone or
//                 handed out without a row; they count on from the higher
//                 of it and the table's highest identifier); kind 0
//                 (kEventSerialKind) holds the sequence of the newest event
//                 trimmed from the log, as of when it was; the newest event
//                 is the newer of it and the log's last entry
//   folders       id, parent (0 for the root), name, creation_serial,
//                 name_key; indexed by (parent, creation_serial, id) and
//                 (parent, name_key)
//   applications  id, folder, name_key (of the browser name), record (the
//                 application record blob, sqlite_record_format.h), name
//                 (the display name, also in the record) and display_key
//                 (its key), browser_holder and display_holder (below)
//   servers       id, name, name_key; indexed by (name_key, id)
//   accounts      keyed by dn_key, unique on (authority_key, instance_key,
//                 account_key); the five fields of the account
//   events        sequence (ascending from 1, never reused), event_id, record,
//                 object_dn (the name the object had as of the change; NULL
//                 in entries logged by version 1)
//   event_queues  handle, event_ids (u16 little-endian each), read_position,
//                 delivered (the entry the last wait handed out, 0 for none),
//                 the owner: owner_host (bytes), owner_process, owner_start
//                 (empty and 0 when unknown), last_wait (seconds since 1970)
//
// Names the services keep unique are held by UNIQUE indexes: a browser name
// in the farm, applications_by_name (name_key, browser_holder), and a display
// name in its folder, applications_by_display (folder, display_key,
// display_holder). The application that holds a name has 0 in the holder
// column; another application of the same name has its own identifier
// there, which no other row has. Such rows come from files of version 2 and
// older, which did not hold names apart (the lowest identifier keeps the
// name, see MakeNameColumns), and from FarmTxn::PutApplication, which keeps
// rows as it is given them and takes up a name only where it is free. So
// each name has at most one holder, and a write that would make a second
// one fails on the index, which SqliteTxn::PutApplicationHoldingNames
// reports as a taken name instead of looking the name up first. The
// display index also answers "the applications of a folder" and "the child
// named ..."; folders_by_name (parent, name_key) answers the latter for
// folders.
//
// Version 2 added the event and queue columns after record and after
// read_position above; version 3 the name columns, their indexes, and
// folders.name_key (applications_by_folder went: the display index serves
// "the applications of a folder"); version 4 moved the newest event's
// sequence from farm.last_event into serials, beside the identifier
// serials, so that a publish changes one page of counters, not two;
// version 5 counts events on from the log's last entry and writes the
// counter only when a trim takes that entry, so that an append changes the
// log's page alone, and applications likewise from the table's highest
// identifier, the counter written only when one goes or is handed out
// without a row. The counters of a version 4 file are never behind its
// log and table, so the upgrade changes no row; the version keeps older
// builds, which would count on from a stale counter, from writing the file.
//
// There are no foreign keys: the store keeps rows as it is given them and
// the services enforce the farm's rules (a row may name a folder that a
// later statement of the same transaction creates, or none at all).
#include "services/store/sqlite_schema.h"

#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "feroq/services/farm_admin.h"
#include "platform/platform.h"
#include "services/store/sqlite_record_format.h"

namespace feroq::store::sqlite {
namespace {

constexpr char kSchemaV1[] = R"sql(
CREATE TABLE farm(
  id INTEGER PRIMARY KEY CHECK (id = 1),
  name TEXT NOT NULL,
  last_event INTEGER NOT NULL,
  last_queue_handle INTEGER NOT NULL,
  fold_fingerprint INTEGER NOT NULL);
CREATE TABLE serials(kind INTEGER PRIMARY KEY, last INTEGER NOT NULL);
CREATE TABLE folders(
  id INTEGER PRIMARY KEY,
  parent INTEGER NOT NULL,
  name TEXT NOT NULL,
  creation_serial INTEGER NOT NULL);
CREATE INDEX folders_by_parent ON folders(parent, creation_serial, id);
CREATE TABLE applications(
  id INTEGER PRIMARY KEY,
  folder INTEGER NOT NULL,
  name_key BLOB NOT NULL,
  record BLOB NOT NULL);
CREATE INDEX applications_by_folder ON applications(folder, id);
CREATE INDEX applications_by_name ON applications(name_key, id);
CREATE TABLE servers(id INTEGER PRIMARY KEY, name TEXT NOT NULL, name_key BLOB NOT NULL);
CREATE INDEX servers_by_name ON servers(name_key, id);
CREATE TABLE accounts(
  dn_key BLOB PRIMARY KEY,
  authority_key BLOB NOT NULL,
  instance_key BLOB NOT NULL,
  account_key BLOB NOT NULL,
  authority_type TEXT NOT NULL,
  instance TEXT NOT NULL,
  account_name TEXT NOT NULL,
  kind INTEGER NOT NULL,
  dn TEXT NOT NULL,
  UNIQUE (authority_key, instance_key, account_key)) WITHOUT ROWID;
CREATE TABLE events(sequence INTEGER PRIMARY KEY, event_id INTEGER NOT NULL, record BLOB NOT NULL);
CREATE TABLE event_queues(
  handle INTEGER PRIMARY KEY,
  event_ids BLOB NOT NULL,
  read_position INTEGER NOT NULL);
)sql";

// True when following the parents from every folder ends at a parent that
// is not a folder (the root's parent is 0), that is, when no folder is among
// its own ancestors. The rows are read from the table itself, as the
// store's lookups by identifier read them, not from folders_by_parent: in a
// damaged file the index may contradict the table.
bool FoldersFormATree(SqliteConnection& connection) {
  sqlite3* db = connection.db();
  constexpr char kSql[] = "SELECT id, parent FROM folders NOT INDEXED";
  sqlite3_stmt* raw = nullptr;
  int result = sqlite3_prepare_v2(db, kSql, -1, &raw, nullptr);
  if (result != SQLITE_OK) RaiseSqlite(db, result, kSql);
  std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)> stmt(raw, &sqlite3_finalize);
  std::unordered_map<std::int64_t, std::int64_t> parents;
  while ((result = sqlite3_step(stmt.get())) == SQLITE_ROW) {
    const std::int64_t id = sqlite3_column_int64(stmt.get(), 0);
    if (!parents.emplace(id, sqlite3_column_int64(stmt.get(), 1)).second) return false;
  }
  if (result != SQLITE_DONE) RaiseSqlite(db, result, kSql);

  // Each walk goes up until it leaves the folders or meets a folder whose
  // walk is known to end; meeting a folder of the walk itself is a cycle.
  enum Mark { kUnseen, kOnThisWalk, kEndsWell };
  std::unordered_map<std::int64_t, Mark> marks;
  std::vector<std::int64_t> walk;
  for (const auto& entry : parents) {
    walk.clear();
    for (auto current = parents.find(entry.first); current != parents.end();
         current = parents.find(current->second)) {
      Mark& mark = marks[current->first];
      if (mark == kEndsWell) break;
      if (mark == kOnThisWalk) return false;
      mark = kOnThisWalk;
      walk.push_back(current->first);
    }
    for (std::int64_t id : walk) marks[id] = kEndsWell;
  }
  return true;
}

// Version 0 is the empty database: the first step creates the schema.
void CreateVersion1(SqliteConnection& connection) {
  connection.Exec(kSchemaV1);
  const std::string row = "INSERT INTO farm(id, name, last_event, last_queue_handle, fold_fingerprint) "
                          "VALUES (1, '', 0, 0, " + std::to_string(FoldingFingerprint()) + ")";
  connection.Exec(row.c_str());
}

// Each step takes the schema from version `from` to `from` + 1, inside the
// upgrade's transaction. A new schema version appends its step here.
struct Migration {
  std::int64_t from;
  void (*apply)(SqliteConnection&);
};
// Version 2: event entries keep their object's name and queues their owner.
// Queues of an older file have no known owner; they count as waited on at
// the upgrade, so that they are reclaimed a day later unless used.
void AddEventNamesAndQueueOwners(SqliteConnection& connection) {
  connection.Exec(R"sql(
ALTER TABLE events ADD COLUMN object_dn TEXT;
ALTER TABLE event_queues ADD COLUMN delivered INTEGER NOT NULL DEFAULT 0;
ALTER TABLE event_queues ADD COLUMN owner_host BLOB NOT NULL DEFAULT x'';
ALTER TABLE event_queues ADD COLUMN owner_process INTEGER NOT NULL DEFAULT 0;
ALTER TABLE event_queues ADD COLUMN owner_start INTEGER NOT NULL DEFAULT 0;
ALTER TABLE event_queues ADD COLUMN last_wait INTEGER NOT NULL DEFAULT 0;
)sql");
  const std::string now = std::to_string(static_cast<std::int64_t>(platform::WallClockSeconds()));
  connection.Exec(("UPDATE event_queues SET last_wait = " + now).c_str());
}

// Statement helpers for the migrations and key remaking, which run their
// own SQL outside the store's prepared statements.
using StatementHandle = std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)>;

StatementHandle PrepareOwn(SqliteConnection& connection, const char* sql) {
  sqlite3_stmt* stmt = nullptr;
  const int result = sqlite3_prepare_v2(connection.db(), sql, -1, &stmt, nullptr);
  if (result != SQLITE_OK) RaiseSqlite(connection.db(), result, sql);
  return StatementHandle(stmt, &sqlite3_finalize);
}

bool StepOwn(SqliteConnection& connection, sqlite3_stmt* stmt) {
  const int result = sqlite3_step(stmt);
  if (result != SQLITE_ROW && result != SQLITE_DONE) RaiseSqlite(connection.db(), result, sqlite3_sql(stmt));
  return result == SQLITE_ROW;
}

std::u16string ColumnText(sqlite3_stmt* stmt, int column) {
  return std::u16string(static_cast<const char16_t*>(sqlite3_column_text16(stmt, column)),
                        sqlite3_column_bytes16(stmt, column) / sizeof(char16_t));
}

void BindKey(sqlite3_stmt* stmt, int parameter, const std::u16string& text) {
  const std::string key = FoldedKey(text);
  sqlite3_bind_blob64(stmt, parameter, key.data(), key.size(), SQLITE_TRANSIENT);
}

// Makes the name columns of every application (its browser name's key, its
// display name and that name's key, from its record) and every folder's
// name key, with the current case classes, then gives each name to one
// holder: the lowest identifier of the applications that share it (a file
// from before the naming rules may hold several). Needs the indexes of
// version 3.
void MakeNameColumns(SqliteConnection& connection) {
  {
    auto rows = PrepareOwn(connection, "SELECT id, record FROM applications");
    auto update = PrepareOwn(connection,
                             "UPDATE applications SET name_key = ?2, name = ?3, display_key = ?4,"
                             " browser_holder = id, display_holder = id WHERE id = ?1");
    while (StepOwn(connection, rows.get())) {
      const auto* data = static_cast<const BYTE*>(sqlite3_column_blob(rows.get(), 1));
      const std::vector<BYTE> blob(data, data + sqlite3_column_bytes(rows.get(), 1));
      const AppRecordData record = DecodeAppRecord(blob);
      sqlite3_bind_int64(update.get(), 1, sqlite3_column_int64(rows.get(), 0));
      BindKey(update.get(), 2, record.browser_name);
      sqlite3_bind_text16(update.get(), 3, record.friendly_name.c_str(),
                          static_cast<int>(record.friendly_name.size() * sizeof(char16_t)), SQLITE_TRANSIENT);
      BindKey(update.get(), 4, record.friendly_name);
      StepOwn(connection, update.get());
      sqlite3_reset(update.get());
    }
  }
  {
    auto rows = PrepareOwn(connection, "SELECT id, name FROM folders");
    auto update = PrepareOwn(connection, "UPDATE folders SET name_key = ?2 WHERE id = ?1");
    while (StepOwn(connection, rows.get())) {
      sqlite3_bind_int64(update.get(), 1, sqlite3_column_int64(rows.get(), 0));
      BindKey(update.get(), 2, ColumnText(rows.get(), 1));
      StepOwn(connection, update.get());
      sqlite3_reset(update.get());
    }
  }
  // In identifier order; a row whose name is held already stays without.
  connection.Exec(
      "UPDATE OR IGNORE applications SET browser_holder = 0;"
      "UPDATE OR IGNORE applications SET display_holder = 0;");
}

// Version 3: display names and name keys as columns, held by unique
// indexes (see the top of this file). A file that already holds two
// applications of one name keeps them both; the lower identifier holds it.
void AddNameColumns(SqliteConnection& connection) {
  connection.Exec(R"sql(
ALTER TABLE applications ADD COLUMN name TEXT NOT NULL DEFAULT '';
ALTER TABLE applications ADD COLUMN display_key BLOB NOT NULL DEFAULT x'';
ALTER TABLE applications ADD COLUMN browser_holder INTEGER NOT NULL DEFAULT 0;
ALTER TABLE applications ADD COLUMN display_holder INTEGER NOT NULL DEFAULT 0;
ALTER TABLE folders ADD COLUMN name_key BLOB NOT NULL DEFAULT x'';
DROP INDEX applications_by_folder;
DROP INDEX applications_by_name;
UPDATE applications SET browser_holder = id, display_holder = id;
CREATE UNIQUE INDEX applications_by_name ON applications(name_key, browser_holder);
CREATE UNIQUE INDEX applications_by_display ON applications(folder, display_key, display_holder);
CREATE INDEX folders_by_name ON folders(parent, name_key);
)sql");
  MakeNameColumns(connection);
}

// Version 4: the event sequence counts in the serials table.
void MoveEventCounter(SqliteConnection& connection) {
  connection.Exec(
      "INSERT OR REPLACE INTO serials(kind, last) SELECT 0, last_event FROM farm WHERE id = 1;"
      "ALTER TABLE farm DROP COLUMN last_event;");
}

// Version 5: events and applications count on from their tables (see
// above); no row changes.
void CountEventsFromTheLog(SqliteConnection&) {}

constexpr Migration kMigrations[] = {
    {0, &CreateVersion1},
    {1, &AddEventNamesAndQueueOwners},
    {2, &AddNameColumns},
    {3, &MoveEventCounter},
    {4, &CountEventsFromTheLog},
};
static_assert(sizeof(kMigrations) / sizeof(kMigrations[0]) == kFarmSchemaVersion,
              "one migration step per schema version");

struct FileHeader {
  std::int64_t application_id = 0;
  std::int64_t version = 0;
  std::int64_t objects = 0;  // entries of sqlite_schema
};

FileHeader ReadHeader(SqliteConnection& connection) {
  FileHeader header;
  header.application_id = connection.QueryInt("PRAGMA application_id");
  header.version = connection.QueryInt("PRAGMA user_version");
  header.objects = connection.QueryInt("SELECT count(*) FROM sqlite_schema");
  return header;
}

bool IsEmptyDatabase(const FileHeader& h) {
  return h.application_id == 0 && h.version == 0 && h.objects == 0;
}

// Refuses what is not a farm file this build can open.
void Check(const FileHeader& h) {
  if (IsEmptyDatabase(h)) return;
  if (h.application_id != kFarmApplicationId || h.version == 0) {
    throw SqliteStoreError(admin::kFarmFileNotAFarm, "farm file: not a feroq farm file");
  }
  if (h.version > kFarmSchemaVersion) {
    throw SqliteStoreError(admin::kFarmFileTooNew,
                           "farm file: schema version " + std::to_string(h.version) +
                               " is newer than this feroq's " + std::to_string(kFarmSchemaVersion));
  }
}

// Runs `fn` in a BEGIN IMMEDIATE transaction; rolls back if it raises.
template <class Fn>
void InWriteTransaction(SqliteConnection& connection, Fn&& fn) {
  connection.Exec("BEGIN IMMEDIATE");
  try {
    fn();
    connection.Exec("COMMIT");
  } catch (...) {
    sqlite3_exec(connection.db(), "ROLLBACK", nullptr, nullptr, nullptr);
    throw;
  }
}

void Upgrade(SqliteConnection& connection) {
  InWriteTransaction(connection, [&] {
    // Another process may have done (part of) the work meanwhile.
    const FileHeader h = ReadHeader(connection);
    Check(h);
    for (const Migration& step : kMigrations) {
      if (step.from >= h.version) step.apply(connection);
    }
    connection.Exec(("PRAGMA application_id = " + std::to_string(kFarmApplicationId)).c_str());
    connection.Exec(("PRAGMA user_version = " + std::to_string(kFarmSchemaVersion)).c_str());
  });
}

// Makes every folded key again with the current case classes.
void RemakeFoldedKeys(SqliteConnection& connection) {
  InWriteTransaction(connection, [&] {
    const std::int64_t current = FoldingFingerprint();
    if (connection.QueryInt("SELECT fold_fingerprint FROM farm WHERE id = 1") == current) return;
    sqlite3* db = connection.db();
    auto prepare = [&](const char* sql) {
      sqlite3_stmt* stmt = nullptr;
      const int result = sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr);
      if (result != SQLITE_OK) RaiseSqlite(db, result, sql);
      return std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)>(stmt, &sqlite3_finalize);
    };
    auto step = [&](sqlite3_stmt* stmt) {
      const int result = sqlite3_step(stmt);
      if (result != SQLITE_ROW && result != SQLITE_DONE) RaiseSqlite(db, result, sqlite3_sql(stmt));
      return result == SQLITE_ROW;
    };
    auto text = [](sqlite3_stmt* stmt, int column) {
      return std::u16string(static_cast<const char16_t*>(sqlite3_column_text16(stmt, column)),
                            sqlite3_column_bytes16(stmt, column) / sizeof(char16_t));
    };
    auto bind_key = [](sqlite3_stmt* stmt, int parameter, const std::u16string& s) {
      const std::string key = FoldedKey(s);
      sqlite3_bind_blob64(stmt, parameter, key.data(), key.size(), SQLITE_TRANSIENT);
    };

    // Servers and applications: the key sits beside the row.
    {
      auto rows = prepare("SELECT id, name FROM servers");
      auto update = prepare("UPDATE servers SET name_key = ?2 WHERE id = ?1");
      while (step(rows.get())) {
        sqlite3_bind_int64(update.get(), 1, sqlite3_column_int64(rows.get(), 0));
        bind_key(update.get(), 2, text(rows.get(), 1));
        step(update.get());
        sqlite3_reset(update.get());
      }
    }
    MakeNameColumns(connection);
    // Accounts are keyed by a folded key: take them out and put them back.
    // Accounts that the new classes make equal keep only the last one read.
    struct Account {
      std::u16string type, instance, name, dn;
      std::int64_t kind;
    };
    std::vector<Account> accounts;
    {
      auto rows = prepare("SELECT authority_type, instance, account_name, kind, dn FROM accounts");
      while (step(rows.get())) {
        accounts.push_back({text(rows.get(), 0), text(rows.get(), 1), text(rows.get(), 2),
                            text(rows.get(), 4), sqlite3_column_int64(rows.get(), 3)});
      }
    }
    connection.Exec("DELETE FROM accounts");
    {
      auto insert = prepare(
          "INSERT OR REPLACE INTO accounts(dn_key, authority_key, instance_key, account_key,"
          " authority_type, instance, account_name, kind, dn) VALUES (?1,?2,?3,?4,?5,?6,?7,?8,?9)");
      for (const Account& a : accounts) {
        bind_key(insert.get(), 1, a.dn);
        bind_key(insert.get(), 2, a.type);
        bind_key(insert.get(), 3, a.instance);
        bind_key(insert.get(), 4, a.name);
        int parameter = 5;
        for (const std::u16string* s : {&a.type, &a.instance, &a.name}) {
          sqlite3_bind_text16(insert.get(), parameter++, s->c_str(),
                              static_cast<int>(s->size() * sizeof(char16_t)), SQLITE_TRANSIENT);
        }
        sqlite3_bind_int64(insert.get(), 8, a.kind);
        sqlite3_bind_text16(insert.get(), 9, a.dn.c_str(),
                            static_cast<int>(a.dn.size() * sizeof(char16_t)), SQLITE_TRANSIENT);
        step(insert.get());
        sqlite3_reset(insert.get());
      }
    }
    connection.Exec(("UPDATE farm SET fold_fingerprint = " + std::to_string(current)).c_str());
  });
}

}  // namespace

namespace {

// feroq_display_name(record): the display name in an application record.
void DisplayNameFunction(sqlite3_context* context, int, sqlite3_value** values) {
  try {
    const auto* data = static_cast<const BYTE*>(sqlite3_value_blob(values[0]));
    const std::vector<BYTE> blob(data, data + sqlite3_value_bytes(values[0]));
    const std::u16string name = DecodeAppRecord(blob).friendly_name;
    sqlite3_result_text16(context, name.c_str(), static_cast<int>(name.size() * sizeof(char16_t)),
                          SQLITE_TRANSIENT);
  } catch (const SqliteStoreError&) {
    sqlite3_result_error_code(context, SQLITE_CORRUPT);
  } catch (const std::bad_alloc&) {
    sqlite3_result_error_nomem(context);
  }
}

// feroq_folded_key(text): FoldedKey of the text.
void FoldedKeyFunction(sqlite3_context* context, int, sqlite3_value** values) {
  try {
    const auto* text = static_cast<const char16_t*>(sqlite3_value_text16(values[0]));
    const std::string key =
        FoldedKey(std::u16string(text, static_cast<std::size_t>(sqlite3_value_bytes16(values[0])) / 2));
    sqlite3_result_blob64(context, key.data(), key.size(), SQLITE_TRANSIENT);
  } catch (const std::bad_alloc&) {
    sqlite3_result_error_nomem(context);
  }
}

}  // namespace

void ReadOlderFarmThroughViews(SqliteConnection& connection) {
  const std::int64_t version = connection.QueryInt("PRAGMA user_version");
  if (version >= kFarmSchemaVersion) return;
  // Unqualified names find the temp schema first.
  if (version < 2) {
    // Version 1 lacks the columns version 2 added: its events have no name
    // and its queues no owner.
    connection.Exec(R"sql(
CREATE TEMP VIEW events AS SELECT sequence, event_id, record, NULL AS object_dn FROM main.events;
CREATE TEMP VIEW event_queues AS
  SELECT handle, event_ids, read_position, 0 AS delivered, x'' AS owner_host, 0 AS owner_process,
         0 AS owner_start, 0 AS last_wait
  FROM main.event_queues;
)sql");
  }
  if (version < 4) {
    // Before version 4 the farm row counts the events.
    connection.Exec(R"sql(
CREATE TEMP VIEW serials AS
  SELECT kind, last FROM main.serials WHERE kind <> 0 UNION ALL SELECT 0, last_event FROM main.farm;
)sql");
  }
  if (version >= 3) return;
  // Versions 1 and 2 keep the display name only in the record, and no
  // folder name keys: both are made as the rows are read.
  constexpr int kFlags = SQLITE_UTF16 | SQLITE_DETERMINISTIC | SQLITE_INNOCUOUS;
  for (auto [name, function] : {std::pair{"feroq_display_name", &DisplayNameFunction},
                                std::pair{"feroq_folded_key", &FoldedKeyFunction}}) {
    const int result = sqlite3_create_function_v2(connection.db(), name, 1, kFlags, nullptr, function,
                                                  nullptr, nullptr, nullptr);
    if (result != SQLITE_OK) RaiseSqlite(connection.db(), result, name);
  }
  connection.Exec(R"sql(
CREATE TEMP VIEW applications AS
  SELECT id, folder, name_key, record, feroq_display_name(record) AS name,
         feroq_folded_key(feroq_display_name(record)) AS display_key, 0 AS browser_holder,
         0 AS display_holder
  FROM main.applications;
CREATE TEMP VIEW folders AS
  SELECT id, parent, name, creation_serial, feroq_folded_key(name) AS name_key FROM main.folders;
)sql");
}

void PrepareFarmSchema(SqliteConnection& connection, bool read_only) {
  FileHeader h = ReadHeader(connection);
  Check(h);
  if (read_only) {
    // Nothing may be written: the file must be a farm whose keys need no
    // remaking, of this version or of one that reads through views.
    if (IsEmptyDatabase(h) || h.version < kOldestVersionReadThroughViews ||
        connection.QueryInt("SELECT fold_fingerprint FROM farm WHERE id = 1") != FoldingFingerprint()) {
      throw SqliteStoreError(admin::kFarmReadOnly,
                             "farm file: it must be brought up to this feroq's schema, which needs write access");
    }
    if (!FoldersFormATree(connection)) {
      throw SqliteStoreError(admin::kFarmFileCorrupt, "farm file: the folders do not form a tree");
    }
    ReadOlderFarmThroughViews(connection);
    return;
  }
  // Text is kept as UTF-16; the encoding is fixed when the first page is
  // written, so it is chosen before anything else writes to a new file.
  if (IsEmptyDatabase(h)) connection.Exec("PRAGMA encoding = 'UTF-16le'");
  // WAL lets readers (in this and other processes) go on while one writer
  // commits. The mode is kept in the file; setting it again on a file in
  // WAL mode writes nothing and takes no lock.
  sqlite3_stmt* stmt = nullptr;
  int result = sqlite3_prepare_v2(connection.db(), "PRAGMA journal_mode = WAL", -1, &stmt, nullptr);
  if (result != SQLITE_OK) RaiseSqlite(connection.db(), result, "PRAGMA journal_mode");
  result = sqlite3_step(stmt);
  const bool wal = result == SQLITE_ROW &&
                   std::string(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0))) == "wal";
  sqlite3_finalize(stmt);
  if (result != SQLITE_ROW) RaiseSqlite(connection.db(), result, "PRAGMA journal_mode");
  if (!wal) {
    throw SqliteStoreError(admin::kFarmFileUnavailable,
                           "farm file: the file system does not allow WAL mode");
  }
  if (h.version < kFarmSchemaVersion) Upgrade(connection);
  if (connection.QueryInt("SELECT fold_fingerprint FROM farm WHERE id = 1") != FoldingFingerprint()) {
    RemakeFoldedKeys(connection);
  }
  // The services never make a folder its own ancestor, but a damaged file
  // can: every walk towards the root (names, moves) would go round for ever.
  if (!FoldersFormATree(connection)) {
    throw SqliteStoreError(admin::kFarmFileCorrupt, "farm file: the folders do not form a tree");
  }
}

}  // namespace feroq::store::sqlite
