// PostgresFarmStore: transactions with their retries, connections and
// waiting for events (see postgres_farm_store.h).
#include "services/store/postgres_farm_store.h"

#include <poll.h>

#include <algorithm>
#include <chrono>
#include <mutex>
#include <optional>
#include <new>
#include <random>
#include <thread>
#include <unordered_map>
#include <vector>

#include "feroq/services/farm_admin.h"
#include "services/store/postgres_connection.h"
#include "services/store/postgres_schema.h"
#include "services/store/postgres_txn.h"

namespace feroq::store {
namespace {

using postgres::PgConnection;
using postgres::PostgresStoreError;
using postgres::PostgresTxn;

// A pause of up to 2^attempt ms (at most 64 ms), random so that two
// colliding writers do not collide again in step.
void PauseBeforeAttempt(int attempt) {
  thread_local std::minstd_rand random(static_cast<unsigned>(
      std::chrono::steady_clock::now().time_since_epoch().count() ^
      std::hash<std::thread::id>()(std::this_thread::get_id())));
  const int bound = 1 << (attempt < 6 ? attempt : 6);
  std::this_thread::sleep_for(std::chrono::microseconds(random() % (bound * 1000)));
}

// Readies the store's transaction connection: pipeline mode, and
// REPEATABLE READ for every transaction of the session (a write's is the
// server's implicit one, which no BEGIN names a level for).
void UseForTransactions(PgConnection& c) {
  c.Exec("SET SESSION CHARACTERISTICS AS TRANSACTION ISOLATION LEVEL REPEATABLE READ");
  c.EnterPipelineMode();
}

class PostgresFarmStore final : public FarmStore {
 public:
  PostgresFarmStore(std::string url, std::unique_ptr<PgConnection> connection)
      : url_(std::move(url)), connection_(std::move(connection)) {}

  VSTATUS Read(const std::function<VSTATUS(const FarmView&)>& fn) override {
    std::lock_guard lock(mutex_);
    return *ReadLocked(fn, false);
  }

  // One question is one statement, which sees a snapshot of its own: it
  // goes without BEGIN and ROLLBACK, two statements fewer for the server.
  VSTATUS ReadOne(const std::function<VSTATUS(const FarmView&)>& fn) override {
    std::lock_guard lock(mutex_);
    std::optional<VSTATUS> result = ReadLocked(fn, true);
    return result ? *result : *ReadLocked(fn, false);
  }

  VSTATUS Write(const std::function<VSTATUS(FarmTxn&)>& fn) override {
    std::lock_guard lock(mutex_);
    VSTATUS result = admin::kFarmWriteConflict;
    bool guess_names = true;
    // Counting from the counters' values after this store's last commit
    // saves reading them; a miss (another writer moved one) runs the
    // write again at once with them read.
    bool count_from_remembered = !remembered_serials_.empty();
    for (int attempt = 0; attempt < kFarmWriteAttempts;) {
      PgConnection* c = nullptr;
      // The server's implicit transaction, at the session's REPEATABLE
      // READ: no BEGIN, and the commit is the sync point that ends it.
      if (VSTATUS status = Begin(Transaction::kImplicit, &c)) return status;
      std::optional<PostgresStoreError> failure;
      try {
        PostgresTxn txn(*c, guess_names);
        txn.set_trim_knowledge(trims_);
        if (guess_names && count_from_remembered) {
          txn.set_remembered_serials(&remembered_serials_);
          txn.set_remembered_folders(&remembered_folders_);
        } else if (guess_names) {
          txn.PrefetchSerials(serial_kinds_);
        }
        try {
          result = fn(txn);
          LearnSerialKinds(txn.used_serial_kinds());
        } catch (const PostgresStoreError&) {
          throw;
        } catch (...) {
          // What left `fn` may stem from a guessed name that was taken: then
          // it is run again without guessing, as below.
          if (c->unchecked_guesses()) c->Sync();
          throw;
        }
        if (txn.failure() != nullptr) {
          failure = *txn.failure();
        } else if (result == VORN_OK) {
          txn.FlushSerials();
          txn.CheckRemembered();
          c->Commit();
          trims_ = txn.trim_knowledge();
          Remember(txn);
          return VORN_OK;
        } else {
          // The queued writes are part of the answer: a refused one, or a
          // name guessed free that was taken, outweighs fn's own result (as
          // does a remembered folder that is no longer current).
          txn.CheckRemembered();
          c->Sync();
        }
      } catch (const PostgresStoreError& e) {
        failure = e;
      } catch (...) {
        End(c);
        throw;
      }
      End(c);
      if (!failure) return result;
      remembered_serials_.clear();
      remembered_folders_.clear();
      if (failure->guess_failed() && failure->counter_missed() && count_from_remembered) {
        // Not a collision either: run again at once, the counters read.
        count_from_remembered = false;
        continue;
      }
      if (failure->guess_failed() && guess_names) {
        // Not a collision: run again at once, without the guess.
        guess_names = false;
        continue;
      }
      result = failure->code();
      if (!failure->conflict()) return result;
      if (++attempt < kFarmWriteAttempts) PauseBeforeAttempt(attempt);
    }
    return result;
  }

  bool WaitForEventAfter(ULONG64 after, LONG timeout_ms) override {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeout_ms > 0 ? timeout_ms : 0);
    auto remaining_ms = [&]() -> int {
      if (timeout_ms < 0) return -1;
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
      return left > 0 ? static_cast<int>(left) : 0;
    };
    std::unique_ptr<PgConnection> listener = TakeListener();
    for (;;) {
      if (listener) {
        try {
          // Listening before looking: a commit after the look is notified.
          if (NewestEvent(*listener) > after) {
            GiveBack(std::move(listener));
            return true;
          }
        } catch (const std::exception&) {
          listener.reset();
        }
      }
      const int wait_ms = remaining_ms();
      if (wait_ms == 0) {
        GiveBack(std::move(listener));
        return false;
      }
      if (!listener) {
        // No server: try again after a pause, until the timeout.
        const int pause = wait_ms < 0 || wait_ms > kReconnectPauseMs ? kReconnectPauseMs : wait_ms;
        std::this_thread::sleep_for(std::chrono::milliseconds(pause));
        listener = TakeListener();
        continue;
      }
      // A notification that came in with the look's reply may be of a
      // commit after the look's snapshot: look again before sleeping.
      bool notified = false;
      while (PGnotify* note = PQnotifies(listener->raw())) {
        PQfreemem(note);
        notified = true;
      }
      if (notified) continue;
      pollfd socket{PQsocket(listener->raw()), POLLIN, 0};
      if (poll(&socket, 1, wait_ms) > 0 && PQconsumeInput(listener->raw()) == 0) listener.reset();
    }
  }

 private:
  // Runs `fn` in a REPEATABLE READ, READ ONLY transaction, or with `single`
  // without one, its first statement alone; then none when `fn` asked for
  // a second (PostgresTxn::set_single_statement).
  std::optional<VSTATUS> ReadLocked(const std::function<VSTATUS(const FarmView&)>& fn, bool single) {
    PgConnection* c = nullptr;
    if (VSTATUS status = Begin(single ? Transaction::kNone : Transaction::kReadOnly, &c)) {
      return status;
    }
    VSTATUS result = VORN_E_FAILURE;
    bool needs_snapshot = false;
    try {
      PostgresTxn view(*c, false);
      if (single) view.set_single_statement();
      try {
        result = fn(view);
      } catch (const PostgresTxn::NeedsSnapshot&) {
      }
      needs_snapshot = view.needs_snapshot();
      // A failure that `fn` swallowed still makes its result worthless.
      if (view.failure() != nullptr) result = view.failure()->code();
    } catch (const PostgresStoreError& e) {
      result = e.code();
    } catch (...) {
      if (!single) End(c);
      throw;
    }
    if (!single) End(c);
    if (needs_snapshot) return std::nullopt;
    return result;
  }

  // Begins a transaction on the connection (kReadOnly: a BEGIN, queued so
  // that it reaches the server with the transaction's first statement;
  // kImplicit: nothing is sent; kNone: none, a statement alone),
  // connecting again when there
  // is none or when the idle one turns out closed by the server (nothing of
  // this transaction has run, so nothing is lost). Returns 0 and the
  // connection, or the failure's code.
  enum class Transaction { kNone, kImplicit, kReadOnly };
  VSTATUS Begin(Transaction transaction, PgConnection** out) {
    for (int tries = 0; tries < 2; ++tries) {
      try {
        if (connection_ && !connection_->Settle()) connection_.reset();
        if (!connection_) {
          auto fresh = std::make_unique<PgConnection>(url_);
          UseForTransactions(*fresh);
          connection_ = std::move(fresh);
        }
        if (transaction == Transaction::kImplicit) connection_->BeginTransaction();
        if (transaction == Transaction::kReadOnly) {
          connection_->BeginTransaction("BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY");
        }
        *out = connection_.get();
        return VORN_OK;
      } catch (const PostgresStoreError& e) {
        // A connection that could not even send is tried once more afresh.
        const bool had_connection = connection_ != nullptr;
        connection_.reset();
        if (!had_connection || tries == 1) return e.code();
      } catch (const std::bad_alloc&) {
        return VORN_E_OUTOFMEMORY;
      }
    }
    return admin::kFarmFileUnavailable;
  }

  // Ends the transaction on `c` (the connection), keeping nothing: the
  // rollback is sent without waiting for it (the next transaction reads
  // its answer, or finds the connection lost and connects again). Never
  // raises; a connection that cannot send is dropped.
  void End(PgConnection* c) noexcept {
    try {
      c->Abandon();
    } catch (...) {
      connection_.reset();
      return;
    }
    if (!c->alive()) connection_.reset();
  }

  // Keeps what a committed write knew of the counters and folders for the
  // next write (at most kRememberedFolders folders).
  void Remember(const PostgresTxn& txn) {
    if (txn.cleared()) {
      remembered_serials_.clear();
      remembered_folders_.clear();
    }
    for (const auto& [kind, last] : txn.serials()) remembered_serials_[kind] = last;
    // A transaction that read the event counter itself knows the folders it
    // read as of that value, but not those remembered from before.
    if (!txn.kept_remembered() && txn.serials().count(0) != 0) remembered_folders_.clear();
    if (remembered_folders_.size() + txn.folders().size() > kRememberedFolders) remembered_folders_.clear();
    for (const auto& [id, folder] : txn.folders()) remembered_folders_.insert_or_assign(id, folder);
  }
  static constexpr std::size_t kRememberedFolders = 4096;

  // Keeps the counter kinds a write took, most recent first, for the next
  // writes to read with their first statement.
  void LearnSerialKinds(const std::vector<ULONG>& used) {
    for (auto kind = used.rbegin(); kind != used.rend(); ++kind) {
      auto known = std::find(serial_kinds_.begin(), serial_kinds_.end(), *kind);
      if (known != serial_kinds_.end()) serial_kinds_.erase(known);
      serial_kinds_.insert(serial_kinds_.begin(), *kind);
    }
    if (serial_kinds_.size() > PostgresTxn::kPrefetchedKinds) serial_kinds_.resize(PostgresTxn::kPrefetchedKinds);
  }

  // The newest event sequence, read on the listener connection.
  static ULONG64 NewestEvent(PgConnection& c) {
    postgres::Result r = c.Run("SELECT last FROM serials WHERE kind = 0");
    return r.Rows() > 0 ? r.Id(0, 0) : ULONG64{0};
  }

  // An idle listener, or a new one that LISTENs; null when the server
  // cannot be reached.
  std::unique_ptr<PgConnection> TakeListener() {
    {
      std::lock_guard lock(listeners_mutex_);
      while (!idle_listeners_.empty()) {
        std::unique_ptr<PgConnection> listener = std::move(idle_listeners_.back());
        idle_listeners_.pop_back();
        if (listener->alive()) return listener;
      }
    }
    try {
      auto listener = std::make_unique<PgConnection>(url_);
      listener->Exec("LISTEN feroq_farm_events");
      return listener;
    } catch (const std::exception&) {
      return nullptr;
    }
  }

  void GiveBack(std::unique_ptr<PgConnection> listener) noexcept {
    if (!listener || !listener->alive()) return;
    std::lock_guard lock(listeners_mutex_);
    try {
      idle_listeners_.push_back(std::move(listener));
    } catch (const std::bad_alloc&) {
      // The connection is closed instead.
    }
  }

  const std::string url_;
  std::mutex mutex_;  // guards connection_ and every transaction on it
  std::unique_ptr<PgConnection> connection_;
  std::vector<ULONG> serial_kinds_;  // see LearnSerialKinds
  // The counters' values after this store's last commit (kind -> last
  // serial), for the next write to count from; emptied by a failed one.
  std::unordered_map<ULONG, std::int64_t> remembered_serials_;
  PostgresTxn::FolderMap remembered_folders_;  // see PostgresTxn::set_remembered_folders
  // What this store saw of the event log's trims (PostgresTxn::TrimKnowledge).
  PostgresTxn::TrimKnowledge trims_;
  std::mutex listeners_mutex_;
  std::vector<std::unique_ptr<PgConnection>> idle_listeners_;
};

}  // namespace

VSTATUS OpenPostgresFarmStore(const std::string& url, bool create, std::shared_ptr<FarmStore>* store) {
  try {
    auto connection = std::make_unique<PgConnection>(url);
    postgres::PrepareFarmSchema(*connection, create);
    UseForTransactions(*connection);
    *store = std::make_shared<PostgresFarmStore>(url, std::move(connection));
    return VORN_OK;
  } catch (const PostgresStoreError& e) {
    return e.code();
  } catch (const std::bad_alloc&) {
    return VORN_E_OUTOFMEMORY;
  }
}

VSTATUS CreatePostgresFarmRoles(const std::string& url, const std::string& prefix) {
  try {
    PgConnection connection(url);
    postgres::CreateFarmRoles(connection, prefix);
    return VORN_OK;
  } catch (const PostgresStoreError& e) {
    return e.code();
  } catch (const std::bad_alloc&) {
    return VORN_E_OUTOFMEMORY;
  }
}

}  // namespace feroq::store
