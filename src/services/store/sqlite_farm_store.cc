// SqliteFarmStore: transactions, the connection pool and waiting for events
// (see sqlite_farm_store.h).
#include "services/store/sqlite_farm_store.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <new>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "feroq/services/farm_admin.h"
#include "platform/platform.h"
#include "services/store/sqlite_connection.h"
#include "services/store/sqlite_schema.h"
#include "services/store/sqlite_txn.h"

namespace feroq::store {
namespace sqlite {
// sqlite_farm_file.cc: how the file at `path` can be opened (see there).
VSTATUS ChooseFarmFileAccess(const std::string& path, bool create_if_missing, bool* read_only);
}  // namespace sqlite

namespace {

using sqlite::Sql;
using sqlite::SqliteConnection;
using sqlite::SqliteStoreError;
using sqlite::SqliteTxn;
using sqlite::Statement;

// Idle reader connections kept for the next Read(); more are opened when
// more threads read at once, and closed again after use.
constexpr std::size_t kIdleReaders = 4;

// Ends the open transaction of `connection`, keeping nothing. Never raises.
void RollBack(SqliteConnection& connection) noexcept {
  if (sqlite3_get_autocommit(connection.db())) return;
  try {
    Statement(connection, Sql::kRollback).Run();
  } catch (...) {
    // The kept statement could not be made or run: once more, unprepared.
    sqlite3_exec(connection.db(), "ROLLBACK", nullptr, nullptr, nullptr);
  }
}

// Pages in the write-ahead log past which a commit has it checkpointed
// (SQLite's own default), and past which the committing writer checkpoints
// whatever the thread is doing.
constexpr int kCheckpointPages = 1000;
constexpr int kWalPagesBound = 8 * kCheckpointPages;
// The size the log file is cut back to when it starts over.
constexpr int kWalFileBytesKept = 4 * kCheckpointPages * 4096;

// Keeps the write-ahead log short without making a committing caller copy
// it into the database. SQLite's automatic checkpoint, which copies the
// whole log inside the COMMIT that crosses its threshold, is replaced
// (Watch) by a hook in two steps:
// - past kCheckpointPages, a thread of the store (started on first need)
//   copies the log into the database with a passive checkpoint (it never
//   waits for readers or writers) through a connection of its own;
// - at the next commit after the thread is done, the writer runs a passive
//   checkpoint itself, which copies only what was committed meanwhile: then
//   every page is in the database and the next transaction starts the log
//   over from its beginning (the thread alone never catches up with a busy
//   writer, so the log would only grow).
// Past kWalPagesBound the writer checkpoints itself unless the thread is
// already copying. The destructor waits for a checkpoint under way.
class Checkpointer {
 public:
  explicit Checkpointer(std::string path) : path_(std::move(path)) {}
  ~Checkpointer() {
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
  }
  Checkpointer(const Checkpointer&) = delete;
  Checkpointer& operator=(const Checkpointer&) = delete;

  // Installs the hook on the writer connection `connection`. Raises.
  void Watch(SqliteConnection& connection) {
    connection.Exec(("PRAGMA journal_size_limit = " + std::to_string(kWalFileBytesKept)).c_str());
    sqlite3_wal_hook(connection.db(), &Committed, this);
  }

 private:
  static int Committed(void* self, sqlite3* db, const char* schema, int pages) {
    if (pages < kCheckpointPages) return SQLITE_OK;
    auto* checkpointer = static_cast<Checkpointer*>(self);
    bool finish = false;
    {
      std::lock_guard lock(checkpointer->mutex_);
      if (checkpointer->busy_) {
        // The thread is copying; the next commit looks again. A thread not
        // yet woken (a loaded machine) is not waited for past the bound:
        // the writer takes the request back and copies itself.
        if (checkpointer->requested_ && pages >= kWalPagesBound) {
          checkpointer->requested_ = false;
          checkpointer->busy_ = false;
          finish = true;
        }
      } else if (checkpointer->copied_) {
        checkpointer->copied_ = false;
        finish = true;
      } else {
        finish = !checkpointer->RequestLocked() || pages >= kWalPagesBound;
      }
    }
    checkpointer->wake_.notify_one();
    if (finish) sqlite3_wal_checkpoint_v2(db, schema, SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr);
    return SQLITE_OK;
  }

  // Asks the thread for a checkpoint (the caller holds mutex_ and notifies);
  // false when no thread can run it.
  bool RequestLocked() noexcept {
    try {
      if (!thread_.joinable()) thread_ = std::thread([this] { Run(); });
    } catch (...) {
      return false;
    }
    requested_ = true;
    busy_ = true;
    return true;
  }

  void Run() {
    std::unique_ptr<SqliteConnection> own;
    std::unique_lock lock(mutex_);
    for (;;) {
      wake_.wait(lock, [&] { return requested_ || stopping_; });
      if (stopping_) return;
      requested_ = false;
      lock.unlock();
      bool copied = false;
      try {
        if (!own) own = std::make_unique<SqliteConnection>(path_);
        copied = sqlite3_wal_checkpoint_v2(own->db(), "main", SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr) ==
                 SQLITE_OK;
      } catch (...) {
        // The next commit past the threshold asks again.
      }
      lock.lock();
      busy_ = false;
      copied_ = copied;
    }
  }

  const std::string path_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool requested_ = false;
  bool busy_ = false;    // the thread is asked for or running a checkpoint
  bool copied_ = false;  // the thread's last checkpoint copied the log
  bool stopping_ = false;
  std::thread thread_;
};

class SqliteFarmStore final : public FarmStore {
 public:
  SqliteFarmStore(std::string path, std::unique_ptr<SqliteConnection> writer, bool read_only,
                  LONG poll_interval_ms)
      : path_(std::move(path)),
        read_only_(read_only),
        poll_interval_ms_(std::max<LONG>(poll_interval_ms, 1)),
        writer_(std::move(writer)),
        checkpointer_(path_) {
    if (!read_only_) checkpointer_.Watch(*writer_);
  }

  ~SqliteFarmStore() override { platform::CloseChangeSignal(signal_); }

  VSTATUS Read(const std::function<VSTATUS(const FarmView&)>& fn) override { return ReadKeeping(fn, true); }
  VSTATUS ReadMany(const std::function<VSTATUS(const FarmView&)>& fn) override { return ReadKeeping(fn, false); }

  // A read transaction whose view takes records from the kept ones and,
  // with `keep_records`, keeps those it reads from the file.
  VSTATUS ReadKeeping(const std::function<VSTATUS(const FarmView&)>& fn, bool keep_records) {
    std::unique_ptr<SqliteConnection> reader;
    std::uint64_t generation = 0;
    try {
      reader = TakeReader();
      Statement(*reader, Sql::kBegin).Run();
      generation = cache_.Begin(reader->FileChangedSinceLastLook());
    } catch (const SqliteStoreError& e) {
      if (reader) {
        RollBack(*reader);
        GiveBack(std::move(reader));
      }
      return e.code();
    }
    VSTATUS result;
    try {
      SqliteTxn view(*reader, &cache_, generation, keep_records);
      result = fn(view);
      // A failure that `fn` swallowed still makes its result worthless.
      if (view.failure() != 0) result = view.failure();
    } catch (const SqliteStoreError& e) {
      result = e.code();
    } catch (...) {
      RollBack(*reader);
      GiveBack(std::move(reader));
      throw;
    }
    RollBack(*reader);  // a read transaction has nothing to keep
    GiveBack(std::move(reader));
    return result;
  }

  VSTATUS Write(const std::function<VSTATUS(FarmTxn&)>& fn) override {
    if (read_only_) return admin::kFarmReadOnly;
    bool appended_events = false;
    VSTATUS result;
    {
      std::lock_guard lock(writer_mutex_);
      SqliteConnection& c = *writer_;
      try {
        Statement(c, Sql::kBeginImmediate).Run();
      } catch (const SqliteStoreError& e) {
        RollBack(c);
        return e.code();
      }
      // What the previous write learnt holds while no other connection has
      // committed since; a write that does not commit leaves it unsure.
      const std::optional<unsigned> version = c.DataVersion();
      if (!memo_version_ || version != memo_version_) writer_memo_.Clear();
      memo_version_.reset();
      try {
        SqliteTxn txn(c, writer_memo_);
        result = fn(txn);
        if (txn.failure() != 0) result = txn.failure();
        if (result == 0) {
          txn.BeforeCommit();
          if (txn.failure() != 0) result = txn.failure();
        }
        if (result == 0) {
          Statement(c, Sql::kCommit).Run();
          memo_version_ = c.DataVersion();
          appended_events = txn.appended_events();
        }
      } catch (const SqliteStoreError& e) {
        result = e.code();
      } catch (...) {
        RollBack(c);
        throw;
      }
      if (result != 0) RollBack(c);
    }
    if (appended_events) {
      if (platform::ChangeSignal* signal = Signal()) platform::RaiseChangeSignal(signal);
      {
        std::lock_guard wake_lock(wake_mutex_);
        ++commits_with_events_;
      }
      wake_.notify_all();
    }
    return result;
  }

  bool WaitForEventAfter(ULONG64 after, LONG timeout_ms) override {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeout_ms > 0 ? timeout_ms : 0);
    platform::ChangeSignal* const signal = timeout_ms != 0 ? Signal() : nullptr;
    for (;;) {
      // Read before looking at the file, so that a commit after the look
      // ends the wait below at once.
      std::uint32_t signal_seen = 0;
      if (signal != nullptr) signal_seen = platform::ChangeSignalValue(signal);
      std::uint64_t seen;
      {
        std::lock_guard wake_lock(wake_mutex_);
        seen = commits_with_events_;
      }
      if (NewestEvent() > after) return true;
      if (timeout_ms == 0) return false;
      const Clock::time_point now = Clock::now();
      if (timeout_ms > 0 && now >= deadline) return false;
      Clock::duration wait = std::chrono::milliseconds(poll_interval_ms_);
      if (timeout_ms > 0 && deadline - now < wait) wait = deadline - now;
      if (signal != nullptr) {
        // Every commit with events raises the signal, this store's own too.
        const auto wait_ms = std::chrono::ceil<std::chrono::milliseconds>(wait).count();
        platform::WaitForChangeSignal(signal, signal_seen, static_cast<int>(wait_ms));
      } else {
        std::unique_lock wake_lock(wake_mutex_);
        wake_.wait_for(wake_lock, wait, [&] { return commits_with_events_ != seen; });
      }
    }
  }

 private:
  // The newest event sequence in the file; 0 when it cannot be read (the
  // waiter then tries again at the next poll).
  ULONG64 NewestEvent() {
    std::unique_ptr<SqliteConnection> reader;
    ULONG64 newest = 0;
    try {
      reader = TakeReader();
      Statement s(*reader, Sql::kLastEvent);
      if (s.Step()) newest = s.Id(0);
    } catch (const std::exception&) {
      newest = 0;
    }
    if (reader) GiveBack(std::move(reader));
    return newest;
  }

  // The farm's change signal, opened at its first use; null when it cannot
  // be opened (then waiters only poll, and are woken at once only by
  // commits through this store object).
  platform::ChangeSignal* Signal() {
    std::call_once(signal_once_, [this] { signal_ = platform::OpenChangeSignal(path_); });
    return signal_;
  }

  std::unique_ptr<SqliteConnection> TakeReader() {
    {
      std::lock_guard lock(pool_mutex_);
      if (!idle_readers_.empty()) {
        std::unique_ptr<SqliteConnection> reader = std::move(idle_readers_.back());
        idle_readers_.pop_back();
        return reader;
      }
    }
    auto reader = std::make_unique<SqliteConnection>(path_, read_only_);
    if (read_only_) sqlite::ReadOlderFarmThroughViews(*reader);
    reader->Exec("PRAGMA query_only = ON");
    return reader;
  }

  void GiveBack(std::unique_ptr<SqliteConnection> reader) noexcept {
    std::lock_guard lock(pool_mutex_);
    if (idle_readers_.size() < kIdleReaders) {
      try {
        idle_readers_.push_back(std::move(reader));
      } catch (const std::bad_alloc&) {
        // The connection is closed instead.
      }
    }
  }

  const std::string path_;
  const bool read_only_;
  const LONG poll_interval_ms_;
  std::once_flag signal_once_;
  platform::ChangeSignal* signal_ = nullptr;
  std::mutex writer_mutex_;
  std::unique_ptr<SqliteConnection> writer_;
  // What the writer's transactions know beyond the file's pages, and the
  // writer connection's data version after the commit that left it (none:
  // not to be trusted). Guarded by writer_mutex_.
  sqlite::TxnMemo writer_memo_;
  std::optional<unsigned> memo_version_;
  // Destroyed before the writer, which then closes last and, as SQLite
  // does for a file's last connection, checkpoints what is left.
  Checkpointer checkpointer_;
  std::mutex pool_mutex_;
  std::vector<std::unique_ptr<SqliteConnection>> idle_readers_;
  sqlite::RecordCache cache_;
  std::mutex wake_mutex_;
  std::condition_variable wake_;
  std::uint64_t commits_with_events_ = 0;
};

}  // namespace

VSTATUS OpenSqliteFarmStore(const std::string& path, std::shared_ptr<FarmStore>* store) {
  return OpenSqliteFarmStore(path, SqliteOpenOptions{}, store);
}

VSTATUS OpenSqliteFarmStore(const std::string& path, const SqliteOpenOptions& options,
                            std::shared_ptr<FarmStore>* store) {
  try {
    if (path.empty()) return admin::kFarmFileUnavailable;
    bool read_only = false;
    if (VSTATUS status = sqlite::ChooseFarmFileAccess(path, options.create_if_missing, &read_only)) return status;
    auto writer = std::make_unique<SqliteConnection>(path, read_only);
    sqlite::PrepareFarmSchema(*writer, read_only);
    *store = std::make_shared<SqliteFarmStore>(path, std::move(writer), read_only, options.poll_interval_ms);
    return VORN_OK;
  } catch (const SqliteStoreError& e) {
    return e.code();
  } catch (const std::bad_alloc&) {
    return VORN_E_OUTOFMEMORY;
  }
}

VSTATUS CheckSqliteFarmFile(const std::string& path, std::string* report) {
  try {
    sqlite3* db = nullptr;
    int result = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
    std::unique_ptr<sqlite3, int (*)(sqlite3*)> owner(db, &sqlite3_close_v2);
    if (result != SQLITE_OK) return admin::kFarmFileUnavailable;
    sqlite3_busy_timeout(db, 5000);
    sqlite3_stmt* stmt = nullptr;
    result = sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &stmt, nullptr);
    if (result != SQLITE_OK) return sqlite::SqliteStatusCode(result);
    std::string findings;
    while ((result = sqlite3_step(stmt)) == SQLITE_ROW) {
      if (!findings.empty()) findings += '\n';
      findings += reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0));
    }
    sqlite3_finalize(stmt);
    if (result != SQLITE_DONE) {
      const VSTATUS code = sqlite::SqliteStatusCode(result);
      *report = sqlite3_errstr(result);
      return code;
    }
    *report = findings;
    return findings == "ok" ? VORN_OK : admin::kFarmFileCorrupt;
  } catch (const std::bad_alloc&) {
    return VORN_E_OUTOFMEMORY;
  }
}

}  // namespace feroq::store
