// MemoryFarmStore: the farm held in ordered maps in this process.
//
// Rows live in maps keyed by identifier; secondary indexes (children of a
// folder, applications of a folder, browser names, server names, account
// keys) are ordered sets kept in step with the rows, so every lookup is
// O(log n). Transactions: readers share a lock (TransactionLock), a writer holds
// it alone; a writer's changes are recorded in an UndoLog and undone when
// its function fails.
#include <limits>
#include <map>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <new>
#include <set>
#include <shared_mutex>
#include <tuple>

#include "platform/platform.h"
#include "services/store/farm_store.h"
#include "services/store/undo_log.h"

namespace feroq::store {
namespace {

int CompareNoCase(const std::u16string& a, const std::u16string& b) {
  return feroq::platform::CompareUtf16NoCase(a.c_str(), b.c_str());
}

struct NoCaseLess {
  bool operator()(const std::u16string& a, const std::u16string& b) const {
    return CompareNoCase(a, b) < 0;
  }
};

// (name, id) ordered by name without regard to case, then by id.
using NameKey = std::pair<std::u16string, ULONG64>;
struct NameKeyLess {
  bool operator()(const NameKey& a, const NameKey& b) const {
    const int c = CompareNoCase(a.first, b.first);
    return c != 0 ? c < 0 : a.second < b.second;
  }
};

// (authority type, instance, account name) without regard to case.
using AccountKey = std::tuple<std::u16string, std::u16string, std::u16string>;
struct AccountKeyLess {
  bool operator()(const AccountKey& a, const AccountKey& b) const {
    if (int c = CompareNoCase(std::get<0>(a), std::get<0>(b))) return c < 0;
    if (int c = CompareNoCase(std::get<1>(a), std::get<1>(b))) return c < 0;
    return CompareNoCase(std::get<2>(a), std::get<2>(b)) < 0;
  }
};

AccountKey KeyOf(const AccountRecord& a) { return {a.authority_type, a.instance, a.account_name}; }

// (parent folder, name, id) of a folder or application, ordered by parent,
// then name without regard to case, then id.
using ChildName = std::tuple<ULONG64, std::u16string, ULONG64>;
struct ChildNameLess {
  bool operator()(const ChildName& a, const ChildName& b) const {
    if (std::get<0>(a) != std::get<0>(b)) return std::get<0>(a) < std::get<0>(b);
    if (int c = CompareNoCase(std::get<1>(a), std::get<1>(b))) return c < 0;
    return std::get<2>(a) < std::get<2>(b);
  }
};

// (parent, creation serial, id)
using ChildKey = std::tuple<ULONG64, ULONG64, ULONG64>;
// (folder, application id)
using FolderAppKey = std::pair<ULONG64, ULONG64>;

struct State {
  std::u16string farm_name;
  std::map<ULONG, ULONG> serials;  // kind -> last serial handed out
  std::map<ULONG64, FolderRecord> folders;
  std::set<ChildKey> folder_children;
  std::map<ULONG64, ApplicationRecord> applications;
  std::set<FolderAppKey> folder_apps;
  std::set<NameKey, NameKeyLess> browser_names;
  std::set<ChildName, ChildNameLess> child_names;  // folders and applications
  std::map<ULONG64, ServerRecord> servers;
  std::set<NameKey, NameKeyLess> server_names;
  std::map<std::u16string, AccountRecord, NoCaseLess> accounts;  // by DN
  std::map<AccountKey, std::u16string, AccountKeyLess> account_keys;
  std::map<ULONG64, EventRecord> events;
  ULONG64 last_event = 0;
  std::map<LONG, EventQueueRecord> queues;
  LONG last_queue_handle = 0;
};

template <class Map>
auto Find(const Map& map, const typename Map::key_type& key)
    -> std::optional<typename Map::mapped_type> {
  auto it = map.find(key);
  if (it == map.end()) return std::nullopt;
  return it->second;
}

// Both the read view and the write transaction over one State. The write
// operations are used only when `log_` is set (Write transactions).
class MemoryTxn final : public FarmTxn {
 public:
  MemoryTxn(State* state, UndoLog* log) : s_(*state), log_(log) {}

  std::u16string FarmName() const override { return s_.farm_name; }

  std::optional<FolderRecord> GetFolder(ULONG64 id) const override { return Find(s_.folders, id); }

  std::vector<ULONG64> ChildFolderIds(ULONG64 parent) const override {
    std::vector<ULONG64> ids;
    for (auto it = s_.folder_children.lower_bound({parent, 0, 0});
         it != s_.folder_children.end() && std::get<0>(*it) == parent; ++it) {
      ids.push_back(std::get<2>(*it));
    }
    return ids;
  }

  std::vector<FolderRecord> ListFolders() const override {
    std::vector<FolderRecord> all;
    all.reserve(s_.folders.size());
    for (const auto& [id, folder] : s_.folders) all.push_back(folder);
    return all;
  }

  std::size_t FolderCount() const override { return s_.folders.size(); }

  std::optional<ApplicationRecord> GetApplication(ULONG64 id) const override {
    return Find(s_.applications, id);
  }

  std::optional<ULONG64> ApplicationFolder(ULONG64 id) const override {
    auto it = s_.applications.find(id);
    if (it == s_.applications.end()) return std::nullopt;
    return it->second.folder_id;
  }

  std::vector<ULONG64> ApplicationIds(ULONG64 folder) const override {
    std::vector<ULONG64> ids;
    if (folder == 0) {
      ids.reserve(s_.applications.size());
      for (const auto& entry : s_.applications) ids.push_back(entry.first);
      return ids;
    }
    for (auto it = s_.folder_apps.lower_bound({folder, 0});
         it != s_.folder_apps.end() && it->first == folder; ++it) {
      ids.push_back(it->second);
    }
    return ids;
  }

  std::size_t ApplicationCount() const override { return s_.applications.size(); }

  std::vector<ULONG64> ApplicationIdsAfter(ULONG64 after, std::size_t max_count) const override {
    std::vector<ULONG64> ids;
    for (auto it = s_.applications.upper_bound(after); it != s_.applications.end() && ids.size() < max_count; ++it) {
      ids.push_back(it->first);
    }
    return ids;
  }

  std::vector<ApplicationName> ApplicationNames(ULONG64 folder) const override {
    std::vector<ApplicationName> names;
    for (ULONG64 id : ApplicationIds(folder)) {
      const ApplicationRecord& app = s_.applications.at(id);
      names.push_back(ApplicationName{id, app.folder_id, app.data.friendly_name});
    }
    return names;
  }

  std::optional<ULONG64> FindChildByName(ULONG64 folder, const std::u16string& name,
                                         ULONG64 except) const override {
    std::optional<ULONG64> lowest;
    for (auto it = s_.child_names.lower_bound(ChildName{folder, name, 0});
         it != s_.child_names.end() && std::get<0>(*it) == folder &&
         CompareNoCase(std::get<1>(*it), name) == 0;
         ++it) {
      if (std::get<2>(*it) != except && (!lowest || std::get<2>(*it) < *lowest)) lowest = std::get<2>(*it);
    }
    return lowest;
  }

  std::vector<ULONG64> FindApplicationsByBrowserName(const std::u16string& name) const override {
    return FindByName(s_.browser_names, name);
  }

  std::optional<ServerRecord> GetServer(ULONG64 id) const override { return Find(s_.servers, id); }

  std::optional<ServerRecord> FindServerByName(const std::u16string& name) const override {
    std::vector<ULONG64> ids = FindByName(s_.server_names, name);
    if (ids.empty()) return std::nullopt;
    return Find(s_.servers, ids.front());
  }

  std::vector<ServerRecord> ListServers() const override {
    std::vector<ServerRecord> all;
    all.reserve(s_.servers.size());
    for (const auto& entry : s_.servers) all.push_back(entry.second);
    return all;
  }

  std::size_t ServerCount() const override { return s_.servers.size(); }

  std::optional<AccountRecord> FindAccountByDn(const std::u16string& dn) const override {
    return Find(s_.accounts, dn);
  }

  std::optional<AccountRecord> FindAccount(const std::u16string& authority_type,
                                           const std::u16string& instance,
                                           const std::u16string& account_name) const override {
    auto it = s_.account_keys.find(AccountKey{authority_type, instance, account_name});
    if (it == s_.account_keys.end()) return std::nullopt;
    return Find(s_.accounts, it->second);
  }

  std::vector<AccountRecord> ListAccounts() const override {
    std::vector<AccountRecord> all;
    all.reserve(s_.accounts.size());
    for (const auto& entry : s_.accounts) all.push_back(entry.second);
    return all;
  }

  std::size_t AccountCount() const override { return s_.accounts.size(); }

  std::vector<EventRecord> EventsAfter(ULONG64 after, std::size_t max_count) const override {
    std::vector<EventRecord> out;
    for (auto it = s_.events.upper_bound(after); it != s_.events.end() && out.size() < max_count;
         ++it) {
      out.push_back(it->second);
    }
    return out;
  }

  ULONG64 LastEventSequence() const override { return s_.last_event; }

  std::optional<EventQueueRecord> GetEventQueue(LONG handle) const override {
    return Find(s_.queues, handle);
  }

  std::vector<EventQueueRecord> ListEventQueues() const override {
    std::vector<EventQueueRecord> all;
    for (const auto& entry : s_.queues) all.push_back(entry.second);
    return all;
  }

  // ---- Writes ----

  void SetFarmName(const std::u16string& name) override { log_->Assign(s_.farm_name, name); }

  ULONG64 AllocateId(ULONG kind) override {
    auto it = s_.serials.find(kind);
    const ULONG last = it == s_.serials.end() ? 0 : it->second;
    // Serial 0 would give the identifier 0 for kind 0; the last serial is
    // never handed out so that a counter never wraps.
    if (last >= std::numeric_limits<ULONG>::max() - 1) throw std::bad_alloc();
    log_->MapPut(s_.serials, kind, last + 1);
    return MakeObjectId(kind, last + 1);
  }

  void PutFolder(const FolderRecord& folder) override {
    DeleteFolder(folder.id);
    log_->MapPut(s_.folders, folder.id, folder);
    log_->SetInsert(s_.folder_children, ChildKey{folder.parent_id, folder.creation_serial, folder.id});
    log_->SetInsert(s_.child_names, ChildName{folder.parent_id, folder.name, folder.id});
  }

  void DeleteFolder(ULONG64 id) override {
    auto it = s_.folders.find(id);
    if (it == s_.folders.end()) return;
    const ChildKey key{it->second.parent_id, it->second.creation_serial, id};
    log_->Erase(s_.folder_children, key);
    log_->Erase(s_.child_names, ChildName{it->second.parent_id, it->second.name, id});
    log_->Erase(s_.folders, id);
  }

  void PutApplication(const ApplicationRecord& application) override {
    const ULONG64 id = application.id;
    auto it = s_.applications.find(id);
    if (it != s_.applications.end()) {
      const ApplicationRecord& old = it->second;
      if (old.folder_id != application.folder_id) {
        log_->Erase(s_.folder_apps, FolderAppKey{old.folder_id, id});
      }
      if (old.data.browser_name != application.data.browser_name) {
        log_->Erase(s_.browser_names, NameKey{old.data.browser_name, id});
      }
      if (old.folder_id != application.folder_id || old.data.friendly_name != application.data.friendly_name) {
        log_->Erase(s_.child_names, ChildName{old.folder_id, old.data.friendly_name, id});
      }
    }
    log_->MapPut(s_.applications, id, application);
    log_->SetInsert(s_.folder_apps, FolderAppKey{application.folder_id, id});
    log_->SetInsert(s_.browser_names, NameKey{application.data.browser_name, id});
    log_->SetInsert(s_.child_names, ChildName{application.folder_id, application.data.friendly_name, id});
  }

  void DeleteApplication(ULONG64 id) override {
    auto it = s_.applications.find(id);
    if (it == s_.applications.end()) return;
    log_->Erase(s_.folder_apps, FolderAppKey{it->second.folder_id, id});
    log_->Erase(s_.browser_names, NameKey{it->second.data.browser_name, id});
    log_->Erase(s_.child_names, ChildName{it->second.folder_id, it->second.data.friendly_name, id});
    log_->Erase(s_.applications, id);
  }

  void PutServer(const ServerRecord& server) override {
    DeleteServer(server.id);
    log_->MapPut(s_.servers, server.id, server);
    log_->SetInsert(s_.server_names, NameKey{server.name, server.id});
  }

  void DeleteServer(ULONG64 id) override {
    auto it = s_.servers.find(id);
    if (it == s_.servers.end()) return;
    log_->Erase(s_.server_names, NameKey{it->second.name, id});
    log_->Erase(s_.servers, id);
  }

  void PutAccount(const AccountRecord& account) override {
    DeleteAccount(account.dn);
    // Another account with the same key loses its key entry to this one.
    auto key_it = s_.account_keys.find(KeyOf(account));
    if (key_it != s_.account_keys.end()) DeleteAccount(std::u16string(key_it->second));
    log_->MapPut(s_.accounts, account.dn, account);
    log_->MapPut(s_.account_keys, KeyOf(account), account.dn);
  }

  void DeleteAccount(const std::u16string& dn) override {
    auto it = s_.accounts.find(dn);
    if (it == s_.accounts.end()) return;
    log_->Erase(s_.account_keys, KeyOf(it->second));
    log_->Erase(s_.accounts, std::u16string(it->first));
  }

  ULONG64 AppendEvent(USHORT event_id, const std::vector<BYTE>& record,
                      const std::optional<std::u16string>& object_dn) override {
    const ULONG64 sequence = s_.last_event + 1;
    log_->MapPut(s_.events, sequence, EventRecord{sequence, event_id, record, object_dn});
    log_->Assign(s_.last_event, sequence);
    return sequence;
  }

  LONG AllocateEventQueueHandle() override {
    if (s_.last_queue_handle == std::numeric_limits<LONG>::max()) throw std::bad_alloc();
    const LONG handle = s_.last_queue_handle + 1;
    log_->Assign(s_.last_queue_handle, handle);
    return handle;
  }

  void PutEventQueue(const EventQueueRecord& queue) override {
    log_->MapPut(s_.queues, queue.handle, queue);
  }

  void DeleteEventQueue(LONG handle) override { log_->Erase(s_.queues, handle); }

  void DeleteEventsThrough(ULONG64 sequence) override {
    while (!s_.events.empty() && s_.events.begin()->first <= sequence) {
      log_->Erase(s_.events, ULONG64(s_.events.begin()->first));
    }
  }

  void Clear() override { log_->Assign(s_, State{}); }

 private:
  template <class Index>
  static std::vector<ULONG64> FindByName(const Index& index, const std::u16string& name) {
    std::vector<ULONG64> ids;
    for (auto it = index.lower_bound(NameKey{name, 0});
         it != index.end() && CompareNoCase(it->first, name) == 0; ++it) {
      ids.push_back(it->second);
    }
    return ids;
  }

  State& s_;
  UndoLog* log_;
};

// The lock of the store's transactions: readers share it, a writer holds it
// alone. Under MinGW, std::shared_mutex is the runtime's POSIX reader-writer
// lock (winpthreads), which has been seen to let a reader in while a writer
// held it (a reader saw half of a transaction); there readers take turns
// like writers.
#if defined(__MINGW32__)
using TransactionLock = std::mutex;
using ReadLock = std::unique_lock<std::mutex>;
#else
using TransactionLock = std::shared_mutex;
using ReadLock = std::shared_lock<std::shared_mutex>;
#endif

class MemoryFarmStore final : public FarmStore {
 public:
  VSTATUS Read(const std::function<VSTATUS(const FarmView&)>& fn) override {
    ReadLock lock(mutex_);
    const MemoryTxn view(&state_, nullptr);
    return fn(view);
  }

  VSTATUS Write(const std::function<VSTATUS(FarmTxn&)>& fn) override {
    std::unique_lock lock(mutex_);
    UndoLog log;
    MemoryTxn txn(&state_, &log);
    VSTATUS result;
    try {
      result = fn(txn);
    } catch (...) {
      log.Rollback();
      throw;
    }
    if (result != 0) {
      log.Rollback();
    } else {
      log.Commit();
      // Waiters look at the newest event sequence; wake them after a commit
      // that appended events. The sequence is published while the write
      // lock is still held, so that commits publish in commit order and a
      // later commit's sequence is never overwritten by an earlier one's.
      const ULONG64 newest = txn.LastEventSequence();
      bool changed = false;
      {
        std::lock_guard wake_lock(wake_mutex_);
        changed = newest != notified_sequence_.load();
        notified_sequence_.store(newest);
      }
      lock.unlock();
      if (changed) wake_.notify_all();
    }
    return result;
  }

  // In-process only: every commit that appends events notifies at once.
  bool WaitForEventAfter(ULONG64 after, LONG timeout_ms) override {
    auto has_newer = [&] {
      ULONG64 newest = 0;
      Read([&](const FarmView& view) -> VSTATUS {
        newest = view.LastEventSequence();
        return 0;
      });
      return newest > after;
    };
    if (has_newer() || timeout_ms == 0) return has_newer();
    std::unique_lock wake_lock(wake_mutex_);
    auto ready = [&] { return notified_sequence_.load() > after; };
    if (timeout_ms < 0) {
      wake_.wait(wake_lock, ready);
      return true;
    }
    wake_.wait_for(wake_lock, std::chrono::milliseconds(timeout_ms), ready);
    wake_lock.unlock();
    return has_newer();
  }

 private:
  TransactionLock mutex_;
  State state_;
  std::mutex wake_mutex_;
  std::condition_variable wake_;
  std::atomic<ULONG64> notified_sequence_{0};
};

}  // namespace

std::shared_ptr<FarmStore> CreateMemoryFarmStore() { return std::make_shared<MemoryFarmStore>(); }

std::vector<ULONG64> FarmView::ChildrenNamed(ULONG64 folder, const std::u16string& name) const {
  std::vector<ULONG64> named;
  for (ULONG64 id : ChildFolderIds(folder)) {
    std::optional<FolderRecord> child = GetFolder(id);
    if (child && platform::CompareUtf16NoCase(child->name.c_str(), name.c_str()) == 0) named.push_back(id);
  }
  for (const ApplicationName& app : ApplicationNames(folder)) {
    if (platform::CompareUtf16NoCase(app.name.c_str(), name.c_str()) == 0) named.push_back(app.id);
  }
  return named;
}

bool FarmTxn::PutApplicationHoldingNames(const ApplicationRecord& application) {
  for (ULONG64 other : FindApplicationsByBrowserName(application.data.browser_name)) {
    if (other != application.id) return false;
  }
  const std::optional<ApplicationName> before = GetApplicationName(application.id);
  const bool name_kept = before && before->folder_id == application.folder_id &&
                         CompareNoCase(before->name, application.data.friendly_name) == 0;
  if (!name_kept && FindChildByName(application.folder_id, application.data.friendly_name, application.id)) {
    return false;
  }
  PutApplication(application);
  return true;
}

bool FarmTxn::PutApplicationKeepingNames(const ApplicationRecord&) { return false; }

void InitializeNewFarm(FarmTxn& txn) {
  txn.Clear();
  txn.SetFarmName(kNewFarmName);
  const ULONG64 root = txn.AllocateId(kObjectKindFolder);
  txn.PutFolder(FolderRecord{root, 0, kRootFolderName, root & 0xFFFFFFFFu});
}

}  // namespace feroq::store
