// One libpq connection of the PostgreSQL farm store, with the statement and
// result helpers the store's SQL runs through.
//
// Every value travels in libpq's binary format: identifiers and counters as
// int8 (a farm identifier is kept bit for bit in the signed column), texts
// as bytea holding their UTF-16 units little-endian (names are kept exactly
// as given, unpaired surrogates included, which a UTF-8 database could not
// hold), keys and records as bytea.
#ifndef FEROQ_SERVICES_STORE_POSTGRES_CONNECTION_H_
#define FEROQ_SERVICES_STORE_POSTGRES_CONNECTION_H_

#include <libpq-fe.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <vector>

#include "feroq/services/service_codes.h"
#include "feroq/types.h"

namespace feroq::store::postgres {

// A failure of the server or of the connection, with the farm code it
// answers (classified from the SQLSTATE by CodeOfSqlState) and the
// SQLSTATE itself ("" when the connection failed without one).
class PostgresStoreError : public std::runtime_error {
 public:
  PostgresStoreError(VSTATUS code, std::string sqlstate, const std::string& message)
      : std::runtime_error(message), code_(code), sqlstate_(std::move(sqlstate)) {}
  VSTATUS code() const { return code_; }
  const std::string& sqlstate() const { return sqlstate_; }
  // A serialization failure or a deadlock: the transaction may succeed
  // when run again.
  bool conflict() const { return sqlstate_ == "40001" || sqlstate_ == "40P01"; }
  bool unique_violation() const { return sqlstate_ == "23505"; }

 private:
  VSTATUS code_;
  std::string sqlstate_;
};

// The farm code of a server error:
//   40001, 40P01 (serialization failure, deadlock)   kFarmWriteConflict
//   42501, 25006 (no privilege, read-only transaction) kFarmReadOnly
//   08xxx, 57P01-57P03 (connection lost, shutdown)     kFarmFileUnavailable
//   53100 (disk full) kFarmDiskFull; 53200 (out of memory) VORN_E_OUTOFMEMORY
//   42P01 (no such table) kFarmFileNotAFarm; anything else VORN_E_FAILURE.
VSTATUS CodeOfSqlState(const std::string& sqlstate);

// Statement parameters, all in binary format.
class Params {
 public:
  Params& Id(ULONG64 value) { return Int(static_cast<std::int64_t>(value)); }
  Params& Int(std::int64_t value);
  Params& Bytes(const std::string& bytes);
  Params& Bytes(const std::vector<BYTE>& bytes) {
    return Bytes(std::string(bytes.begin(), bytes.end()));
  }
  // A text as its UTF-16 units, little-endian.
  Params& Text(const std::u16string& text);
  Params& OptionalText(const std::optional<std::u16string>& text);

 private:
  friend class PgConnection;
  std::vector<std::optional<std::string>> values_;
};

// A query's result, in binary format. Cells are read by row and column.
class Result {
 public:
  explicit Result(PGresult* result) : result_(result, &PQclear) {}
  int Rows() const { return PQntuples(result_.get()); }
  bool IsNull(int row, int column) const { return PQgetisnull(result_.get(), row, column) != 0; }
  // An int2, int4 or int8 cell.
  std::int64_t Int(int row, int column) const;
  ULONG64 Id(int row, int column) const { return static_cast<ULONG64>(Int(row, column)); }
  std::string Bytes(int row, int column) const;
  std::vector<BYTE> ByteVector(int row, int column) const;
  std::u16string Text(int row, int column) const;
  std::optional<std::u16string> OptionalText(int row, int column) const;
  // The rows a command changed (UPDATE, DELETE, INSERT).
  std::int64_t Changed() const;

 private:
  std::unique_ptr<PGresult, void (*)(PGresult*)> result_;
};

class PgConnection {
 public:
  // Connects to `url` (a libpq connection URI), with a 10 s connection
  // timeout unless the URI sets one. Raises PostgresStoreError
  // (kFarmFileUnavailable: the server cannot be reached or refused the
  // login; the message names the URL without its password).
  explicit PgConnection(const std::string& url);
  PgConnection(const PgConnection&) = delete;
  PgConnection& operator=(const PgConnection&) = delete;

  PGconn* raw() const { return conn_.get(); }
  // Whether the connection to the server is still up (false once a call
  // found it lost; the store then connects again).
  bool alive() const { return PQstatus(conn_.get()) == CONNECTION_OK; }

  // Runs SQL without parameters (several statements allowed). Raises.
  void Exec(const char* sql);
  // Runs `sql` as a statement prepared once per connection (keyed by the
  // address of the text, which must be a string literal). Raises.
  Result Run(const char* sql, const Params& params = Params());

 private:
  // Raises the error of `result` (null: the connection's own error).
  [[noreturn]] void Raise(const PGresult* result, const char* what) const;

  std::unique_ptr<PGconn, void (*)(PGconn*)> conn_;
  std::unordered_map<const char*, std::string> prepared_;
};

}  // namespace feroq::store::postgres

#endif  // FEROQ_SERVICES_STORE_POSTGRES_CONNECTION_H_
