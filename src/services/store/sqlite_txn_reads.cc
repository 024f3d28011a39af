// SqliteTxn's reads: the farm-store lookups and lists as prepared
// statements over the schema of sqlite_schema.cc, answered from the
// transaction's memo or the store's record cache where they hold the row.
#include "services/store/sqlite_txn.h"

#include <limits>

#include "services/store/id_order.h"
#include "services/store/sqlite_record_format.h"
#include "services/store/sqlite_txn_guarded.h"

namespace feroq::store::sqlite {
namespace {

FolderRecord FolderRow(const Statement& s) {
  return FolderRecord{s.Id(0), s.Id(1), s.Text(2), s.Id(3)};
}

AccountRecord AccountRow(const Statement& s) {
  return AccountRecord{s.Text(0), s.Text(1), s.Text(2), static_cast<ULONG>(s.Int(3)), s.Text(4)};
}

EventQueueRecord QueueRow(const Statement& s) {
  EventQueueRecord queue{static_cast<LONG>(s.Int(0)), DecodeEventIds(s.Blob(1)), s.Id(2)};
  queue.delivered = s.Id(3);
  const std::vector<BYTE> host = s.Blob(4);
  queue.owner_host.assign(host.begin(), host.end());
  queue.owner_process = static_cast<ULONG>(s.Int(5));
  queue.owner_start = s.Id(6);
  queue.last_wait = s.Id(7);
  return queue;
}

std::vector<ULONG64> Ids(Statement& s) {
  std::vector<ULONG64> ids;
  while (s.Step()) ids.push_back(s.Id(0));
  return ids;
}

}  // namespace

std::u16string SqliteTxn::FarmName() const {
  return Guarded([&] {
    Statement s(c_, Sql::kFarmName);
    return s.Step() ? s.Text(0) : std::u16string();
  });
}

std::optional<FolderRecord> SqliteTxn::GetFolder(ULONG64 id) const {
  return Guarded([&]() -> std::optional<FolderRecord> {
    if (auto kept = memo_.folders.find(id); kept != memo_.folders.end()) return kept->second;
    Statement s(c_, Sql::kGetFolder);
    s.BindId(id);
    if (!s.Step()) return std::nullopt;
    FolderRecord folder = FolderRow(s);
    if (memo_.folders.size() >= TxnMemo::kMaxEntries) memo_.folders.clear();
    memo_.folders.emplace(id, folder);
    return folder;
  });
}

std::vector<ULONG64> SqliteTxn::ChildFolderIds(ULONG64 parent) const {
  return Guarded([&] {
    if (parent == 0 && memo_.root_ids) return *memo_.root_ids;
    Statement s(c_, Sql::kChildFolders);
    s.BindId(parent);
    std::vector<ULONG64> ids = Ids(s);
    if (parent == 0) memo_.root_ids = ids;
    return ids;
  });
}

std::vector<FolderRecord> SqliteTxn::ListFolders() const {
  return Guarded([&] {
    Statement s(c_, Sql::kListFolders);
    std::vector<FolderRecord> all;
    while (s.Step()) all.push_back(FolderRow(s));
    return all;
  });
}

std::optional<ApplicationRecord> SqliteTxn::GetApplication(ULONG64 id) const {
  std::shared_ptr<const ApplicationRecord> shared = GetApplicationShared(id);
  if (!shared) return std::nullopt;
  return *shared;
}

std::shared_ptr<const ApplicationRecord> SqliteTxn::GetApplicationShared(ULONG64 id) const {
  return Guarded([&]() -> std::shared_ptr<const ApplicationRecord> {
    if (cache_ != nullptr) {
      if (std::shared_ptr<const ApplicationRecord> kept = cache_->Find(generation_, id)) return kept;
    }
    Statement s(c_, Sql::kGetApplication);
    s.BindId(id);
    if (!s.Step()) return nullptr;
    auto app = std::make_shared<ApplicationRecord>(ApplicationRecord{id, s.Id(0), {}});
    const auto [data, size] = s.BlobView(1);
    DecodeAppRecord(data, size, app->data);
    if (cache_ != nullptr && keep_records_) cache_->Keep(generation_, app);
    return app;
  });
}

std::optional<ULONG64> SqliteTxn::ApplicationFolder(ULONG64 id) const {
  return Guarded([&]() -> std::optional<ULONG64> {
    if (auto known = memo_.app_names.find(id); known != memo_.app_names.end()) return known->second.folder_id;
    Statement s(c_, Sql::kApplicationFolder);
    s.BindId(id);
    if (!s.Step()) return std::nullopt;
    return s.Id(0);
  });
}

std::vector<ULONG64> SqliteTxn::ApplicationIds(ULONG64 folder) const {
  return Guarded([&] {
    Statement s(c_, folder == 0 ? Sql::kAllApplicationIds : Sql::kFolderApplicationIds);
    if (folder != 0) s.BindId(folder);
    std::vector<ULONG64> ids = Ids(s);
    // Identifiers are below 2^63, so their order is SQLite's too.
    SortIds(ids);
    return ids;
  });
}

std::size_t SqliteTxn::ApplicationCount() const { return Count(Sql::kApplicationCount); }

std::size_t SqliteTxn::FolderCount() const { return Count(Sql::kFolderCount); }

std::size_t SqliteTxn::ServerCount() const { return Count(Sql::kServerCount); }

std::size_t SqliteTxn::AccountCount() const { return Count(Sql::kAccountCount); }

std::size_t SqliteTxn::ChildCount(ULONG64 folder) const {
  return Count(Sql::kChildFolderCount, folder) + Count(Sql::kFolderApplicationCount, folder);
}

std::size_t SqliteTxn::Count(Sql statement, std::optional<ULONG64> id) const {
  return Guarded([&] {
    Statement s(c_, statement);
    if (id) s.BindId(*id);
    return s.Step() ? static_cast<std::size_t>(s.Int(0)) : std::size_t{0};
  });
}

std::vector<ULONG64> SqliteTxn::ApplicationIdsAfter(ULONG64 after, std::size_t max_count) const {
  return Guarded([&] {
    Statement s(c_, Sql::kApplicationIdsAfter);
    constexpr std::size_t kMax = static_cast<std::size_t>(std::numeric_limits<std::int64_t>::max());
    s.BindId(after).Bind(static_cast<std::int64_t>(max_count < kMax ? max_count : kMax));
    return Ids(s);
  });
}

std::vector<ApplicationName> SqliteTxn::ApplicationNames(ULONG64 folder) const {
  return Guarded([&] {
    std::vector<ApplicationName> names;
    Statement s(c_, folder == 0 ? Sql::kAllApplicationNames : Sql::kFolderApplicationNames);
    if (folder != 0) s.BindId(folder);
    while (s.Step()) names.push_back(ApplicationName{s.Id(0), s.Id(1), s.Text(2)});
    return names;
  });
}

std::optional<ApplicationName> SqliteTxn::GetApplicationName(ULONG64 id) const {
  return Guarded([&]() -> std::optional<ApplicationName> {
    if (auto known = memo_.app_names.find(id); known != memo_.app_names.end()) return known->second;
    Statement s(c_, Sql::kApplicationName);
    s.BindId(id);
    if (!s.Step()) return std::nullopt;
    ApplicationName name{id, s.Id(0), s.Text(1)};
    KnowName(name);
    return name;
  });
}

std::optional<ULONG64> SqliteTxn::FindChildByName(ULONG64 folder, const std::u16string& name,
                                                  ULONG64 except) const {
  return Guarded([&]() -> std::optional<ULONG64> {
    const std::string key = FoldedKey(name);
    std::optional<ULONG64> lowest;
    {
      Statement s(c_, Sql::kChildFolderByName);
      s.BindId(folder).BindBlob(key).BindId(except);
      if (s.Step()) lowest = s.Id(0);
    }
    if (folder != 0) {
      Statement s(c_, Sql::kChildApplicationByName);
      s.BindId(folder).BindBlob(key).BindId(except);
      if (s.Step() && (!lowest || s.Id(0) < *lowest)) lowest = s.Id(0);
    }
    return lowest;
  });
}

std::vector<ULONG64> SqliteTxn::ChildrenNamed(ULONG64 folder, const std::u16string& name) const {
  return Guarded([&] {
    const std::string key = FoldedKey(name);
    Statement folders(c_, Sql::kChildFoldersNamed);
    folders.BindId(folder).BindBlob(key);
    std::vector<ULONG64> named = Ids(folders);
    Statement apps(c_, Sql::kChildApplicationsNamed);
    apps.BindId(folder).BindBlob(key);
    while (apps.Step()) named.push_back(apps.Id(0));
    return named;
  });
}

std::vector<ULONG64> SqliteTxn::FindApplicationsByBrowserName(const std::u16string& name) const {
  return Guarded([&] {
    Statement s(c_, Sql::kApplicationsByName);
    s.BindBlob(FoldedKey(name));
    return Ids(s);
  });
}

std::optional<ServerRecord> SqliteTxn::GetServer(ULONG64 id) const {
  return Guarded([&]() -> std::optional<ServerRecord> {
    Statement s(c_, Sql::kGetServer);
    s.BindId(id);
    if (!s.Step()) return std::nullopt;
    return ServerRecord{s.Id(0), s.Text(1)};
  });
}

std::optional<ServerRecord> SqliteTxn::FindServerByName(const std::u16string& name) const {
  return Guarded([&]() -> std::optional<ServerRecord> {
    Statement s(c_, Sql::kServersByName);
    s.BindBlob(FoldedKey(name));
    if (!s.Step()) return std::nullopt;
    return ServerRecord{s.Id(0), s.Text(1)};
  });
}

std::vector<ServerRecord> SqliteTxn::ListServers() const {
  return Guarded([&] {
    Statement s(c_, Sql::kListServers);
    std::vector<ServerRecord> all;
    while (s.Step()) all.push_back(ServerRecord{s.Id(0), s.Text(1)});
    return all;
  });
}

std::optional<AccountRecord> SqliteTxn::FindAccountByDn(const std::u16string& dn) const {
  return Guarded([&]() -> std::optional<AccountRecord> {
    Statement s(c_, Sql::kAccountByDn);
    s.BindBlob(FoldedKey(dn));
    if (!s.Step()) return std::nullopt;
    return AccountRow(s);
  });
}

std::optional<AccountRecord> SqliteTxn::FindAccount(const std::u16string& authority_type,
                                                    const std::u16string& instance,
                                                    const std::u16string& account_name) const {
  return Guarded([&]() -> std::optional<AccountRecord> {
    Statement s(c_, Sql::kAccountByKey);
    s.BindBlob(FoldedKey(authority_type)).BindBlob(FoldedKey(instance)).BindBlob(FoldedKey(account_name));
    if (!s.Step()) return std::nullopt;
    return AccountRow(s);
  });
}

std::vector<AccountRecord> SqliteTxn::ListAccounts() const {
  return Guarded([&] {
    Statement s(c_, Sql::kListAccounts);
    std::vector<AccountRecord> all;
    while (s.Step()) all.push_back(AccountRow(s));
    return all;
  });
}

std::vector<EventRecord> SqliteTxn::EventsAfter(ULONG64 after, std::size_t max_count) const {
  return Guarded([&] {
    Statement s(c_, Sql::kEventsAfter);
    constexpr std::size_t kMax = static_cast<std::size_t>(std::numeric_limits<std::int64_t>::max());
    s.BindId(after).Bind(static_cast<std::int64_t>(max_count < kMax ? max_count : kMax));
    std::vector<EventRecord> out;
    while (s.Step()) {
      out.push_back(EventRecord{s.Id(0), static_cast<USHORT>(s.Int(1)), s.Blob(2), s.OptionalText(3)});
    }
    return out;
  });
}

ULONG64 SqliteTxn::LastEventSequence() const {
  return Guarded([&] {
    if (memo_.last_event) return *memo_.last_event;
    Statement s(c_, Sql::kLastEvent);
    const ULONG64 last = s.Step() ? s.Id(0) : ULONG64{0};
    memo_.last_event = last;
    return last;
  });
}

std::optional<EventQueueRecord> SqliteTxn::GetEventQueue(LONG handle) const {
  return Guarded([&]() -> std::optional<EventQueueRecord> {
    Statement s(c_, Sql::kGetQueue);
    s.Bind(handle);
    if (!s.Step()) return std::nullopt;
    return QueueRow(s);
  });
}

std::vector<EventQueueRecord> SqliteTxn::ListEventQueues() const {
  return Guarded([&] {
    Statement s(c_, Sql::kListQueues);
    std::vector<EventQueueRecord> all;
    while (s.Step()) all.push_back(QueueRow(s));
    return all;
  });
}

}  // namespace feroq::store::sqlite
