// SqliteConnection and Statement (see sqlite_connection.h).
#include "services/store/sqlite_connection.h"

#include <new>

#include "feroq/services/farm_admin.h"

namespace feroq::store::sqlite {
namespace {

// How long a writer waits for another connection's write lock (in this or
// another process) before giving up with kFarmBusy.
constexpr int kBusyTimeoutMs = 5000;

// Per-connection settings. synchronous=NORMAL in WAL mode: a committed
// transaction is in the WAL file before COMMIT returns, so it survives the
// process being killed at any point; only a power loss or an operating
// system crash may take back the newest commits (never the file's
// consistency).
constexpr char kConnectionSettings[] =
    "PRAGMA synchronous = NORMAL;"
    "PRAGMA trusted_schema = OFF;"
    "PRAGMA foreign_keys = OFF;";

}  // namespace

VSTATUS SqliteStatusCode(int sqlite_result) {
  switch (sqlite_result & 0xFF) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      return admin::kFarmBusy;
    case SQLITE_CORRUPT:
      return admin::kFarmFileCorrupt;
    case SQLITE_NOTADB:
      return admin::kFarmFileNotAFarm;
    case SQLITE_READONLY:
      return admin::kFarmReadOnly;
    case SQLITE_FULL:
      return admin::kFarmDiskFull;
    default:
      return admin::kFarmFileUnavailable;
  }
}

void RaiseSqlite(sqlite3* db, int sqlite_result, const char* doing) {
  if ((sqlite_result & 0xFF) == SQLITE_NOMEM) throw std::bad_alloc();
  std::string what = std::string("farm file: ") + doing + ": ";
  what += db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(sqlite_result);
  throw SqliteStoreError(SqliteStatusCode(sqlite_result), what);
}

SqliteConnection::SqliteConnection(const std::string& path, bool read_only) {
  const int flags =
      (read_only ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE) | SQLITE_OPEN_NOMUTEX | SQLITE_OPEN_EXRESCODE;
  const int opened = sqlite3_open_v2(path.c_str(), &db_, flags, nullptr);
  if (opened != SQLITE_OK) {
    // db_ may hold an error handle even on failure; keep the message, then close.
    try {
      RaiseSqlite(db_, opened, "open");
    } catch (...) {
      sqlite3_close_v2(db_);
      db_ = nullptr;
      throw;
    }
  }
  try {
    sqlite3_busy_timeout(db_, kBusyTimeoutMs);
    Exec(kConnectionSettings);
  } catch (...) {
    sqlite3_close_v2(db_);
    db_ = nullptr;
    throw;
  }
}

SqliteConnection::~SqliteConnection() {
  for (sqlite3_stmt* stmt : statements_) sqlite3_finalize(stmt);
  sqlite3_close_v2(db_);
}

sqlite3_stmt* SqliteConnection::Prepared(Sql id) {
  sqlite3_stmt*& stmt = statements_[static_cast<int>(id)];
  if (stmt == nullptr) {
    const int result =
        sqlite3_prepare_v3(db_, SqlText(id), -1, SQLITE_PREPARE_PERSISTENT, &stmt, nullptr);
    if (result != SQLITE_OK) {
      stmt = nullptr;
      RaiseSqlite(db_, result, SqlText(id));
    }
  }
  return stmt;
}

void SqliteConnection::Exec(const char* sql) {
  const int result = sqlite3_exec(db_, sql, nullptr, nullptr, nullptr);
  if (result != SQLITE_OK) RaiseSqlite(db_, result, sql);
}

std::int64_t SqliteConnection::QueryInt(const char* sql) {
  sqlite3_stmt* stmt = nullptr;
  int result = sqlite3_prepare_v2(db_, sql, -1, &stmt, nullptr);
  if (result != SQLITE_OK) RaiseSqlite(db_, result, sql);
  result = sqlite3_step(stmt);
  const std::int64_t value = result == SQLITE_ROW ? sqlite3_column_int64(stmt, 0) : 0;
  sqlite3_finalize(stmt);
  if (result != SQLITE_ROW && result != SQLITE_DONE) RaiseSqlite(db_, result, sql);
  return value;
}

bool SqliteConnection::FileChangedSinceLastLook() {
  std::int64_t version = 0;
  {
    Statement s(*this, Sql::kDataVersion);
    if (s.Step()) version = s.Int(0);
  }
  const bool changed = data_version_ != version;
  data_version_ = version;
  return changed;
}

std::optional<unsigned> SqliteConnection::DataVersion() {
#if defined(SQLITE_FCNTL_DATA_VERSION)
  unsigned version = 0;
  if (sqlite3_file_control(db_, "main", SQLITE_FCNTL_DATA_VERSION, &version) == SQLITE_OK) return version;
#endif
  return std::nullopt;
}

Statement& Statement::Bind(std::int64_t value) {
  const int result = sqlite3_bind_int64(stmt_, next_parameter_++, value);
  if (result != SQLITE_OK) RaiseSqlite(db_, result, "bind");
  return *this;
}

Statement& Statement::Bind(const std::u16string& text) {
  const int result = sqlite3_bind_text16(stmt_, next_parameter_++, text.c_str(),
                                         static_cast<int>(text.size() * sizeof(char16_t)),
                                         SQLITE_TRANSIENT);
  if (result != SQLITE_OK) RaiseSqlite(db_, result, "bind");
  return *this;
}

Statement& Statement::BindInPlace(const std::u16string& text) {
  const int result = sqlite3_bind_text16(stmt_, next_parameter_++, text.c_str(),
                                         static_cast<int>(text.size() * sizeof(char16_t)), SQLITE_STATIC);
  if (result != SQLITE_OK) RaiseSqlite(db_, result, "bind");
  return *this;
}

Statement& Statement::BindInPlace(const std::optional<std::u16string>& text) {
  if (text) return BindInPlace(*text);
  const int result = sqlite3_bind_null(stmt_, next_parameter_++);
  if (result != SQLITE_OK) RaiseSqlite(db_, result, "bind");
  return *this;
}

Statement& Statement::Bind(const std::optional<std::u16string>& text) {
  if (text) return Bind(*text);
  const int result = sqlite3_bind_null(stmt_, next_parameter_++);
  if (result != SQLITE_OK) RaiseSqlite(db_, result, "bind");
  return *this;
}

namespace {

// A null pointer would bind NULL; an empty blob stays a blob.
int BindBytes(sqlite3_stmt* stmt, int parameter, const void* data, std::size_t bytes, void (*keep)(void*)) {
  static const char kEmpty = 0;
  return sqlite3_bind_blob64(stmt, parameter, bytes == 0 ? &kEmpty : data, bytes, keep);
}

}  // namespace

Statement& Statement::BindBlob(const void* data, std::size_t bytes) {
  const int result = BindBytes(stmt_, next_parameter_++, data, bytes, SQLITE_TRANSIENT);
  if (result != SQLITE_OK) RaiseSqlite(db_, result, "bind");
  return *this;
}

Statement& Statement::BindBlobInPlace(const void* data, std::size_t bytes) {
  const int result = BindBytes(stmt_, next_parameter_++, data, bytes, SQLITE_STATIC);
  if (result != SQLITE_OK) RaiseSqlite(db_, result, "bind");
  return *this;
}

bool Statement::Step() {
  const int result = sqlite3_step(stmt_);
  if (result == SQLITE_ROW) return true;
  if (result == SQLITE_DONE) return false;
  RaiseSqlite(db_, result, sqlite3_sql(stmt_));
}

bool Statement::RunUnlessNotUnique() {
  const int result = sqlite3_step(stmt_);
  if (result == SQLITE_DONE || result == SQLITE_ROW) return true;
  if (result == SQLITE_CONSTRAINT_UNIQUE) return false;
  RaiseSqlite(db_, result, sqlite3_sql(stmt_));
}

std::u16string Statement::Text(int column) const {
  const void* text = sqlite3_column_text16(stmt_, column);
  const int bytes = sqlite3_column_bytes16(stmt_, column);
  if (text == nullptr) {
    // Only a NULL column has no text; otherwise the conversion ran out of memory.
    if (sqlite3_column_type(stmt_, column) != SQLITE_NULL) throw std::bad_alloc();
    return std::u16string();
  }
  return std::u16string(static_cast<const char16_t*>(text),
                        static_cast<std::size_t>(bytes) / sizeof(char16_t));
}

std::optional<std::u16string> Statement::OptionalText(int column) const {
  if (sqlite3_column_type(stmt_, column) == SQLITE_NULL) return std::nullopt;
  return Text(column);
}

std::pair<const BYTE*, std::size_t> Statement::BlobView(int column) const {
  const auto* data = static_cast<const BYTE*>(sqlite3_column_blob(stmt_, column));
  const int bytes = sqlite3_column_bytes(stmt_, column);
  if (data == nullptr && bytes > 0) throw std::bad_alloc();
  static const BYTE kNone = 0;
  return {data != nullptr ? data : &kNone, static_cast<std::size_t>(bytes)};
}

std::vector<BYTE> Statement::Blob(int column) const {
  const auto* data = static_cast<const BYTE*>(sqlite3_column_blob(stmt_, column));
  const int bytes = sqlite3_column_bytes(stmt_, column);
  if (data == nullptr) {
    if (bytes > 0) throw std::bad_alloc();
    return {};
  }
  return std::vector<BYTE>(data, data + bytes);
}

}  // namespace feroq::store::sqlite
