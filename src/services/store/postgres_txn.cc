// PostgresTxn: the farm-store operations as statements over the schema of
// postgres_schema.cc.
#include "services/store/postgres_txn.h"

#include <algorithm>
#include <limits>
#include <new>

#include "feroq/services/farm_admin.h"
#include "services/store/postgres_schema.h"
#include "services/store/sqlite_connection.h"
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

template <class Fn>
auto PostgresTxn::Guarded(Fn&& fn) const -> decltype(fn()) {
  try {
    return fn();
  } catch (const PostgresStoreError& e) {
    if (!failure_) failure_ = e;
    throw;
  } catch (const sqlite::SqliteStoreError& e) {
    // A stored record that does not decode.
    PostgresStoreError corrupt(admin::kFarmFileCorrupt, "", e.what());
    if (!failure_) failure_ = corrupt;
    throw corrupt;
  }
}

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

// ---- Writes ----

void PostgresTxn::SetFarmName(const std::u16string& name) {
  Guarded([&] { Queue("UPDATE farm SET name = $1::bytea WHERE id = 1", Params().Text(name)); });
}

void PostgresTxn::PrefetchSerials(const std::vector<ULONG>& kinds) {
  if (kinds.empty()) return;
  Guarded([&] {
    Params p;
    for (std::size_t i = 0; i < kPrefetchedKinds; ++i) p.Int(kinds[i < kinds.size() ? i : 0]);
    c_.QueueInto("SELECT kind, last FROM serials WHERE kind IN ($1::int8, $2::int8, $3::int8, $4::int8)", p,
                 &prefetched_);
    prefetch_kinds_.assign(kinds.begin(), kinds.begin() + std::min(kinds.size(), kPrefetchedKinds));
  });
}

std::optional<std::int64_t> PostgresTxn::KnownSerial(ULONG kind) const {
  if (auto known = serials_.find(kind); known != serials_.end()) return known->second;
  if (std::find(prefetch_kinds_.begin(), prefetch_kinds_.end(), kind) == prefetch_kinds_.end()) return std::nullopt;
  if (c_.Awaits(&prefetched_)) c_.Sync();
  prefetch_kinds_.clear();
  // What this transaction changed since is already known, and newer.
  for (int i = 0; i < prefetched_.Rows(); ++i) {
    serials_.emplace(static_cast<ULONG>(prefetched_.Int(i, 0)), prefetched_.Int(i, 1));
  }
  if (auto known = serials_.find(kind); known != serials_.end()) return known->second;
  return std::nullopt;
}

std::optional<std::int64_t> PostgresTxn::CountFrom(ULONG kind) const {
  if (std::optional<std::int64_t> known = KnownSerial(kind)) return known;
  if (remembered_ != nullptr) {
    if (auto remembered = remembered_->find(kind); remembered != remembered_->end()) return remembered->second;
  }
  return std::nullopt;
}

void PostgresTxn::UseKind(ULONG kind) {
  if (std::find(used_kinds_.begin(), used_kinds_.end(), kind) == used_kinds_.end()) used_kinds_.push_back(kind);
}

ULONG64 PostgresTxn::AllocateId(ULONG kind) {
  return Guarded([&] {
    UseKind(kind);
    // The last serial is never handed out, so that a counter never wraps.
    constexpr std::int64_t kLast = std::numeric_limits<ULONG>::max();
    if (std::optional<std::int64_t> last = CountFrom(kind)) {
      if (*last + 1 >= kLast) throw std::bad_alloc();  // the counter has run out
      // The row is updated with the next event or before the commit.
      const auto owed = std::find_if(owed_serials_.begin(), owed_serials_.end(),
                                     [&](const OwedSerial& o) { return o.kind == kind; });
      if (owed == owed_serials_.end()) owed_serials_.push_back(OwedSerial{kind, *last});
      serials_[kind] = *last + 1;
      return HandOut(MakeObjectId(kind, static_cast<ULONG>(*last + 1)));
    }
    // The row's lock, held to commit, makes concurrent writers take turns.
    Result r = Run(
        "INSERT INTO serials(kind, last) VALUES ($1::int8, 1) ON CONFLICT (kind) DO UPDATE SET last = serials.last + 1"
        " WHERE serials.last + 1 < $2::int8 RETURNING last",
        Params().Int(kind).Int(kLast));
    if (r.Rows() == 0) throw std::bad_alloc();  // the counter has run out
    serials_[kind] = r.Int(0, 0);
    return HandOut(MakeObjectId(kind, static_cast<ULONG>(r.Int(0, 0))));
  });
}

void PostgresTxn::QueueSerialUpdate(const OwedSerial& owed) {
  // A counter that no longer holds the value counted from becomes null,
  // which the server refuses (failing the transaction before its commit).
  c_.Queue("INSERT INTO serials(kind, last) VALUES ($1::int8, $3::int8) ON CONFLICT (kind) DO UPDATE"
           " SET last = CASE WHEN serials.last = $2::int8 THEN excluded.last END",
           Params().Int(owed.kind).Int(owed.in_row).Int(serials_.at(owed.kind)),
           PgConnection::Expect::kCounterHeld);
}

void PostgresTxn::CheckRemembered() {
  if (!answered_remembered_ || appended_events_ || remembered_ == nullptr) return;
  Guarded([&] {
    // Divides by zero, failing on the server, when the counter has moved.
    c_.Queue("WITH held AS (UPDATE serials SET last = last WHERE kind = 0 AND last = $1::int8 RETURNING 1)"
             " SELECT 1 / (SELECT count(*)::int4 FROM held)",
             Params().Int(remembered_->at(0)), PgConnection::Expect::kCounterHeld);
    answered_remembered_ = false;
    kept_remembered_ = true;
  });
}

void PostgresTxn::FlushSerials() {
  Guarded([&] {
    for (const OwedSerial& owed : owed_serials_) QueueSerialUpdate(owed);
    owed_serials_.clear();
  });
}

void PostgresTxn::AdvanceSerial(ULONG kind, ULONG serial) {
  Guarded([&] {
    FlushSerials();
    if (std::optional<std::int64_t> last = KnownSerial(kind)) {
      serials_[kind] = std::max<std::int64_t>(*last, serial);
    }
    Queue("INSERT INTO serials(kind, last) VALUES ($1::int8, $2::int8)"
          " ON CONFLICT (kind) DO UPDATE SET last = greatest(serials.last, excluded.last)",
          Params().Int(kind).Int(serial));
  });
}

void PostgresTxn::PutFolder(const FolderRecord& f) {
  Guarded([&] {
    Queue(
        "INSERT INTO folders(id, parent, name, creation_serial, name_key) VALUES ($1::int8, $2::int8, $3::bytea,"
        " $4::int8, $5::bytea) ON CONFLICT (id) DO UPDATE SET parent = excluded.parent, name = excluded.name,"
        " creation_serial = excluded.creation_serial, name_key = excluded.name_key",
        Params().Id(f.id).Id(f.parent_id).Text(f.name).Id(f.creation_serial).Bytes(FoldedKey(f.name)));
    folders_[f.id] = f;
  });
}

void PostgresTxn::DeleteFolder(ULONG64 id) {
  Guarded([&] {
    Queue("DELETE FROM folders WHERE id = $1::int8", Params().Id(id));
    folders_[id] = std::nullopt;
  });
}

namespace {

// What both application writes below do with an existing row of the same
// identifier: take the new values, a holder column keeping its value where
// its name stays.
#define FEROQ_APPLICATION_UPSERT                                                                   \
  " ON CONFLICT (id) DO UPDATE SET folder = excluded.folder, name_key = excluded.name_key,"       \
  " record = excluded.record, name = excluded.name, display_key = excluded.display_key,"          \
  " browser_holder = CASE WHEN a.name_key = excluded.name_key THEN a.browser_holder"             \
  " ELSE excluded.browser_holder END,"                                                           \
  " display_holder = CASE WHEN a.folder = excluded.folder AND a.display_key = excluded.display_key" \
  " THEN a.display_holder ELSE excluded.display_holder END"

// An application's row from its record; a holder column takes `holder`
// ($7: 0 holds the name, the row's id does not) when its name is new to
// the row, and keeps its value otherwise.
constexpr char kWriteApplication[] =
    "INSERT INTO applications AS a(id, folder, name_key, record, name, display_key, browser_holder,"
    " display_holder) VALUES ($1::int8, $2::int8, $3::bytea, $4::bytea, $5::bytea, $6::bytea, $7::int8, $7::int8)"
    FEROQ_APPLICATION_UPSERT;

// The same write, made only when no folder of the application's folder has
// its display name (folders and applications share their folder's names,
// but only the applications' are in a unique index) unless the row already
// had that name there; it changes no row otherwise.
constexpr char kWriteApplicationHoldingNames[] =
    "INSERT INTO applications AS a(id, folder, name_key, record, name, display_key, browser_holder,"
    " display_holder) SELECT $1::int8, $2::int8, $3::bytea, $4::bytea, $5::bytea, $6::bytea, $7::int8, $7::int8"
    " WHERE NOT EXISTS (SELECT 1 FROM folders WHERE parent = $2::int8 AND name_key = $6::bytea)"
    " OR EXISTS (SELECT 1 FROM applications WHERE id = $1::int8 AND folder = $2::int8 AND display_key = $6::bytea)"
    FEROQ_APPLICATION_UPSERT;

// The same queued on the guess that the names are free: where a folder has
// the name, the row's identifier is null, which the server refuses, so
// that the transaction fails there and its commit cannot commit the rest
// of it.
constexpr char kGuessApplicationHoldingNames[] =
    "INSERT INTO applications AS a(id, folder, name_key, record, name, display_key, browser_holder,"
    " display_holder) SELECT CASE WHEN NOT EXISTS (SELECT 1 FROM folders WHERE parent = $2::int8 AND"
    " name_key = $6::bytea) OR EXISTS (SELECT 1 FROM applications WHERE id = $1::int8 AND folder = $2::int8 AND"
    " display_key = $6::bytea) THEN $1::int8 END, $2::int8, $3::bytea, $4::bytea, $5::bytea, $6::bytea, $7::int8,"
    " $7::int8" FEROQ_APPLICATION_UPSERT;

// The same for an identifier this transaction has just handed out, which
// no row can have yet: a plain insert, without the check for an existing
// row and the machinery of ON CONFLICT.
constexpr char kInsertApplicationHoldingNames[] =
    "INSERT INTO applications(id, folder, name_key, record, name, display_key, browser_holder, display_holder)"
    " SELECT CASE WHEN NOT EXISTS (SELECT 1 FROM folders WHERE parent = $2::int8 AND name_key = $6::bytea)"
    " THEN $1::int8 END, $2::int8, $3::bytea, $4::bytea, $5::bytea, $6::bytea, $7::int8, $7::int8";

Params ApplicationParams(const ApplicationRecord& a, ULONG64 holder) {
  return Params().Id(a.id).Id(a.folder_id).Bytes(FoldedKey(a.data.browser_name))
      .Bytes(sqlite::EncodeAppRecord(a.data)).Text(a.data.friendly_name).Bytes(FoldedKey(a.data.friendly_name))
      .Id(holder);
}

}  // namespace

bool PostgresTxn::WriteApplication(const ApplicationRecord& a, ULONG64 holder) {
  const Params p = ApplicationParams(a, holder);
  // A refused statement would end the whole transaction: it runs inside a
  // savepoint (which only a transaction block has).
  c_.OpenBlock();
  c_.QueueText("SAVEPOINT feroq_put_application");
  try {
    Run(kWriteApplication, p);
  } catch (const PostgresStoreError& e) {
    if (!e.unique_violation() || e.statement() != kWriteApplication) throw;
    c_.QueueText("ROLLBACK TO SAVEPOINT feroq_put_application");
    return false;
  }
  c_.QueueText("RELEASE SAVEPOINT feroq_put_application");
  return true;
}

void PostgresTxn::PutApplication(const ApplicationRecord& a) {
  Guarded([&] {
    app_names_.erase(a.id);
    if (!WriteApplication(a, 0)) {
      // A name another application holds: kept without holding it, then
      // each name taken up where it is free.
      if (!WriteApplication(a, a.id)) {
        throw PostgresStoreError(admin::kFarmFileCorrupt, "", "farm: application name index");
      }
      Queue("UPDATE applications a SET browser_holder = 0 WHERE id = $1::int8 AND NOT EXISTS (SELECT 1 FROM"
            " applications b WHERE b.name_key = a.name_key AND b.browser_holder = 0)",
            Params().Id(a.id));
      Queue("UPDATE applications a SET display_holder = 0 WHERE id = $1::int8 AND NOT EXISTS (SELECT 1 FROM"
            " applications b WHERE b.folder = a.folder AND b.display_key = a.display_key AND b.display_holder = 0)",
            Params().Id(a.id));
    }
    KnowApplication(a);
  });
}

bool PostgresTxn::PutApplicationHoldingNames(const ApplicationRecord& a) {
  return Guarded([&] {
    app_names_.erase(a.id);
    const Params p = ApplicationParams(a, 0);
    if (guess_names_) {
      // Almost every publish and save takes free names: the write goes with
      // the next statement instead of costing a round trip of its own.
      const auto handed_out = std::find(handed_out_.begin(), handed_out_.end(), a.id);
      const bool fresh = handed_out != handed_out_.end();
      if (fresh) handed_out_.erase(handed_out);
      c_.Queue(fresh ? kInsertApplicationHoldingNames : kGuessApplicationHoldingNames, p,
               PgConnection::Expect::kOneRowChanged);
      KnowApplication(a);
      return true;
    }
    c_.OpenBlock();
    c_.QueueText("SAVEPOINT feroq_put_application");
    try {
      if (Run(kWriteApplicationHoldingNames, p).Changed() == 0) {
        c_.QueueText("RELEASE SAVEPOINT feroq_put_application");
        return false;  // a folder has the name
      }
    } catch (const PostgresStoreError& e) {
      if (!e.unique_violation() || e.statement() != kWriteApplicationHoldingNames) throw;
      c_.QueueText("ROLLBACK TO SAVEPOINT feroq_put_application");
      return false;
    }
    c_.QueueText("RELEASE SAVEPOINT feroq_put_application");
    KnowApplication(a);
    return true;
  });
}

void PostgresTxn::DeleteApplication(ULONG64 id) {
  Guarded([&] {
    Queue("DELETE FROM applications WHERE id = $1::int8", Params().Id(id));
    app_names_[id] = std::nullopt;
  });
}

void PostgresTxn::PutServer(const ServerRecord& server) {
  Guarded([&] {
    Queue(
        "INSERT INTO servers(id, name, name_key) VALUES ($1::int8, $2::bytea, $3::bytea)"
        " ON CONFLICT (id) DO UPDATE SET name = excluded.name, name_key = excluded.name_key",
        Params().Id(server.id).Text(server.name).Bytes(FoldedKey(server.name)));
  });
}

void PostgresTxn::TakeWritersTurn() {
  if (took_turn_) return;
  Queue("INSERT INTO serials(kind, last) VALUES (0, 0) ON CONFLICT (kind) DO UPDATE SET last = serials.last",
        Params());
  took_turn_ = true;
}

void PostgresTxn::DeleteServer(ULONG64 id) {
  Guarded([&] {
    TakeWritersTurn();  // no application written meanwhile may name it
    Queue("DELETE FROM servers WHERE id = $1::int8", Params().Id(id));
  });
}

void PostgresTxn::PutAccount(const AccountRecord& a) {
  Guarded([&] {
    const std::string dn_key = FoldedKey(a.dn), type_key = FoldedKey(a.authority_type),
                      instance_key = FoldedKey(a.instance), account_key = FoldedKey(a.account_name);
    // The row with the same DN is replaced; another account with the same
    // (authority, instance, account) loses its place to this one. The
    // caller looked for both keys: a writer adding either meanwhile
    // collides instead of replacing it.
    TakeWritersTurn();
    Queue("DELETE FROM accounts WHERE dn_key = $1::bytea OR (authority_key = $2::bytea AND instance_key = $3::bytea"
          " AND account_key = $4::bytea)",
          Params().Bytes(dn_key).Bytes(type_key).Bytes(instance_key).Bytes(account_key));
    Queue("INSERT INTO accounts(dn_key, authority_key, instance_key, account_key, authority_type, instance,"
          " account_name, kind, dn) VALUES ($1::bytea, $2::bytea, $3::bytea, $4::bytea, $5::bytea, $6::bytea,"
          " $7::bytea, $8::int8, $9::bytea)",
          Params().Bytes(dn_key).Bytes(type_key).Bytes(instance_key).Bytes(account_key).Text(a.authority_type)
              .Text(a.instance).Text(a.account_name).Int(a.kind).Text(a.dn));
  });
}

void PostgresTxn::DeleteAccount(const std::u16string& dn) {
  Guarded([&] { Queue("DELETE FROM accounts WHERE dn_key = $1::bytea", Params().Bytes(FoldedKey(dn))); });
}

// What every statement that logs an event adds: a notification, delivered
// to every listener when the transaction commits and not at all when it
// rolls back (the server sends one for a transaction's many).
#define FEROQ_NOTIFY_WAITERS " RETURNING pg_notify('feroq_farm_events', '')"

ULONG64 PostgresTxn::AppendEvent(USHORT event_id, const std::vector<BYTE>& record,
                                 const std::optional<std::u16string>& object_dn) {
  return Guarded([&] {
    UseKind(0);
    ULONG64 sequence = 0;
    if (remembered_ != nullptr && remembered_->count(0) != 0 && !KnownSerial(0)) kept_remembered_ = true;
    if (std::optional<std::int64_t> last = CountFrom(0)) {
      sequence = static_cast<ULONG64>(*last + 1);
      if (owed_serials_.empty()) {
        // The counter and the row in one statement: when the counter no
        // longer held the value counted from, the row's sequence is null,
        // which the server refuses (failing the transaction before its
        // commit).
        c_.Queue(
            "WITH next AS (UPDATE serials SET last = $2::int8 WHERE kind = 0 AND last = $1::int8 RETURNING last)"
            " INSERT INTO events(sequence, event_id, record, object_dn) SELECT (SELECT last FROM next), $3::int8,"
            " $4::bytea, $5::bytea" FEROQ_NOTIFY_WAITERS,
            Params().Int(*last).Id(sequence).Int(event_id).Bytes(record).OptionalText(object_dn),
            PgConnection::Expect::kCounterHeld);
      } else {
        // The event's counter and the last owed identifier counter are
        // updated by one statement (two rows); the row's sequence is null
        // unless both held the values counted from.
        const OwedSerial other = owed_serials_.back();
        owed_serials_.pop_back();
        FlushSerials();
        c_.Queue(
            "WITH next AS (UPDATE serials SET last = CASE WHEN kind = 0 THEN $2::int8 ELSE $5::int8 END"
            " WHERE kind IN (0, $3::int8) AND last = CASE WHEN kind = 0 THEN $1::int8 ELSE $4::int8 END RETURNING 1)"
            " INSERT INTO events(sequence, event_id, record, object_dn) SELECT CASE WHEN (SELECT count(*) FROM next)"
            " = 2 THEN $2::int8 END, $6::int8, $7::bytea, $8::bytea" FEROQ_NOTIFY_WAITERS,
            Params().Int(*last).Id(sequence).Int(other.kind).Int(other.in_row).Int(serials_.at(other.kind))
                .Int(event_id).Bytes(record).OptionalText(object_dn),
            PgConnection::Expect::kCounterHeld);
      }
    } else {
      // The sequence (kind 0 of the serials: no object kind is 0) and the
      // row in one statement.
      sequence = Run(
                      "WITH next AS (INSERT INTO serials(kind, last) VALUES (0, 1) ON CONFLICT (kind) DO UPDATE"
                      " SET last = serials.last + 1 RETURNING last) INSERT INTO events(sequence, event_id, record,"
                      " object_dn) SELECT last, $1::int8, $2::bytea, $3::bytea FROM next RETURNING sequence,"
                      " pg_notify('feroq_farm_events', '')",
                      Params().Int(event_id).Bytes(record).OptionalText(object_dn))
                     .Id(0, 0);
    }
    serials_[0] = static_cast<std::int64_t>(sequence);
    appended_events_ = true;
    return sequence;
  });
}

LONG PostgresTxn::AllocateEventQueueHandle() {
  return Guarded([&] {
    Result r = Run("UPDATE farm SET last_queue_handle = last_queue_handle + 1 WHERE id = 1 AND last_queue_handle <"
                      " $1::int8 RETURNING last_queue_handle",
                      Params().Int(std::numeric_limits<LONG>::max()));
    if (r.Rows() == 0) throw std::bad_alloc();
    return static_cast<LONG>(r.Int(0, 0));
  });
}

void PostgresTxn::PutEventQueue(const EventQueueRecord& q) {
  Guarded([&] {
    Queue(
        "INSERT INTO event_queues(handle, event_ids, read_position, delivered, owner_host, owner_process,"
        " owner_start, last_wait) VALUES ($1::int8, $2::bytea, $3::int8, $4::int8, $5::bytea, $6::int8, $7::int8,"
        " $8::int8) ON CONFLICT (handle) DO UPDATE SET event_ids = excluded.event_ids,"
        " read_position = excluded.read_position, delivered = excluded.delivered, owner_host = excluded.owner_host,"
        " owner_process = excluded.owner_process, owner_start = excluded.owner_start, last_wait = excluded.last_wait",
        Params().Int(q.handle).Bytes(sqlite::EncodeEventIds(q.event_ids)).Id(q.read_position).Id(q.delivered)
            .Bytes(q.owner_host).Int(q.owner_process).Id(q.owner_start).Id(q.last_wait));
  });
}

void PostgresTxn::DeleteEventQueue(LONG handle) {
  Guarded([&] { Queue("DELETE FROM event_queues WHERE handle = $1::int8", Params().Int(handle)); });
}

void PostgresTxn::DeleteEventsThrough(ULONG64 sequence) {
  Guarded([&] {
    const bool full = !trims_.through || trims_.trims % kFullTrimInterval == 0;
    ++trims_.trims;
    if ((full || *trims_.through < sequence) && !took_farm_row_) {
      // A queue made meanwhile at an entry this trim deletes collides.
      Queue("UPDATE farm SET last_queue_handle = last_queue_handle WHERE id = 1", Params());
      took_farm_row_ = true;
    }
    if (full) {
      Queue("DELETE FROM events WHERE sequence <= $1::int8", Params().Id(sequence));
    } else if (*trims_.through < sequence) {
      Queue("DELETE FROM events WHERE sequence <= $1::int8 AND sequence > $2::int8",
            Params().Id(sequence).Id(*trims_.through));
    } else {
      return;  // nothing at or below `sequence` is left
    }
    trims_.through = sequence;
  });
}

void PostgresTxn::Clear() {
  Guarded([&] {
    TakeWritersTurn();
    for (const char* sql : {"DELETE FROM serials", "DELETE FROM folders", "DELETE FROM applications",
                            "DELETE FROM servers", "DELETE FROM accounts", "DELETE FROM events",
                            "DELETE FROM event_queues", "UPDATE farm SET name = '', last_queue_handle = 0"}) {
      c_.QueueText(sql);
    }
    folders_.clear();
    app_names_.clear();
    trims_.through.reset();
    prefetch_kinds_.clear();
    serials_.clear();
    owed_serials_.clear();
    remembered_ = nullptr;
    remembered_folders_ = nullptr;
    cleared_ = true;
  });
}

}  // namespace feroq::store::postgres
