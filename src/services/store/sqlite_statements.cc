// The SQL of the SQLite farm store's statements (schema version 3; the
// tables are described in sqlite_schema.cc).
#include "services/store/sqlite_connection.h"

namespace feroq::store::sqlite {
namespace {

struct Entry {
  Sql id;
  const char* text;
};

constexpr Entry kStatements[] = {
    {Sql::kBegin, "BEGIN DEFERRED"},
    {Sql::kDataVersion, "PRAGMA data_version"},
    {Sql::kBeginImmediate, "BEGIN IMMEDIATE"},
    {Sql::kCommit, "COMMIT"},
    {Sql::kRollback, "ROLLBACK"},

    {Sql::kFarmName, "SELECT name FROM farm WHERE id = 1"},
    {Sql::kSetFarmName, "UPDATE farm SET name = ?1 WHERE id = 1"},
    {Sql::kLastQueueHandle, "SELECT last_queue_handle FROM farm WHERE id = 1"},
    {Sql::kSetLastQueueHandle, "UPDATE farm SET last_queue_handle = ?1 WHERE id = 1"},
    {Sql::kSerial, "SELECT last FROM serials WHERE kind = ?1"},
    // Counts kind ?1 on while its next serial stays below ?2.
    {Sql::kBumpSerial, "UPDATE serials SET last = last + 1 WHERE kind = ?1 AND last + 1 < ?2"},
    {Sql::kFirstSerial, "INSERT INTO serials(kind, last) VALUES (?1, 1)"},
    // Makes counter ?1 at least ?2.
    {Sql::kKeepSerial,
     "INSERT INTO serials(kind, last) VALUES (?1, ?2) ON CONFLICT(kind) DO UPDATE SET last = max(last, excluded.last)"},

    {Sql::kGetFolder, "SELECT id, parent, name, creation_serial FROM folders WHERE id = ?1"},
    {Sql::kChildFolders,
     "SELECT id FROM folders WHERE parent = ?1 ORDER BY creation_serial, id"},
    {Sql::kListFolders, "SELECT id, parent, name, creation_serial FROM folders ORDER BY id"},
    {Sql::kPutFolder,
     "INSERT OR REPLACE INTO folders(id, parent, name, creation_serial, name_key)"
     " VALUES (?1, ?2, ?3, ?4, ?5)"},
    {Sql::kDeleteFolder, "DELETE FROM folders WHERE id = ?1"},
    {Sql::kChildFolderByName,
     "SELECT id FROM folders WHERE parent = ?1 AND name_key = ?2 AND id <> ?3 ORDER BY id LIMIT 1"},

    {Sql::kGetApplication, "SELECT folder, record FROM applications WHERE id = ?1"},
    {Sql::kApplicationFolder, "SELECT folder FROM applications WHERE id = ?1"},
    {Sql::kHighestApplicationId, "SELECT max(id) FROM applications WHERE id BETWEEN ?1 AND ?2"},
    {Sql::kApplicationName, "SELECT folder, name FROM applications WHERE id = ?1"},
    // Read from an index, not from the table, whose pages hold the records,
    // in the index's order: SqliteTxn sorts them (in memory, several times
    // faster than SQLite's sorter).
    {Sql::kAllApplicationIds, "SELECT id FROM applications"},
    {Sql::kFolderApplicationIds, "SELECT id FROM applications WHERE folder = ?1"},
    {Sql::kAllApplicationNames, "SELECT id, folder, name FROM applications ORDER BY id"},
    {Sql::kFolderApplicationNames,
     "SELECT id, folder, name FROM applications WHERE folder = ?1 ORDER BY +id"},
    {Sql::kApplicationCount, "SELECT count(*) FROM applications"},
    {Sql::kApplicationsByName, "SELECT id FROM applications WHERE name_key = ?1 ORDER BY +id"},
    {Sql::kChildApplicationByName,
     "SELECT id FROM applications WHERE folder = ?1 AND display_key = ?2 AND id <> ?3"
     " ORDER BY id LIMIT 1"},
    // A folder of `?1` named `?2`, unless application `?3` already lies in
    // `?1` under that name (a name it keeps is not checked again).
    {Sql::kFolderNameTaken,
     "SELECT 1 FROM folders WHERE parent = ?1 AND name_key = ?2 AND NOT EXISTS"
     " (SELECT 1 FROM applications WHERE id = ?3 AND folder = ?1 AND display_key = ?2)"},
    // A save that keeps the application's folder and names: only the record
    // (and the display name's spelling) change, so no index is written.
    {Sql::kUpdateApplicationRecord,
     "UPDATE applications SET record = ?2, name = ?3"
     " WHERE id = ?1 AND folder = ?4 AND name_key = ?5 AND display_key = ?6"},
    // The same when the row is known to keep its folder and display name.
    {Sql::kUpdateRecordOnly, "UPDATE applications SET record = ?2 WHERE id = ?1 AND name_key = ?3"},
    // The same when the row is only guessed to lie in folder ?4 under the
    // display name ?5 (no change unless it does).
    {Sql::kUpdateRecordKeepingNames,
     "UPDATE applications SET record = ?2 WHERE id = ?1 AND name_key = ?3 AND folder = ?4 AND name = ?5"},
    // A holder column takes `?7` / `?8` (0: holds the name; the row's id:
    // does not) when its name is new to the row, and keeps its value when
    // the row keeps that name.
    {Sql::kPutApplication,
     "INSERT INTO applications(id, folder, name_key, record, name, display_key, browser_holder,"
     " display_holder) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8)"
     " ON CONFLICT(id) DO UPDATE SET folder = excluded.folder, name_key = excluded.name_key,"
     " record = excluded.record, name = excluded.name, display_key = excluded.display_key,"
     " browser_holder = CASE WHEN name_key = excluded.name_key THEN browser_holder"
     " ELSE excluded.browser_holder END,"
     " display_holder = CASE WHEN folder = excluded.folder AND display_key = excluded.display_key"
     " THEN display_holder ELSE excluded.display_holder END"},
    {Sql::kHoldBrowserName, "UPDATE OR IGNORE applications SET browser_holder = 0 WHERE id = ?1"},
    {Sql::kHoldDisplayName, "UPDATE OR IGNORE applications SET display_holder = 0 WHERE id = ?1"},
    {Sql::kDeleteApplication, "DELETE FROM applications WHERE id = ?1"},

    {Sql::kGetServer, "SELECT id, name FROM servers WHERE id = ?1"},
    {Sql::kServersByName, "SELECT id, name FROM servers WHERE name_key = ?1 ORDER BY id LIMIT 1"},
    {Sql::kListServers, "SELECT id, name FROM servers ORDER BY id"},
    {Sql::kPutServer, "INSERT OR REPLACE INTO servers(id, name, name_key) VALUES (?1, ?2, ?3)"},
    {Sql::kDeleteServer, "DELETE FROM servers WHERE id = ?1"},

    {Sql::kAccountByDn,
     "SELECT authority_type, instance, account_name, kind, dn FROM accounts WHERE dn_key = ?1"},
    {Sql::kAccountByKey,
     "SELECT authority_type, instance, account_name, kind, dn FROM accounts"
     " WHERE authority_key = ?1 AND instance_key = ?2 AND account_key = ?3"},
    {Sql::kListAccounts,
     "SELECT authority_type, instance, account_name, kind, dn FROM accounts ORDER BY dn_key"},
    {Sql::kPutAccount,
     "INSERT INTO accounts(dn_key, authority_key, instance_key, account_key,"
     " authority_type, instance, account_name, kind, dn)"
     " VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9)"},
    {Sql::kDeleteAccountByDn, "DELETE FROM accounts WHERE dn_key = ?1"},
    {Sql::kDeleteAccountByKey,
     "DELETE FROM accounts WHERE authority_key = ?1 AND instance_key = ?2 AND account_key = ?3"},

    {Sql::kEventsAfter,
     "SELECT sequence, event_id, record, object_dn FROM events WHERE sequence > ?1 ORDER BY sequence "
     "LIMIT ?2"},
    // The newest event in the log, or the newest one trimmed from it when
    // that is newer (the log may have been trimmed empty).
    {Sql::kLastEvent,
     "SELECT max(coalesce((SELECT last FROM serials WHERE kind = 0), 0),"
     " coalesce((SELECT max(sequence) FROM events), 0))"},
    // Before the events through ?1 go: the newest event, when it is among
    // them, is kept as the counter.
    {Sql::kKeepLastEvent,
     "INSERT INTO serials(kind, last) SELECT 0, sequence FROM events"
     " WHERE sequence = (SELECT max(sequence) FROM events) AND sequence <= ?1"
     " ON CONFLICT(kind) DO UPDATE SET last = max(last, excluded.last)"},
    {Sql::kAppendEvent,
     "INSERT INTO events(sequence, event_id, record, object_dn) VALUES (?1, ?2, ?3, ?4)"},
    {Sql::kDeleteEventsThrough, "DELETE FROM events WHERE sequence <= ?1"},
    // Without a condition SQLite empties the table a page at a time
    // instead of deleting each row.
    {Sql::kDeleteAllEvents, "DELETE FROM events"},
    {Sql::kGetQueue,
     "SELECT handle, event_ids, read_position, delivered, owner_host, owner_process, owner_start,"
     " last_wait FROM event_queues WHERE handle = ?1"},
    {Sql::kListQueues,
     "SELECT handle, event_ids, read_position, delivered, owner_host, owner_process, owner_start,"
     " last_wait FROM event_queues ORDER BY handle"},
    {Sql::kPutQueue,
     "INSERT OR REPLACE INTO event_queues(handle, event_ids, read_position, delivered, owner_host,"
     " owner_process, owner_start, last_wait) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8)"},
    {Sql::kDeleteQueue, "DELETE FROM event_queues WHERE handle = ?1"},

    // Counts and windows for listings of big farms: each one scan of the
    // smallest index of its table, or a seek into the primary key.
    {Sql::kFolderCount, "SELECT count(*) FROM folders"},
    {Sql::kServerCount, "SELECT count(*) FROM servers"},
    {Sql::kAccountCount, "SELECT count(*) FROM accounts"},
    {Sql::kApplicationIdsAfter, "SELECT id FROM applications WHERE id > ?1 ORDER BY id LIMIT ?2"},

    // A folder's children of one name, from the name indexes (a name is
    // held by one child; a farm file from before the naming rules may have
    // a few), and its number of children, from the indexes' entries.
    {Sql::kChildFoldersNamed,
     "SELECT id FROM folders WHERE parent = ?1 AND name_key = ?2 ORDER BY creation_serial, id"},
    {Sql::kChildApplicationsNamed,
     "SELECT id FROM applications WHERE folder = ?1 AND display_key = ?2 ORDER BY id"},
    {Sql::kChildFolderCount, "SELECT count(*) FROM folders WHERE parent = ?1"},
    {Sql::kFolderApplicationCount, "SELECT count(*) FROM applications WHERE folder = ?1"},
};

static_assert(sizeof(kStatements) / sizeof(kStatements[0]) == static_cast<int>(Sql::kCount),
              "every statement has its text");

constexpr bool InOrder() {
  for (int i = 0; i < static_cast<int>(Sql::kCount); ++i) {
    if (static_cast<int>(kStatements[i].id) != i) return false;
  }
  return true;
}
static_assert(InOrder(), "statements are listed in the order of Sql");

}  // namespace

const char* SqlText(Sql id) { return kStatements[static_cast<int>(id)].text; }

}  // namespace feroq::store::sqlite
