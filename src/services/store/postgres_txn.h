// The read view and write transaction of the PostgreSQL farm store: FarmTxn
// over one connection inside a transaction the store has begun.
#ifndef FEROQ_SERVICES_STORE_POSTGRES_TXN_H_
#define FEROQ_SERVICES_STORE_POSTGRES_TXN_H_

#include <unordered_map>
#include <vector>

#include "services/store/farm_store.h"
#include "services/store/postgres_connection.h"

namespace feroq::store::postgres {

// A write transaction runs at REPEATABLE READ: two transactions that both
// change one row cannot both commit unless one began after the other's
// commit (the later change fails to serialize). The rules the services
// check across rows hold because the writes they concern change a common
// row, the writers' turn, the event counter's (kind 0 of the serials):
//   - every service write that changes a folder or an application appends
//     an event, so it updates that row: a publish, save or move into a
//     folder another writer deletes, a folder and an application given the
//     same name in one folder, two folder moves that together would make a
//     cycle, two folders of one name; and a publish naming a server another
//     writer removes, since removing a server (DeleteServer) and adding or
//     replacing an account (PutAccount: its two keys' check) and clearing
//     the farm take the turn too (TakeWritersTurn);
//   - two servers added under one name update the servers' identifier
//     counter, two queues made the farm row's queue handle;
//   - a trim of the event log that deletes entries updates the farm row as
//     a queue's creation does, so that no queue starts at an entry a trim
//     that did not see it deletes;
//   - everything else is one row's (a queue's positions, the farm name) or
//     a unique index's (application names, accounts, identifiers).
//
// Every operation runs statements of `connection` (in pipeline mode); a
// failure raises PostgresStoreError (or std::bad_alloc) and is also
// remembered (failure()), so that the store rolls back, or runs the
// transaction again after a conflict, even when the transaction function
// swallowed the exception.
//
// Writes whose outcome the caller does not need are queued and reach the
// server with the next read or the commit, so a failure of one may be
// raised by a later call of the same transaction. With `guess_names`,
// PutApplicationHoldingNames is queued too, on the guess that its names are
// free; when they are not, the call that reads its result raises an error
// whose guess_failed() is true, and the store runs the transaction again
// without guessing, so that the function then sees the refusal.
//
// Serials: the store may have the counters of the kinds its earlier writes
// took read with the transaction's first statement (PrefetchSerials); an
// identifier or event sequence of such a kind is then counted here and the
// counter row updated on the condition that it still holds the value read,
// queued. A counter another writer moved after this transaction's snapshot
// makes that update fail to serialize (a collision, run again as any), so
// no serial is handed out twice. The store may instead hand the values the
// counters had after its last commit (set_remembered_serials) and send no
// such read: a remembered value is counted from in the same way, on the
// guess that no other writer has moved the counter since; when one has,
// the update finds another value and changes no row, and the transaction
// is run again with the counters read (PostgresStoreError::counter_missed).
// A remembered value is never answered as the farm's (LastEventSequence
// asks the server). The update of an identifier counter waits
// for the next event, whose statement updates both counter rows in one
// (one statement fewer for the server), or for FlushSerials before the
// commit; an application row written before it under an identifier another
// writer also took is refused by the primary key, which ends the guess
// (PgConnection::Expect) as a taken name does.
//
// Trimming the event log: the store tells the transaction what it knows of
// earlier trims (TrimKnowledge: the highest sequence through which it saw a
// trim commit). A trim through a higher sequence then deletes only the
// entries above that one, so that the delete starts where the kept entries
// start instead of walking, from the log's first index entry on, the
// entries earlier trims left for vacuum to clean (a few hundred
// microseconds once the log has been trimmed a few thousand times); a trim
// through that sequence or a lower one has nothing to delete and sends
// nothing. Event sequences are handed out in commit order (their counter
// row is taken by one writer at a time), so no entry at or below a
// committed trim appears later, with one exception: Clear starts the
// sequences again. A store that clears forgets what it knew; entries
// another store's Clear and appends put below what this store knows are
// taken by the next trim that deletes everything at or below its sequence,
// which every kFullTrimInterval-th trim of a store does (and its first).
//
// The folders and application names this transaction has read or written
// are kept for the rest of it (its snapshot does not change but for its own
// writes), so that the walk that names an event's object does not ask the
// server again for what the same function just read or wrote.
class PostgresTxn final : public FarmTxn {
 public:
  PostgresTxn(PgConnection& connection, bool guess_names) : c_(connection), guess_names_(guess_names) {}
  // A view for one statement, run without a transaction around it (a single
  // statement sees one snapshot of its own): a second statement raises
  // NeedsSnapshot instead of running, and needs_snapshot() is set from then
  // on, so that the store runs the whole read again in a transaction.
  struct NeedsSnapshot {};
  void set_single_statement() { single_statement_ = true; }
  bool needs_snapshot() const { return needs_snapshot_; }

  PostgresTxn(const PostgresTxn&) = delete;
  PostgresTxn& operator=(const PostgresTxn&) = delete;
  ~PostgresTxn() override { c_.ForgetResultSlots(); }

  // Queues the read of the counters of `kinds` (at most kPrefetchedKinds;
  // kind 0 counts event sequences).
  void PrefetchSerials(const std::vector<ULONG>& kinds);
  static constexpr std::size_t kPrefetchedKinds = 4;
  // The counter kinds this transaction took identifiers or sequences of,
  // in the order first taken.
  const std::vector<ULONG>& used_serial_kinds() const { return used_kinds_; }
  // Queues the counter updates still owed for identifiers handed out (the
  // store calls it before the commit).
  void FlushSerials();
  // Counter values to count from when this transaction has not read them
  // (kind -> last serial; kept by the caller for the transaction's life).
  void set_remembered_serials(const std::unordered_map<ULONG, std::int64_t>* remembered) {
    remembered_ = remembered;
  }
  // Folders (by id: the row, or none for one known absent) as the farm
  // held them when the event counter held the remembered value, answered
  // by GetFolder when this transaction has not read the folder. Every
  // change of a folder logs an event, so the statement that logs this
  // transaction's event (counting from that value) finds them current or
  // refuses the write; a transaction that logs none checks the counter
  // before it ends (CheckRemembered).
  using FolderMap = std::unordered_map<ULONG64, std::optional<FolderRecord>>;
  void set_remembered_folders(const FolderMap* remembered) { remembered_folders_ = remembered; }
  // Queues the check that the event counter still holds the remembered
  // value when a remembered folder was answered and no event logged (a
  // failure is a counter_missed() guess failure).
  void CheckRemembered();
  const FolderMap& folders() const { return folders_; }
  // Whether the commit of this transaction shows the remembered folders
  // still held when it began (its event counted from the remembered
  // counter, or CheckRemembered queued its check).
  bool kept_remembered() const { return kept_remembered_; }
  // The counters' values as this transaction read or left them, and
  // whether it cleared the farm (its counters start again).
  const std::unordered_map<ULONG, std::int64_t>& serials() const { return serials_; }
  bool cleared() const { return cleared_; }

  // The first failure inside this transaction, or null.
  const PostgresStoreError* failure() const { return failure_ ? &*failure_ : nullptr; }
  // Whether AppendEvent ran (the commit then notifies the waiters).
  bool appended_events() const { return appended_events_; }
  // What the store knows of the log's trims before this transaction, and
  // what it knows once the transaction commits.
  struct TrimKnowledge {
    std::optional<ULONG64> through;  // every entry at or below it is gone
    std::uint64_t trims = 0;         // trims asked of this store so far
  };
  void set_trim_knowledge(const TrimKnowledge& known) { trims_ = known; }
  const TrimKnowledge& trim_knowledge() const { return trims_; }
  static constexpr std::uint64_t kFullTrimInterval = 1024;

  std::u16string FarmName() const override;
  std::optional<FolderRecord> GetFolder(ULONG64 id) const override;
  std::vector<ULONG64> ChildFolderIds(ULONG64 parent) const override;
  std::vector<FolderRecord> ListFolders() const override;
  std::size_t FolderCount() const override;
  std::optional<ApplicationRecord> GetApplication(ULONG64 id) const override;
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
  // Runs a statement and waits for its result (see set_single_statement).
  Result Run(const char* sql, const Params& params = Params()) const;
  // Runs `fn`, remembering the first PostgresStoreError that leaves it.
  template <class Fn>
  auto Guarded(Fn&& fn) const -> decltype(fn());
  std::size_t Count(const char* sql) const;
  // Writes `a` with its holder columns taking `holder` where its names are
  // new to the row; false, with nothing written, when a unique index
  // refuses it (the statement runs inside a savepoint, since a refused
  // statement would otherwise end the whole transaction).
  bool WriteApplication(const ApplicationRecord& a, ULONG64 holder);
  // Writes without waiting for the outcome.
  void Queue(const char* sql, const Params& params) { c_.Queue(sql, params); }
  // The last serial of `kind` as this transaction knows it (reading the
  // prefetched counters when they include it).
  std::optional<std::int64_t> KnownSerial(ULONG kind) const;
  // KnownSerial, else the remembered value: the value to count from.
  std::optional<std::int64_t> CountFrom(ULONG kind) const;
  void UseKind(ULONG kind);
  // Keeps `id`, handed out by AllocateId, as one no row has yet (an
  // application's first write is then a plain insert); returns it.
  ULONG64 HandOut(ULONG64 id) {
    if (ObjectKindOf(id) == kObjectKindApplication) handed_out_.push_back(id);
    return id;
  }
  void KnowApplication(const ApplicationRecord& a) {
    app_names_[a.id] = ApplicationName{a.id, a.folder_id, a.data.friendly_name};
  }

  PgConnection& c_;
  const bool guess_names_;
  bool single_statement_ = false;
  mutable bool needs_snapshot_ = false;
  mutable int statements_ = 0;
  mutable std::optional<PostgresStoreError> failure_;
  bool appended_events_ = false;
  TrimKnowledge trims_;
  // What this transaction knows of folders and application names by id:
  // the row, or none for a row known to be absent.
  mutable std::unordered_map<ULONG64, std::optional<FolderRecord>> folders_;
  mutable std::unordered_map<ULONG64, std::optional<ApplicationName>> app_names_;
  mutable Result prefetched_{nullptr};
  mutable std::vector<ULONG> prefetch_kinds_;  // asked for, not read yet
  mutable std::unordered_map<ULONG, std::int64_t> serials_;
  std::vector<ULONG> used_kinds_;
  // Counters moved by AllocateId whose row is not updated yet: the kind and
  // the value the row holds (serials_ has the value to write).
  struct OwedSerial {
    ULONG kind;
    std::int64_t in_row;
  };
  std::vector<OwedSerial> owed_serials_;
  // Queues the conditional update of one owed counter.
  void QueueSerialUpdate(const OwedSerial& owed);
  // Changes the event counter's row without changing its value (making it
  // when there is none yet), once a transaction (see the class comment).
  void TakeWritersTurn();
  bool took_turn_ = false;
  bool cleared_ = false;
  const std::unordered_map<ULONG, std::int64_t>* remembered_ = nullptr;
  const FolderMap* remembered_folders_ = nullptr;
  mutable bool answered_remembered_ = false;
  bool kept_remembered_ = false;
  bool took_farm_row_ = false;  // a trim's update of the farm row, once
  std::vector<ULONG64> handed_out_;  // see HandOut
};

}  // namespace feroq::store::postgres

#endif  // FEROQ_SERVICES_STORE_POSTGRES_TXN_H_
