// One SQLite connection to a farm file, with the statements the SQLite farm
// store runs on it, prepared once and kept for the connection's life.
//
// A SqliteConnection is used by one thread at a time (the store guards it).
// Every failure is raised: SQLITE_NOMEM as std::bad_alloc (as the farm-store
// contract asks), every other SQLite failure as SqliteStoreError carrying the
// service code it stands for (see SqliteStatusCode). The store's Read() and
// Write() turn a SqliteStoreError into their result.
#ifndef FEROQ_SERVICES_STORE_SQLITE_CONNECTION_H_
#define FEROQ_SERVICES_STORE_SQLITE_CONNECTION_H_

#include <sqlite3.h>

#include <array>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "feroq/services/service_codes.h"
#include "feroq/types.h"

namespace feroq::store::sqlite {

// A SQLite failure inside the store, with the service code it maps to.
class SqliteStoreError : public std::runtime_error {
 public:
  SqliteStoreError(VSTATUS code, const std::string& what) : std::runtime_error(what), code_(code) {}
  VSTATUS code() const { return code_; }

 private:
  VSTATUS code_;
};

// The service code for a SQLite result code: SQLITE_BUSY and SQLITE_LOCKED
// give kFarmBusy, SQLITE_CORRUPT kFarmFileCorrupt, SQLITE_NOTADB
// kFarmFileNotAFarm, SQLITE_READONLY kFarmReadOnly, SQLITE_FULL
// kFarmDiskFull, everything else (I/O errors, a file that cannot be opened)
// kFarmFileUnavailable.
FEROQ_SERVICES_API VSTATUS SqliteStatusCode(int sqlite_result);

// Raises the failure `sqlite_result` of `db` (std::bad_alloc for SQLITE_NOMEM).
[[noreturn]] void RaiseSqlite(sqlite3* db, int sqlite_result, const char* doing);

// The statements of the store; their text is in sqlite_statements.cc.
enum class Sql : int {
  kBegin,
  kDataVersion,
  kBeginImmediate,
  kCommit,
  kRollback,
  kFarmName,
  kSetFarmName,
  kLastQueueHandle,
  kSetLastQueueHandle,
  kSerial,
  kBumpSerial,
  kFirstSerial,
  kKeepSerial,
  kGetFolder,
  kChildFolders,
  kListFolders,
  kPutFolder,
  kDeleteFolder,
  kChildFolderByName,
  kGetApplication,
  kApplicationFolder,
  kHighestApplicationId,
  kApplicationName,
  kAllApplicationIds,
  kFolderApplicationIds,
  kAllApplicationNames,
  kFolderApplicationNames,
  kApplicationCount,
  kApplicationsByName,
  kChildApplicationByName,
  kFolderNameTaken,
  kUpdateApplicationRecord,
  kUpdateRecordOnly,
  kUpdateRecordKeepingNames,
  kPutApplication,
  kHoldBrowserName,
  kHoldDisplayName,
  kDeleteApplication,
  kGetServer,
  kServersByName,
  kListServers,
  kPutServer,
  kDeleteServer,
  kAccountByDn,
  kAccountByKey,
  kListAccounts,
  kPutAccount,
  kDeleteAccountByDn,
  kDeleteAccountByKey,
  kEventsAfter,
  kLastEvent,
  kKeepLastEvent,
  kAppendEvent,
  kDeleteEventsThrough,
  kDeleteAllEvents,
  kGetQueue,
  kListQueues,
  kPutQueue,
  kDeleteQueue,
  kFolderCount,
  kServerCount,
  kAccountCount,
  kApplicationIdsAfter,
  kChildFoldersNamed,
  kChildApplicationsNamed,
  kChildFolderCount,
  kFolderApplicationCount,
  kCount  // not a statement
};
const char* SqlText(Sql id);

class SqliteConnection {
 public:
  // Opens the file at `path` (which must exist) read-write, or for reading
  // only, sets the busy timeout and the connection's settings. Raises
  // SqliteStoreError.
  explicit SqliteConnection(const std::string& path, bool read_only = false);
  ~SqliteConnection();
  SqliteConnection(const SqliteConnection&) = delete;
  SqliteConnection& operator=(const SqliteConnection&) = delete;

  sqlite3* db() const { return db_; }
  // The statement `id`, prepared on first use and kept. Raises.
  sqlite3_stmt* Prepared(Sql id);
  // Runs `sql` (one or more statements, no results). Raises.
  void Exec(const char* sql);
  // The single integer result of `sql` (0 when it yields no row). Raises.
  std::int64_t QueryInt(const char* sql);

  // Whether another connection has committed to the file since the previous
  // call (true on the first), by PRAGMA data_version. In a transaction that
  // has read nothing yet, this begins its snapshot. Raises.
  bool FileChangedSinceLastLook();
  // The data version of the file as this connection sees it: changed by
  // every commit of any connection, its own included (seen from the start of
  // a transaction). None when SQLite cannot tell.
  std::optional<unsigned> DataVersion();

 private:
  sqlite3* db_ = nullptr;
  std::array<sqlite3_stmt*, static_cast<int>(Sql::kCount)> statements_{};
  std::optional<std::int64_t> data_version_;
};

// Runs one prepared statement: binds parameters in order, steps, reads
// columns; resets the statement and clears its bindings when destroyed.
class Statement {
 public:
  Statement(SqliteConnection& connection, Sql id)
      : db_(connection.db()), stmt_(connection.Prepared(id)) {}
  ~Statement() {
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
  }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  Statement& Bind(std::int64_t value);
  Statement& BindId(ULONG64 value) { return Bind(static_cast<std::int64_t>(value)); }
  // UTF-16 text, stored as given.
  Statement& Bind(const std::u16string& text);
  Statement& BindBlob(const void* data, std::size_t bytes);
  Statement& BindBlob(const std::string& bytes) { return BindBlob(bytes.data(), bytes.size()); }
  Statement& BindBlob(const std::vector<BYTE>& bytes) { return BindBlob(bytes.data(), bytes.size()); }
  // Binds the bytes without SQLite copying them first (a record of a few
  // kilobytes on every write). REQUIRES: `bytes` outlives this statement
  // object and is not changed while it lives.
  Statement& BindBlobInPlace(const std::string& bytes) { return BindBlobInPlace(bytes.data(), bytes.size()); }
  Statement& BindBlobInPlace(const std::vector<BYTE>& bytes) { return BindBlobInPlace(bytes.data(), bytes.size()); }
  Statement& BindBlobInPlace(const void* data, std::size_t bytes);
  // UTF-16 text (or NULL for none) bound where it lies, on the same terms.
  Statement& BindInPlace(const std::u16string& text);
  Statement& BindInPlace(const std::optional<std::u16string>& text);
  // The text, or NULL for none.
  Statement& Bind(const std::optional<std::u16string>& text);

  // True for a row, false at the end. Raises on failure.
  bool Step();
  // Steps a statement that yields no row.
  void Run() { Step(); }
  // Steps a statement that yields no row; false when it broke a UNIQUE
  // index (the statement then changed nothing; the transaction goes on).
  // Raises on any other failure.
  bool RunUnlessNotUnique();
  // The rows the last statement of the connection changed.
  int Changes() const { return sqlite3_changes(db_); }

  std::int64_t Int(int column) const { return sqlite3_column_int64(stmt_, column); }
  ULONG64 Id(int column) const { return static_cast<ULONG64>(Int(column)); }
  std::u16string Text(int column) const;
  // The text, or none for a NULL column.
  std::optional<std::u16string> OptionalText(int column) const;
  std::vector<BYTE> Blob(int column) const;
  // The bytes of a BLOB column where SQLite holds them, valid until the
  // statement steps or resets.
  std::pair<const BYTE*, std::size_t> BlobView(int column) const;

 private:
  sqlite3* db_;
  sqlite3_stmt* stmt_;
  int next_parameter_ = 1;
};

}  // namespace feroq::store::sqlite

#endif  // FEROQ_SERVICES_STORE_SQLITE_CONNECTION_H_
