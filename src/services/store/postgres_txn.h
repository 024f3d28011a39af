// The read view and write transaction of the PostgreSQL farm store: FarmTxn
// over one connection inside a transaction the store has begun.
#ifndef FEROQ_SERVICES_STORE_POSTGRES_TXN_H_
#define FEROQ_SERVICES_STORE_POSTGRES_TXN_H_

#include "services/store/farm_store.h"
#include "services/store/postgres_connection.h"

namespace feroq::store::postgres {

// Every operation runs statements of `connection`; a failure raises
// PostgresStoreError (or std::bad_alloc) and is also remembered (failure()),
// so that the store rolls back, or runs the transaction again after a
// conflict, even when the transaction function swallowed the exception.
class PostgresTxn final : public FarmTxn {
 public:
  explicit PostgresTxn(PgConnection& connection) : c_(connection) {}

  // The first failure inside this transaction, or null.
  const PostgresStoreError* failure() const { return failure_ ? &*failure_ : nullptr; }
  // Whether AppendEvent ran (the commit then notifies the waiters).
  bool appended_events() const { return appended_events_; }

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
  // Runs `fn`, remembering the first PostgresStoreError that leaves it.
  template <class Fn>
  auto Guarded(Fn&& fn) const -> decltype(fn());
  std::size_t Count(const char* sql) const;
  // Writes `a` with its holder columns taking `holder` where its names are
  // new to the row; false, with nothing written, when a unique index
  // refuses it (the statement runs inside a savepoint, since a refused
  // statement would otherwise end the whole transaction).
  bool WriteApplication(const ApplicationRecord& a, ULONG64 holder);

  PgConnection& c_;
  mutable std::optional<PostgresStoreError> failure_;
  bool appended_events_ = false;
};

}  // namespace feroq::store::postgres

#endif  // FEROQ_SERVICES_STORE_POSTGRES_TXN_H_
