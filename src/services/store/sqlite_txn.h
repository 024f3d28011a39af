// The read view and write transaction of the SQLite farm store: FarmTxn over
// one connection inside a transaction the store has begun.
#ifndef FEROQ_SERVICES_STORE_SQLITE_TXN_H_
#define FEROQ_SERVICES_STORE_SQLITE_TXN_H_

#include <cstdint>
#include <optional>
#include <unordered_map>
#include <vector>

#include "services/store/farm_store.h"
#include "services/store/sqlite_connection.h"
#include "services/store/sqlite_record_cache.h"

namespace feroq::store::sqlite {

// What a transaction has learnt of the farm besides its pages: folders, the
// folders and names of applications, the newest event sequence and the
// highest application serial, each as it stands with the transaction's own
// writes. A read view keeps its own for its life. The store's writer keeps
// one from commit to commit and empties it unless the file is unchanged
// since its own last commit (sqlite3's data version of the writer's
// connection, which counts the commits of every connection), so a write
// need not read again what the previous one read or wrote.
struct TxnMemo {
  // At most this many folders and application names each (a walk over more
  // starts over rather than grow).
  static constexpr std::size_t kMaxEntries = 4096;
  std::unordered_map<ULONG64, FolderRecord> folders;
  std::optional<std::vector<ULONG64>> root_ids;
  std::unordered_map<ULONG64, ApplicationName> app_names;
  std::optional<ULONG64> last_event;
  std::optional<std::int64_t> last_app_serial;
  // The log holds no entry up to this sequence (a trim took them; later
  // appends count on after it).
  ULONG64 trimmed_through = 0;
  // The bytes of the application record last written, whose block the next
  // write's record reuses (it is bound to its statement in place).
  std::string record_bytes;

  void Clear() {
    trimmed_through = 0;
    folders.clear();
    root_ids.reset();
    app_names.clear();
    last_event.reset();
    last_app_serial.reset();
  }
};

// Every operation runs prepared statements of `connection`; a failure raises
// SqliteStoreError (or std::bad_alloc) and is also remembered (failure()),
// so that the store rolls back even when the transaction function swallowed
// the exception. Write operations are used only on the store's writer
// connection inside BEGIN IMMEDIATE.
class SqliteTxn final : public FarmTxn {
 public:
  // A write transaction that takes what `memo` knows and keeps there what
  // it learns and writes.
  SqliteTxn(SqliteConnection& connection, TxnMemo& memo) : c_(connection), memo_(memo) {}
  // A read view that takes application records from `cache`, and with
  // `keep_records` keeps those it reads there, under `generation` (see
  // sqlite_record_cache.h).
  SqliteTxn(SqliteConnection& connection, RecordCache* cache, std::uint64_t generation, bool keep_records)
      : c_(connection), memo_(own_memo_), cache_(cache), generation_(generation), keep_records_(keep_records) {}

  // The code of the first SQLite failure inside this transaction; 0 if none.
  VSTATUS failure() const { return failure_; }
  // Whether AppendEvent ran (waiters are woken after the commit).
  bool appended_events() const { return appended_events_; }
  // Writes what must be in the file when the transaction commits: the
  // application counter, when the last application identifier handed out
  // has no row. Raises.
  void BeforeCommit();

  std::u16string FarmName() const override;
  std::optional<FolderRecord> GetFolder(ULONG64 id) const override;
  std::vector<ULONG64> ChildFolderIds(ULONG64 parent) const override;
  std::vector<FolderRecord> ListFolders() const override;
  std::size_t FolderCount() const override;
  std::optional<ApplicationRecord> GetApplication(ULONG64 id) const override;
  std::shared_ptr<const ApplicationRecord> GetApplicationShared(ULONG64 id) const override;
  std::optional<ULONG64> ApplicationFolder(ULONG64 id) const override;
  std::vector<ULONG64> ApplicationIds(ULONG64 folder) const override;
  std::size_t ApplicationCount() const override;
  std::vector<ULONG64> ApplicationIdsAfter(ULONG64 after, std::size_t max_count) const override;
  std::vector<ApplicationName> ApplicationNames(ULONG64 folder) const override;
  std::optional<ApplicationName> GetApplicationName(ULONG64 id) const override;
  std::optional<ULONG64> FindChildByName(ULONG64 folder, const std::u16string& name,
                                         ULONG64 except) const override;
  std::vector<ULONG64> ChildrenNamed(ULONG64 folder, const std::u16string& name) const override;
  std::size_t ChildCount(ULONG64 folder) const override;
  std::vector<ULONG64> FindApplicationsByBrowserName(const std::u16string& name) const override;
  std::optional<ServerRecord> GetServer(ULONG64 id) const override;
  std::optional<ServerRecord> FindServerByName(const std::u16string& name) const override;
  std::vector<ServerRecord> ListServers() const override;
  std::size_t ServerCount() const override;
  std::optional<AccountRecord> FindAccountByDn(const std::u16string& dn) const override;
  std::optional<AccountRecord> FindAccount(const std::u16string& authority_type,
                                           const std::u16string& instance,
                                           const std::u16string& account_name) const override;
  std::vector<AccountRecord> ListAccounts() const override;
  std::size_t AccountCount() const override;
  std::vector<EventRecord> EventsAfter(ULONG64 after, std::size_t max_count) const override;
  ULONG64 LastEventSequence() const override;
  std::optional<EventQueueRecord> GetEventQueue(LONG handle) const override;
  std::vector<EventQueueRecord> ListEventQueues() const override;

  void SetFarmName(const std::u16string& name) override;
  ULONG64 AllocateId(ULONG kind) override;
  void AdvanceSerial(ULONG kind, ULONG serial) override;
  void PutFolder(const FolderRecord& folder) override;
  void DeleteFolder(ULONG64 id) override;
  void PutApplication(const ApplicationRecord& application) override;
  void DeleteApplication(ULONG64 id) override;
  bool PutApplicationHoldingNames(const ApplicationRecord& application) override;
  bool PutApplicationKeepingNames(const ApplicationRecord& application) override;
  bool WritesKeepingNames() const override { return true; }
  void PutServer(const ServerRecord& server) override;
  void DeleteServer(ULONG64 id) override;
  void PutAccount(const AccountRecord& account) override;
  void DeleteAccount(const std::u16string& dn) override;
  ULONG64 AppendEvent(USHORT event_id, const std::vector<BYTE>& record,
                      const std::optional<std::u16string>& object_dn) override;
  LONG AllocateEventQueueHandle() override;
  void PutEventQueue(const EventQueueRecord& queue) override;
  void DeleteEventQueue(LONG handle) override;
  void DeleteEventsThrough(ULONG64 sequence) override;
  void Clear() override;

 private:
  // Runs `fn`, remembering the code of a SqliteStoreError that leaves it.
  template <class Fn>
  auto Guarded(Fn&& fn) const -> decltype(fn());
  // The next value of counter `kind` of the serials table (from 1), which
  // must stay below `limit`: std::bad_alloc once it would reach it.
  std::int64_t NextSerial(std::int64_t kind, std::int64_t limit);
  // Makes counter `kind` of the serials table at least `serial`.
  void KeepSerial(ULONG kind, ULONG serial);
  // The columns an application's row is written with.
  struct EncodedApplication {
    // The record is encoded into `record_bytes`.
    EncodedApplication(const ApplicationRecord& a, std::string& record_bytes);
    std::string browser_key;
    std::string display_key;
    const std::string& record;
  };
  // Writes only the record (and the display name's spelling) of `a`, in
  // place, when its row exists and keeps its folder and both name keys: no
  // index changes. False when that is not so (nothing is written then).
  bool UpdateRecordInPlace(const ApplicationRecord& a, const EncodedApplication& encoded);
  // Writes `record` over row `id`, whose folder and display name stay, when
  // the row has the browser name key `browser_key`; false when it has not
  // (or is missing), with nothing written.
  bool UpdateRecordOnly(ULONG64 id, const std::string& record, const std::string& browser_key);
  // Inserts or replaces the row of `a` in one statement, its holder columns
  // taking `holder` where its names are new to the row (see
  // sqlite_schema.cc); false when that would give a name a second holder
  // (nothing is written then).
  bool WriteApplication(const ApplicationRecord& a, const EncodedApplication& encoded, ULONG64 holder);
  // The single number a count statement yields.
  std::size_t Count(Sql statement, std::optional<ULONG64> id = std::nullopt) const;

  SqliteConnection& c_;
  // The memo of a read view (see TxnMemo).
  TxnMemo own_memo_;
  TxnMemo& memo_;
  RecordCache* const cache_ = nullptr;
  // Drops what is known of folder `id` and of the root folders, before a
  // write that may change them.
  void ForgetFolder(ULONG64 id);
  // Notes that the row of `a` has been written.
  void Written(const ApplicationRecord& a);
  // Notes the folder and name of application `name.id`.
  void KnowName(const ApplicationName& name) const;

  // The identifier AllocateId last handed out, until an application row is
  // written under it: no row can have it yet, so a write of it need not
  // try to update one in place.
  ULONG64 unwritten_id_ = 0;
  // The highest application identifier handed out in this transaction
  // (they ascend), and whether a row has been written under it.
  ULONG64 highest_application_ = 0;
  bool highest_application_written_ = false;
  const std::uint64_t generation_ = 0;
  const bool keep_records_ = false;
  mutable VSTATUS failure_ = 0;
  bool appended_events_ = false;
};

}  // namespace feroq::store::sqlite

#endif  // FEROQ_SERVICES_STORE_SQLITE_TXN_H_
