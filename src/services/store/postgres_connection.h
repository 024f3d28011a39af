// One libpq connection of the PostgreSQL farm store, with the statement and
// result helpers the store's SQL runs through.
//
// A connection the store runs transactions on is in libpq's pipeline mode:
// statements whose results the caller does not need at once (the writes,
// ROLLBACK) are queued and go to the server with the next statement
// whose result it waits for, so that a transaction costs a round trip per
// answer it needs rather than per statement. The server runs them in
// order; the first failure among them is raised by the call that waits.
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
#include <deque>
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
  bool not_null_violation() const { return sqlstate_ == "23502"; }
  // A write queued on the guess that it would succeed did not (see
  // PgConnection::Expect): the transaction is to be run again without
  // guessing.
  bool guess_failed() const { return guess_failed_; }
  void set_guess_failed() { guess_failed_ = true; }
  // The guess that failed was of a counter's value (a statement queued
  // with Expect::kCounterHeld changed no row) or of an identifier counted
  // from it (an application row's primary key refused it).
  bool counter_missed() const { return counter_missed_; }
  void set_counter_missed() { counter_missed_ = true; }
  // The SQL text of the statement that failed (null when none did: the
  // connection failed).
  const char* statement() const { return statement_; }
  void set_statement(const char* sql) { statement_ = sql; }

 private:
  VSTATUS code_;
  std::string sqlstate_;
  bool guess_failed_ = false;
  bool counter_missed_ = false;
  const char* statement_ = nullptr;
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
  // What a queued statement was sent on the guess of: that it changes
  // exactly one row and breaks no unique index (kCounterHeld: that a
  // counter holds the value the transaction counted from). Such a statement
  // makes a wrong guess a failure of the server's (a null where the row
  // needs a value), so that what is queued after it is not run and the
  // transaction does not commit; that failure, a refusal by a unique index or a count of rows
  // other than one raises a PostgresStoreError whose guess_failed() is true
  // (and counter_missed(), for kCounterHeld).
  enum class Expect { kNothing, kOneRowChanged, kCounterHeld };

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
  bool alive() const { return !broken_ && PQstatus(conn_.get()) == CONNECTION_OK; }

  // Runs SQL without parameters (outside pipeline mode several statements
  // are allowed; in it, one). Raises.
  void Exec(const char* sql);
  // Runs `sql` as a statement prepared once per connection (keyed by the
  // address of the text, which must be a string literal). Raises, also the
  // first failure of the statements queued before it.
  Result Run(const char* sql, const Params& params = Params());

  // Puts the connection in pipeline mode for good (the store's transaction
  // connection, once its schema is checked).
  void EnterPipelineMode();
  // Pipeline mode: queues `sql` (prepared as Run does) without waiting for
  // its result. More than kMaxQueued statements are sent and their results
  // read at once, so that neither side's buffers fill.
  void Queue(const char* sql, const Params& params = Params(), Expect expect = Expect::kNothing);
  // Pipeline mode: queues a query whose result is put into `*into` when it
  // is read (by the next call that waits), unless ForgetResultSlots ran.
  void QueueInto(const char* sql, const Params& params, Result* into);
  // Results still in flight are no longer wanted (their slots go away).
  void ForgetResultSlots();
  // Whether the result meant for `slot` has yet to be read.
  bool Awaits(const Result* slot) const;
  // Pipeline mode: queues a statement without parameters, not prepared.
  void QueueText(const char* sql);
  // Pipeline mode: sends what is queued without waiting for the results
  // (read by the next Run, Exec, Sync or Settle), after a sync point, or
  // inside a transaction (BeginTransaction) after a request to flush.
  void Send();
  // Pipeline mode: sends what is queued and reads every result. Raises the
  // first failure.
  void Sync();

  // Pipeline mode: the statements queued from now until Commit or Abandon
  // are one transaction. With `begin` (a BEGIN statement) it is a block of
  // its own; without, it is the server's implicit one: what runs between
  // two sync points commits at the second, or is rolled back whole when a
  // statement fails, so no BEGIN and COMMIT travel; no sync point is sent
  // until it ends (a call that waits for answers asks the server to flush
  // them instead).
  void BeginTransaction(const char* begin = nullptr);
  // Makes the transaction a block (BEGIN, keeping what ran so far and the
  // snapshot), for statements that run only in one (savepoints); once.
  void OpenBlock();
  // Commits the transaction and reads every result. Raises the first
  // failure, the commit's own included (a check the server makes at the
  // commit); nothing of the transaction is kept then.
  void Commit();
  // Ends the transaction keeping nothing, without waiting for the answers
  // (the next Settle reads them). Raises when it cannot send.
  void Abandon();
  // Pipeline mode: reads the results still to come, ignoring failures, and
  // looks whether the idle connection has been closed by the server (a
  // restart since the last call). False when the connection is lost.
  bool Settle() noexcept;
  // Whether a statement queued with an Expect has not had its result read.
  bool unchecked_guesses() const { return unchecked_guesses_ > 0; }

  static constexpr std::size_t kMaxQueued = 256;

 private:
  struct BinaryParams;
  // A statement (or preparation, or sync point) sent whose result is not
  // read yet.
  struct InFlight {
    enum class Kind { kStatement, kPrepare, kSync } kind;
    const char* what;  // the SQL text (for a preparation: the prepared key)
    Expect expect;
    Result* into = nullptr;
  };

  // Raises the error of `result` (null: the connection's own error).
  [[noreturn]] void Raise(const PGresult* result, const char* what) const;
  PostgresStoreError ErrorOf(const PGresult* result, const char* what) const;
  // The prepared statement name of `sql`, queuing its preparation (in
  // pipeline mode) or preparing it (outside) on first use.
  const std::string& Prepared(const char* sql);
  void QueueStatement(const char* sql, const Params& params, Expect expect, Result* into = nullptr);
  // Sends a sync point (and what is queued before it).
  void SendSync();
  // Reads results up to the last sync sent; returns the result of the last
  // statement before it. Raises the first failure (after reading them all).
  Result ReadResults();

  std::unique_ptr<PGconn, void (*)(PGconn*)> conn_;
  std::unordered_map<const char*, std::string> prepared_;
  std::size_t prepared_names_ = 0;
  bool pipeline_ = false;
  bool broken_ = false;  // the results in flight came out of step
  bool in_transaction_ = false;  // see BeginTransaction
  bool block_ = false;           // the transaction began with BEGIN
  std::deque<InFlight> in_flight_;
  std::size_t unsynced_ = 0;  // statements queued after the last sync
  std::size_t unchecked_guesses_ = 0;
};

}  // namespace feroq::store::postgres

#endif  // FEROQ_SERVICES_STORE_POSTGRES_CONNECTION_H_
