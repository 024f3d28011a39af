// PostgresTxn's reads: the farm-store lookups and lists as statements over
// the schema of postgres_schema.cc, and Run, which sends a statement and
// waits for its result.
#include "services/store/postgres_txn.h"

#include <limits>

#include "services/store/postgres_txn_guarded.h"
#include "services/store/sqlite_record_format.h"

namespace feroq::store::postgres {
namespace {

using sqlite::FoldedKey;

FolderRecord FolderRow(const Result& r, int i) {
  return FolderRecord{r.Id(i, 0), r.Id(i, 1), r.Text(i, 2), r.Id(i, 3)};
}

AccountRecord AccountRow(const Result& r, int i) {
  return AccountRecord{r.Text(i, 0), r.Text(i, 1), r.Text(i, 2), static_cast<ULONG>(r.Int(i, 3)), r.Text(i, 4)};
}

EventQueueRecord QueueRow(const Result& r, int i) {
  EventQueueRecord queue{static_cast<LONG>(r.Int(i, 0)), sqlite::DecodeEventIds(r.ByteVector(i, 1)), r.Id(i, 2)};
  queue.delivered = r.Id(i, 3);
  queue.owner_host = r.Bytes(i, 4);
  queue.owner_process = static_cast<ULONG>(r.Int(i, 5));
  queue.owner_start = r.Id(i, 6);
  queue.last_wait = r.Id(i, 7);
  return queue;
}

std::vector<ULONG64> Ids(const Result& r) {
  std::vector<ULONG64> ids;
  ids.reserve(static_cast<std::size_t>(r.Rows()));
  for (int i = 0; i < r.Rows(); ++i) ids.push_back(r.Id(i, 0));
  return ids;
}

std::int64_t Limit(std::size_t max_count) {
  constexpr auto kMax = static_cast<std::size_t>(std::numeric_limits<std::int64_t>::max());
  return static_cast<std::int64_t>(max_count < kMax ? max_count : kMax);
}

constexpr char kQueueColumns[] =
    "SELECT handle, event_ids, read_position, delivered, owner_host, owner_process, owner_start, last_wait"
    " FROM event_queues";

}  // namespace

Result PostgresTxn::Run(const char* sql, const Params& params) const {
  if (single_statement_ && statements_ > 0) {
    needs_snapshot_ = true;
    throw NeedsSnapshot();
  }
  ++statements_;
  return c_.Run(sql, params);
}

std::u16string PostgresTxn::FarmName() const {
  return Guarded([&] {
    Result r = Run("SELECT name FROM farm WHERE id = 1");
    return r.Rows() > 0 ? r.Text(0, 0) : std::u16string();
  });
}

std::optional<FolderRecord> PostgresTxn::GetFolder(ULONG64 id) const {
  return Guarded([&]() -> std::optional<FolderRecord> {
    if (auto known = folders_.find(id); known != folders_.end()) return known->second;
    if (remembered_folders_ != nullptr && remembered_ != nullptr && remembered_->count(0) != 0) {
      if (auto known = remembered_folders_->find(id); known != remembered_folders_->end()) {
        answered_remembered_ = true;
        folders_.emplace(id, known->second);
        return known->second;
      }
    }
    Result r = Run("SELECT id, parent, name, creation_serial FROM folders WHERE id = $1::int8", Params().Id(id));
    std::optional<FolderRecord> folder;
    if (r.Rows() > 0) folder = FolderRow(r, 0);
    folders_[id] = folder;
    return folder;
  });
}

std::vector<ULONG64> PostgresTxn::ChildFolderIds(ULONG64 parent) const {
  return Guarded([&] {
    return Ids(Run("SELECT id FROM folders WHERE parent = $1::int8 ORDER BY creation_serial, id",
                      Params().Id(parent)));
  });
}

std::vector<FolderRecord> PostgresTxn::ListFolders() const {
  return Guarded([&] {
    Result r = Run("SELECT id, parent, name, creation_serial FROM folders ORDER BY id");
    std::vector<FolderRecord> all;
    for (int i = 0; i < r.Rows(); ++i) all.push_back(FolderRow(r, i));
    return all;
  });
}

std::size_t PostgresTxn::Count(const char* sql) const {
  return Guarded([&] { return static_cast<std::size_t>(Run(sql).Int(0, 0)); });
}

std::size_t PostgresTxn::FolderCount() const { return Count("SELECT count(*) FROM folders"); }
std::size_t PostgresTxn::ApplicationCount() const { return Count("SELECT count(*) FROM applications"); }
std::size_t PostgresTxn::ServerCount() const { return Count("SELECT count(*) FROM servers"); }
std::size_t PostgresTxn::AccountCount() const { return Count("SELECT count(*) FROM accounts"); }

std::optional<ApplicationRecord> PostgresTxn::GetApplication(ULONG64 id) const {
  return Guarded([&]() -> std::optional<ApplicationRecord> {
    Result r = Run("SELECT folder, record FROM applications WHERE id = $1::int8", Params().Id(id));
    if (r.Rows() == 0) {
      app_names_[id] = std::nullopt;
      return std::nullopt;
    }
    ApplicationRecord app{id, r.Id(0, 0), sqlite::DecodeAppRecord(r.ByteVector(0, 1))};
    app_names_[id] = ApplicationName{id, app.folder_id, app.data.friendly_name};
    return app;
  });
}

std::optional<ULONG64> PostgresTxn::ApplicationFolder(ULONG64 id) const {
  return Guarded([&]() -> std::optional<ULONG64> {
    if (auto known = app_names_.find(id); known != app_names_.end()) {
      if (!known->second) return std::nullopt;
      return known->second->folder_id;
    }
    Result r = Run("SELECT folder FROM applications WHERE id = $1::int8", Params().Id(id));
    if (r.Rows() == 0) return std::nullopt;
    return r.Id(0, 0);
  });
}

std::vector<ULONG64> PostgresTxn::ApplicationIds(ULONG64 folder) const {
  return Guarded([&] {
    if (folder == 0) return Ids(Run("SELECT id FROM applications ORDER BY id"));
    return Ids(Run("SELECT id FROM applications WHERE folder = $1::int8 ORDER BY id", Params().Id(folder)));
  });
}

std::vector<ULONG64> PostgresTxn::ApplicationIdsAfter(ULONG64 after, std::size_t max_count) const {
  return Guarded([&] {
    return Ids(Run("SELECT id FROM applications WHERE id > $1::int8 ORDER BY id LIMIT $2::int8",
                      Params().Id(after).Int(Limit(max_count))));
  });
}

std::vector<ApplicationName> PostgresTxn::ApplicationNames(ULONG64 folder) const {
  return Guarded([&] {
    Result r = folder == 0 ? Run("SELECT id, folder, name FROM applications ORDER BY id")
                           : Run("SELECT id, folder, name FROM applications WHERE folder = $1::int8 ORDER BY id",
                                    Params().Id(folder));
    std::vector<ApplicationName> names;
    for (int i = 0; i < r.Rows(); ++i) names.push_back(ApplicationName{r.Id(i, 0), r.Id(i, 1), r.Text(i, 2)});
    return names;
  });
}

std::optional<ApplicationName> PostgresTxn::GetApplicationName(ULONG64 id) const {
  return Guarded([&]() -> std::optional<ApplicationName> {
    if (auto known = app_names_.find(id); known != app_names_.end()) return known->second;
    Result r = Run("SELECT folder, name FROM applications WHERE id = $1::int8", Params().Id(id));
    std::optional<ApplicationName> name;
    if (r.Rows() > 0) name = ApplicationName{id, r.Id(0, 0), r.Text(0, 1)};
    app_names_[id] = name;
    return name;
  });
}

std::optional<ULONG64> PostgresTxn::FindChildByName(ULONG64 folder, const std::u16string& name,
                                                    ULONG64 except) const {
  return Guarded([&]() -> std::optional<ULONG64> {
    const Params p = Params().Id(folder).Bytes(FoldedKey(name)).Id(except);
    Result r = Run(
        "SELECT min(id) FROM (SELECT id FROM folders WHERE parent = $1::int8 AND name_key = $2::bytea AND id <> $3::int8"
        " UNION ALL SELECT id FROM applications WHERE $1::int8 <> 0 AND folder = $1::int8 AND display_key = $2::bytea"
        " AND id <> $3::int8) AS named",
        p);
    if (r.IsNull(0, 0)) return std::nullopt;
    return r.Id(0, 0);
  });
}

std::vector<ULONG64> PostgresTxn::ChildrenNamed(ULONG64 folder, const std::u16string& name) const {
  return Guarded([&] {
    const Params p = Params().Id(folder).Bytes(FoldedKey(name));
    std::vector<ULONG64> named =
        Ids(Run("SELECT id FROM folders WHERE parent = $1::int8 AND name_key = $2::bytea ORDER BY creation_serial, id",
                   p));
    for (ULONG64 id : Ids(Run("SELECT id FROM applications WHERE folder = $1::int8 AND display_key = $2::bytea"
                                 " ORDER BY id",
                                 p))) {
      named.push_back(id);
    }
    return named;
  });
}

std::size_t PostgresTxn::ChildCount(ULONG64 folder) const {
  return Guarded([&] {
    return static_cast<std::size_t>(
        Run("SELECT (SELECT count(*) FROM folders WHERE parent = $1::int8) +"
               " (SELECT count(*) FROM applications WHERE folder = $1::int8)",
               Params().Id(folder))
            .Int(0, 0));
  });
}

std::vector<ULONG64> PostgresTxn::FindApplicationsByBrowserName(const std::u16string& name) const {
  return Guarded([&] {
    return Ids(Run("SELECT id FROM applications WHERE name_key = $1::bytea ORDER BY id",
                      Params().Bytes(FoldedKey(name))));
  });
}

std::optional<ServerRecord> PostgresTxn::GetServer(ULONG64 id) const {
  return Guarded([&]() -> std::optional<ServerRecord> {
    Result r = Run("SELECT id, name FROM servers WHERE id = $1::int8", Params().Id(id));
    if (r.Rows() == 0) return std::nullopt;
    return ServerRecord{r.Id(0, 0), r.Text(0, 1)};
  });
}

std::optional<ServerRecord> PostgresTxn::FindServerByName(const std::u16string& name) const {
  return Guarded([&]() -> std::optional<ServerRecord> {
    Result r = Run("SELECT id, name FROM servers WHERE name_key = $1::bytea ORDER BY id LIMIT 1",
                      Params().Bytes(FoldedKey(name)));
    if (r.Rows() == 0) return std::nullopt;
    return ServerRecord{r.Id(0, 0), r.Text(0, 1)};
  });
}

std::vector<ServerRecord> PostgresTxn::ListServers() const {
  return Guarded([&] {
    Result r = Run("SELECT id, name FROM servers ORDER BY id");
    std::vector<ServerRecord> all;
    for (int i = 0; i < r.Rows(); ++i) all.push_back(ServerRecord{r.Id(i, 0), r.Text(i, 1)});
    return all;
  });
}

std::optional<AccountRecord> PostgresTxn::FindAccountByDn(const std::u16string& dn) const {
  return Guarded([&]() -> std::optional<AccountRecord> {
    Result r = Run("SELECT authority_type, instance, account_name, kind, dn FROM accounts WHERE dn_key = $1::bytea",
                      Params().Bytes(FoldedKey(dn)));
    if (r.Rows() == 0) return std::nullopt;
    return AccountRow(r, 0);
  });
}

std::optional<AccountRecord> PostgresTxn::FindAccount(const std::u16string& authority_type,
                                                      const std::u16string& instance,
                                                      const std::u16string& account_name) const {
  return Guarded([&]() -> std::optional<AccountRecord> {
    Result r = Run(
        "SELECT authority_type, instance, account_name, kind, dn FROM accounts"
        " WHERE authority_key = $1::bytea AND instance_key = $2::bytea AND account_key = $3::bytea",
        Params().Bytes(FoldedKey(authority_type)).Bytes(FoldedKey(instance)).Bytes(FoldedKey(account_name)));
    if (r.Rows() == 0) return std::nullopt;
    return AccountRow(r, 0);
  });
}

std::vector<AccountRecord> PostgresTxn::ListAccounts() const {
  return Guarded([&] {
    Result r = Run("SELECT authority_type, instance, account_name, kind, dn FROM accounts ORDER BY dn_key");
    std::vector<AccountRecord> all;
    for (int i = 0; i < r.Rows(); ++i) all.push_back(AccountRow(r, i));
    return all;
  });
}

std::vector<EventRecord> PostgresTxn::EventsAfter(ULONG64 after, std::size_t max_count) const {
  return Guarded([&] {
    Result r = Run(
        "SELECT sequence, event_id, record, object_dn FROM events WHERE sequence > $1::int8 ORDER BY sequence"
        " LIMIT $2::int8",
        Params().Id(after).Int(Limit(max_count)));
    std::vector<EventRecord> out;
    for (int i = 0; i < r.Rows(); ++i) {
      out.emplace_back(r.Id(i, 0), static_cast<USHORT>(r.Int(i, 1)), r.ByteVector(i, 2), r.OptionalText(i, 3));
    }
    return out;
  });
}

ULONG64 PostgresTxn::LastEventSequence() const {
  return Guarded([&] {
    if (std::optional<std::int64_t> last = KnownSerial(0)) return static_cast<ULONG64>(*last);
    Result r = Run("SELECT last FROM serials WHERE kind = 0");
    return r.Rows() > 0 ? r.Id(0, 0) : ULONG64{0};
  });
}

std::optional<EventQueueRecord> PostgresTxn::GetEventQueue(LONG handle) const {
  return Guarded([&]() -> std::optional<EventQueueRecord> {
    static const std::string sql = std::string(kQueueColumns) + " WHERE handle = $1::int8";
    Result r = Run(sql.c_str(), Params().Int(handle));
    if (r.Rows() == 0) return std::nullopt;
    return QueueRow(r, 0);
  });
}

std::vector<EventQueueRecord> PostgresTxn::ListEventQueues() const {
  return Guarded([&] {
    static const std::string sql = std::string(kQueueColumns) + " ORDER BY handle";
    Result r = Run(sql.c_str());
    std::vector<EventQueueRecord> all;
    for (int i = 0; i < r.Rows(); ++i) all.push_back(QueueRow(r, i));
    return all;
  });
}

}  // namespace feroq::store::postgres
