// PgConnection, Params and Result (see postgres_connection.h).
#include "services/store/postgres_connection.h"

#include <poll.h>

#include <cstring>
#include <new>

#include "feroq/services/farm_admin.h"
#include "services/store/postgres_client_library.h"

namespace feroq::store::postgres {
namespace {

std::string BigEndian(std::int64_t value) {
  std::string bytes(8, '\0');
  auto u = static_cast<std::uint64_t>(value);
  for (int i = 7; i >= 0; --i) {
    bytes[static_cast<std::size_t>(i)] = static_cast<char>(u & 0xFF);
    u >>= 8;
  }
  return bytes;
}

}  // namespace

VSTATUS CodeOfSqlState(const std::string& s) {
  if (s == "40001" || s == "40P01") return admin::kFarmWriteConflict;
  if (s == "42501" || s == "25006") return admin::kFarmReadOnly;
  if (s.rfind("08", 0) == 0 || s == "57P01" || s == "57P02" || s == "57P03" || s.empty()) {
    return admin::kFarmFileUnavailable;
  }
  if (s == "53100") return admin::kFarmDiskFull;
  if (s == "53200") return VORN_E_OUTOFMEMORY;
  if (s == "42P01") return admin::kFarmFileNotAFarm;
  return VORN_E_FAILURE;
}

Params& Params::Int(std::int64_t value) {
  values_.emplace_back(BigEndian(value));
  return *this;
}

Params& Params::Bytes(const std::string& bytes) {
  values_.emplace_back(bytes);
  return *this;
}

Params& Params::Text(const std::u16string& text) {
  std::string bytes(text.size() * 2, '\0');
  for (std::size_t i = 0; i < text.size(); ++i) {
    bytes[2 * i] = static_cast<char>(text[i] & 0xFF);
    bytes[2 * i + 1] = static_cast<char>(text[i] >> 8);
  }
  values_.emplace_back(std::move(bytes));
  return *this;
}

Params& Params::OptionalText(const std::optional<std::u16string>& text) {
  if (!text) {
    values_.emplace_back(std::nullopt);
    return *this;
  }
  return Text(*text);
}

std::int64_t Result::Int(int row, int column) const {
  const auto* data = reinterpret_cast<const unsigned char*>(PQgetvalue(result_.get(), row, column));
  const int length = PQgetlength(result_.get(), row, column);
  std::uint64_t u = (length > 0 && (data[0] & 0x80)) ? ~std::uint64_t{0} : 0;  // the sign, for int2 and int4
  for (int i = 0; i < length; ++i) u = (u << 8) | data[i];
  return static_cast<std::int64_t>(u);
}

std::string Result::Bytes(int row, int column) const {
  return std::string(PQgetvalue(result_.get(), row, column),
                     static_cast<std::size_t>(PQgetlength(result_.get(), row, column)));
}

std::vector<BYTE> Result::ByteVector(int row, int column) const {
  const char* data = PQgetvalue(result_.get(), row, column);
  return std::vector<BYTE>(data, data + PQgetlength(result_.get(), row, column));
}

std::u16string Result::Text(int row, int column) const {
  const auto* data = reinterpret_cast<const unsigned char*>(PQgetvalue(result_.get(), row, column));
  const auto length = static_cast<std::size_t>(PQgetlength(result_.get(), row, column)) / 2;
  std::u16string text(length, u'\0');
  for (std::size_t i = 0; i < length; ++i) {
    text[i] = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
  }
  return text;
}

std::optional<std::u16string> Result::OptionalText(int row, int column) const {
  if (IsNull(row, column)) return std::nullopt;
  return Text(row, column);
}

std::int64_t Result::Changed() const {
  const char* text = PQcmdTuples(result_.get());
  return text[0] == '\0' ? 0 : std::stoll(text);
}

PgConnection::PgConnection(const std::string& url) : conn_(nullptr, &PQfinish) {
  if (!LoadPostgresClientLibrary()) {
    throw PostgresStoreError(admin::kFarmBackendUnavailable, "",
                             "farm " + admin::FarmUrlWithoutPassword(url) +
                                 ": the PostgreSQL client library (libpq 14 or later) cannot be loaded");
  }
  // The URI's own connect_timeout, listed after this default, wins over it.
  const char* const keywords[] = {"connect_timeout", "application_name", "dbname", nullptr};
  const char* const values[] = {"10", "feroq", url.c_str(), nullptr};
  conn_.reset(PQconnectdbParams(keywords, values, 1));
  if (!conn_) throw std::bad_alloc();
  if (PQstatus(conn_.get()) != CONNECTION_OK) {
    std::string message = PQerrorMessage(conn_.get());
    while (!message.empty() && message.back() == '\n') message.pop_back();
    throw PostgresStoreError(admin::kFarmFileUnavailable, "",
                             "farm " + admin::FarmUrlWithoutPassword(url) + ": cannot connect: " + message);
  }
}

PostgresStoreError PgConnection::ErrorOf(const PGresult* result, const char* what) const {
  const char* state = result != nullptr ? PQresultErrorField(result, PG_DIAG_SQLSTATE) : nullptr;
  std::string sqlstate = state != nullptr ? state : "";
  std::string message = result != nullptr ? PQresultErrorMessage(result) : PQerrorMessage(conn_.get());
  while (!message.empty() && message.back() == '\n') message.pop_back();
  // A connection that broke has no SQLSTATE, or one of class 08.
  if (!alive() && sqlstate.empty()) sqlstate = "08006";
  return PostgresStoreError(CodeOfSqlState(sqlstate), sqlstate, std::string(what) + ": " + message);
}

void PgConnection::Raise(const PGresult* result, const char* what) const { throw ErrorOf(result, what); }

void PgConnection::Exec(const char* sql) {
  if (pipeline_) {
    QueueText(sql);
    Send();
    ReadResults();
    return;
  }
  PGresult* raw = PQexec(conn_.get(), sql);
  Result result(raw);
  const ExecStatusType status = PQresultStatus(raw);
  if (raw == nullptr || (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK)) Raise(raw, sql);
}

const std::string& PgConnection::Prepared(const char* sql) {
  auto found = prepared_.find(sql);
  if (found != prepared_.end()) return found->second;
  const std::string name = "feroq_" + std::to_string(prepared_names_++);
  if (pipeline_) {
    // Known as prepared from now on; a failed preparation takes it out
    // again when its result is read.
    in_flight_.push_back(InFlight{InFlight::Kind::kPrepare, sql, Expect::kNothing});
    if (PQsendPrepare(conn_.get(), name.c_str(), sql, 0, nullptr) == 0) {
      in_flight_.pop_back();
      Raise(nullptr, sql);
    }
  } else {
    PGresult* raw = PQprepare(conn_.get(), name.c_str(), sql, 0, nullptr);
    Result prepared(raw);
    if (raw == nullptr || PQresultStatus(raw) != PGRES_COMMAND_OK) Raise(raw, sql);
  }
  return prepared_.emplace(sql, name).first->second;
}

// The parameters as libpq takes them: every one in binary format, a null
// one as a null pointer.
struct PgConnection::BinaryParams {
  explicit BinaryParams(const Params& params)
      : values(params.values_.size()), lengths(params.values_.size()), formats(params.values_.size(), 1) {
    for (std::size_t i = 0; i < values.size(); ++i) {
      if (!params.values_[i]) continue;
      values[i] = params.values_[i]->data();
      lengths[i] = static_cast<int>(params.values_[i]->size());
    }
  }
  int count() const { return static_cast<int>(values.size()); }
  std::vector<const char*> values;
  std::vector<int> lengths, formats;
};

void PgConnection::QueueStatement(const char* sql, const Params& params, Expect expect, Result* into) {
  const std::string& name = Prepared(sql);
  const BinaryParams binary(params);
  in_flight_.push_back(InFlight{InFlight::Kind::kStatement, sql, expect, into});
  if (PQsendQueryPrepared(conn_.get(), name.c_str(), binary.count(), binary.values.data(), binary.lengths.data(),
                          binary.formats.data(), 1) == 0) {
    in_flight_.pop_back();
    Raise(nullptr, sql);
  }
  if (expect != Expect::kNothing) ++unchecked_guesses_;
  ++unsynced_;
}

Result PgConnection::Run(const char* sql, const Params& params) {
  if (pipeline_) {
    QueueStatement(sql, params, Expect::kNothing);
    Send();
    return ReadResults();
  }
  const std::string& name = Prepared(sql);
  const BinaryParams binary(params);
  PGresult* raw = PQexecPrepared(conn_.get(), name.c_str(), binary.count(), binary.values.data(),
                                 binary.lengths.data(), binary.formats.data(), 1);
  Result result(raw);
  const ExecStatusType status = PQresultStatus(raw);
  if (raw == nullptr || (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK)) Raise(raw, sql);
  return result;
}

void PgConnection::EnterPipelineMode() {
  if (PQenterPipelineMode(conn_.get()) == 0) Raise(nullptr, "entering pipeline mode");
  pipeline_ = true;
}

void PgConnection::Queue(const char* sql, const Params& params, Expect expect) {
  QueueStatement(sql, params, expect);
  if (unsynced_ >= kMaxQueued) Sync();
}

void PgConnection::QueueInto(const char* sql, const Params& params, Result* into) {
  QueueStatement(sql, params, Expect::kNothing, into);
  if (unsynced_ >= kMaxQueued) Sync();
}

void PgConnection::ForgetResultSlots() {
  for (InFlight& entry : in_flight_) entry.into = nullptr;
}

bool PgConnection::Awaits(const Result* slot) const {
  for (const InFlight& entry : in_flight_) {
    if (entry.into == slot) return true;
  }
  return false;
}

void PgConnection::QueueText(const char* sql) {
  in_flight_.push_back(InFlight{InFlight::Kind::kStatement, sql, Expect::kNothing});
  if (PQsendQueryParams(conn_.get(), sql, 0, nullptr, nullptr, nullptr, nullptr, 0) == 0) {
    in_flight_.pop_back();
    Raise(nullptr, sql);
  }
  ++unsynced_;
  if (unsynced_ >= kMaxQueued) Sync();
}

void PgConnection::Send() {
  if (in_transaction_ && !block_) {
    // A sync point would end the implicit transaction: the server is asked
    // to send the answers so far instead. (In a block, a sync point ends
    // nothing, and it is what lets a savepoint be rolled back to after a
    // failed statement: the server skips everything up to the next one.)
    if (unsynced_ == 0) return;
    if (PQsendFlushRequest(conn_.get()) == 0 || PQflush(conn_.get()) != 0) Raise(nullptr, "sending statements");
    unsynced_ = 0;
    return;
  }
  if (unsynced_ == 0 && (in_flight_.empty() || in_flight_.back().kind == InFlight::Kind::kSync)) return;
  SendSync();
}

void PgConnection::SendSync() {
  in_flight_.push_back(InFlight{InFlight::Kind::kSync, "sync", Expect::kNothing});
  if (PQpipelineSync(conn_.get()) == 0) {
    in_flight_.pop_back();
    Raise(nullptr, "sending statements");
  }
  unsynced_ = 0;
}

void PgConnection::Sync() {
  Send();
  ReadResults();
}

void PgConnection::BeginTransaction(const char* begin) {
  in_transaction_ = true;
  block_ = begin != nullptr;
  if (begin != nullptr) Queue(begin);
}

void PgConnection::OpenBlock() {
  if (!in_transaction_ || block_) return;
  Queue("BEGIN");
  block_ = true;
}

void PgConnection::Commit() {
  if (block_) Queue("COMMIT");
  in_transaction_ = false;
  // Sent even when every statement has been answered: it is the commit.
  SendSync();
  ReadResults();
  block_ = false;
}

void PgConnection::Abandon() {
  const bool implicit = in_transaction_ && !block_;
  in_transaction_ = false;
  if (implicit) {
    // A ROLLBACK alone would roll the implicit transaction back too, but
    // with a warning that no transaction is in progress; made a block
    // first, it ends quietly. After a failure the server skips both, and
    // the sync point ends the failed transaction.
    Queue("BEGIN");
    Queue("ROLLBACK");
    Send();
    return;
  }
  if (!block_) return;  // a commit's sync point has ended it
  // After a sync point of its own: a queued statement the server refused
  // skips whatever follows it up to the next one, and leaves the block
  // open (failed) behind it.
  Send();
  Queue("ROLLBACK");
  Send();
  block_ = false;
}

Result PgConnection::ReadResults() {
  std::optional<PostgresStoreError> first;
  Result last(nullptr);
  while (!in_flight_.empty()) {
    const InFlight entry = in_flight_.front();
    in_flight_.pop_front();
    if (entry.expect != Expect::kNothing) --unchecked_guesses_;
    PGresult* raw = PQgetResult(conn_.get());
    if (entry.kind == InFlight::Kind::kSync && raw != nullptr && PQresultStatus(raw) == PGRES_FATAL_ERROR) {
      // The commit of an implicit transaction at this sync point failed
      // (a check the server makes at the commit): its error comes first.
      if (!first) first = ErrorOf(raw, "COMMIT");
      PQclear(raw);
      while (PGresult* more = PQgetResult(conn_.get())) PQclear(more);
      raw = PQgetResult(conn_.get());
    }
    const bool sync = raw != nullptr && PQresultStatus(raw) == PGRES_PIPELINE_SYNC;
    if (raw == nullptr || sync != (entry.kind == InFlight::Kind::kSync)) {
      // The connection broke (or its results came out of step, which only a
      // broken connection does): nothing more is coming.
      PQclear(raw);
      if (!first) first = ErrorOf(nullptr, entry.what);
      broken_ = true;
      in_flight_.clear();
      unchecked_guesses_ = 0;
      unsynced_ = 0;
      break;
    }
    Result result(raw);
    if (sync) continue;
    // The end of this statement's results.
    while (PGresult* more = PQgetResult(conn_.get())) PQclear(more);
    const ExecStatusType status = PQresultStatus(raw);
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
      // Skipped (PGRES_PIPELINE_ABORTED) after an earlier failure, or failed.
      if (entry.kind == InFlight::Kind::kPrepare) prepared_.erase(entry.what);
      if (status != PGRES_PIPELINE_ABORTED && !first) {
        first = ErrorOf(raw, entry.what);
        first->set_statement(entry.what);
        if (entry.expect == Expect::kCounterHeld && (first->not_null_violation() || first->sqlstate() == "22012")) {
          first->set_guess_failed();
          first->set_counter_missed();
        } else if (entry.expect != Expect::kNothing && (first->unique_violation() || first->not_null_violation())) {
          first->set_guess_failed();
          // An identifier counted from a counter another writer has moved.
          const char* constraint = PQresultErrorField(raw, PG_DIAG_CONSTRAINT_NAME);
          if (constraint != nullptr && std::strcmp(constraint, "applications_pkey") == 0) first->set_counter_missed();
        }
      }
      continue;
    }
    if (entry.expect != Expect::kNothing && result.Changed() != 1 && !first) {
      first = PostgresStoreError(VORN_E_FAILURE, "", std::string(entry.what) + ": changed no row");
      first->set_guess_failed();
      if (entry.expect == Expect::kCounterHeld) first->set_counter_missed();
    }
    if (entry.into != nullptr) {
      *entry.into = std::move(result);
    } else if (entry.kind == InFlight::Kind::kStatement) {
      last = std::move(result);
    }
  }
  if (first) throw *first;
  return last;
}

bool PgConnection::Settle() noexcept {
  try {
    if (!in_flight_.empty() || unsynced_ > 0) Sync();
  } catch (...) {
    // Failures of a transaction already ended are not this call's.
  }
  if (!alive()) return false;
  // Nothing is owed on an idle connection: whatever came in is the server
  // closing it (a restart or shutdown since the last call).
  pollfd socket{PQsocket(conn_.get()), POLLIN, 0};
  return poll(&socket, 1, 0) == 0;
}

}  // namespace feroq::store::postgres
