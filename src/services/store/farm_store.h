// The farm store: every piece of farm data the stand-in services keep, behind
// one narrow, transactional interface.
//
// Backends: MemoryFarmStore (memory_farm_store.cc), SqliteFarmStore
// (sqlite_farm_store.cc, one file per farm) and the PostgreSQL store
// (postgres_farm_store.cc, one database per farm). Nothing in this header
// is specific to a backend.
//
// Contract shared by every backend:
// - All access happens inside a transaction. Read() runs a function against a
//   consistent snapshot; Write() runs a function that may change the farm and
//   commits its changes when it returns 0. A non-zero result, or an exception
//   leaving the function, rolls back every change the function made (farm
//   name, rows, identifier serials) and Write() returns that result (or lets
//   the exception pass after the rollback). A backend shared over a
//   network (PostgreSQL) may roll back and run the function again when it
//   collided with another writer, so what a write function does outside
//   the transaction must bear being repeated (assign outputs, do not append
//   to them).
// - The store is safe for concurrent use from several threads without
//   external locking. A transaction function must not start another
//   transaction on the same store (that would deadlock).
// - The store keeps data; it does not enforce the farm's rules (unique
//   sibling names, no cycles, ...). Those are the services'. It only keeps its
//   indexes consistent with the rows, and answers the lookups the rules
//   need (FindChildByName, FindApplicationsByBrowserName).
// - Name lookups (browser names, server names, account keys, DNs) compare
//   without regard to case, as feroq::platform::CompareUtf16NoCase does.
// - Allocation failure raises std::bad_alloc out of view and transaction
//   operations; Write() rolls back and lets it pass.
#ifndef FEROQ_SERVICES_STORE_FARM_STORE_H_
#define FEROQ_SERVICES_STORE_FARM_STORE_H_

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "feroq/services/service_codes.h"
#include "feroq/types.h"

namespace feroq::store {

// One application folder. The root folder is the folder whose parent is 0.
struct FolderRecord {
  ULONG64 id = 0;
  ULONG64 parent_id = 0;
  std::u16string name;
  // Orders the children of one parent (ascending, then by id). Kept across
  // moves and renames.
  ULONG64 creation_serial = 0;

  bool operator==(const FolderRecord&) const = default;
};

// One server entry of an application (the store side of _ZQAPP_SERVER_CONFIG).
struct AppServerData {
  ULONG64 server_id = 0;
  BYTE flags = 0;
  std::u16string initial_program;
  std::u16string work_directory;

  bool operator==(const AppServerData&) const = default;
};

// Every property of a stored application record (ZQApp) except its
// identifier and folder, which are columns of ApplicationRecord.
struct AppRecordData {
  ULONG version = 0;
  BYTE read_only = 0;
  BYTE video_type = 0;
  ULONG publishing_flags = 0;
  std::u16string browser_name;
  std::u16string friendly_name;
  std::u16string initial_program;
  std::u16string work_directory;
  std::u16string description;
  std::u16string folder_text;  // ZQApp's Folder string property
  std::vector<BYTE> icon;      // the 640 bytes of _WLICON_V1, or empty for none
  ULONG window_height = 0;
  ULONG window_width = 0;
  ULONG zq_attributes = 0;
  ULONG wl_attributes = 0;
  BYTE encryption_level = 0;
  BYTE sound_type = 0;
  BYTE window_color = 0;
  BYTE window_scale = 0;
  BYTE window_type = 0;
  BYTE desktop_integrate = 0;
  std::vector<std::u16string> users;     // account DNs, in record order
  std::vector<AppServerData> servers;    // ascending server id

  bool operator==(const AppRecordData&) const = default;
};

struct ApplicationRecord {
  ULONG64 id = 0;
  ULONG64 folder_id = 0;
  AppRecordData data;

  bool operator==(const ApplicationRecord&) const = default;
};

// An application's place in the folder tree: its folder and its name (the
// display name), without its record.
struct ApplicationName {
  ULONG64 id = 0;
  ULONG64 folder_id = 0;
  std::u16string name;

  bool operator==(const ApplicationName&) const = default;
};

struct ServerRecord {
  ULONG64 id = 0;
  std::u16string name;

  bool operator==(const ServerRecord&) const = default;
};

// One account of the account directory. Keyed by its DN; also findable by
// (authority type, instance, account name).
struct AccountRecord {
  std::u16string authority_type;  // "NT", "NDS", ...
  std::u16string instance;        // the domain (or tree)
  std::u16string account_name;
  ULONG kind = 0;                 // 0, 1 or 2
  std::u16string dn;

  bool operator==(const AccountRecord&) const = default;
};

// One entry of the farm's change log: an event identifier (the values of the
// event table, 0x1000..0x1102) and its packed little-endian event record.
struct EventRecord {
  EventRecord() = default;
  EventRecord(ULONG64 sequence_in, USHORT event_id_in, std::vector<BYTE> record_in,
              std::optional<std::u16string> object_dn_in = std::nullopt)
      : sequence(sequence_in),
        event_id(event_id_in),
        record(std::move(record_in)),
        object_dn(std::move(object_dn_in)) {}

  ULONG64 sequence = 0;  // ascending, from 1, never reused
  USHORT event_id = 0;
  std::vector<BYTE> record;
  // The distinguished name the folder or application the entry is about
  // had as of the change (after a publish, rename or move, before a
  // delete); none for entries logged before the log kept names.
  std::optional<std::u16string> object_dn;

  bool operator==(const EventRecord&) const = default;
};

// A client's event queue: the event identifiers it wants and the sequence of
// the last event it has read, the entry its last wait handed out, and who
// owns it.
struct EventQueueRecord {
  EventQueueRecord() = default;
  // A queue without a known owner; the owner fields are set one by one.
  EventQueueRecord(LONG handle_in, std::vector<USHORT> event_ids_in, ULONG64 read_position_in)
      : handle(handle_in), event_ids(std::move(event_ids_in)), read_position(read_position_in) {}

  LONG handle = 0;  // never 0
  std::vector<USHORT> event_ids;
  ULONG64 read_position = 0;
  // The sequence of the entry the most recent wait handed out; 0 when that
  // wait handed out none (or none has run yet).
  ULONG64 delivered = 0;
  // The process that made the queue: its host name, process number and
  // start token (feroq::platform::ProcessIdentity); an empty host and 0
  // when unknown (a queue from a farm file that did not keep owners).
  std::string owner_host;
  ULONG owner_process = 0;
  ULONG64 owner_start = 0;
  // When the queue was made or last waited on, in seconds since 1970 UTC
  // (refreshed while idle, see services/event_service.h); 0
  // when unknown.
  ULONG64 last_wait = 0;

  bool operator==(const EventQueueRecord&) const = default;
};

// Read access inside a transaction. Results are copies; they stay valid after
// the transaction ends. Lists come in the order each comment states.
class FEROQ_SERVICES_API FarmView {
 public:
  virtual ~FarmView() = default;

  virtual std::u16string FarmName() const = 0;

  virtual std::optional<FolderRecord> GetFolder(ULONG64 id) const = 0;
  // Children of `parent` by (creation serial, id). Parent 0 lists the root.
  virtual std::vector<ULONG64> ChildFolderIds(ULONG64 parent) const = 0;
  // Every folder, ascending id.
  virtual std::vector<FolderRecord> ListFolders() const = 0;
  // The number of folders, the root folder included (ListFolders().size(),
  // without reading them).
  virtual std::size_t FolderCount() const = 0;

  virtual std::optional<ApplicationRecord> GetApplication(ULONG64 id) const = 0;
  // The same record for a caller that only reads it, which may then be the
  // very copy the backend keeps in memory (null for an unknown id). It
  // never changes; a later write stores a new record instead. The default
  // copies GetApplication's.
  virtual std::shared_ptr<const ApplicationRecord> GetApplicationShared(ULONG64 id) const {
    std::optional<ApplicationRecord> app = GetApplication(id);
    if (!app) return nullptr;
    return std::make_shared<const ApplicationRecord>(std::move(*app));
  }
  // The folder of application `id`, without copying the record.
  virtual std::optional<ULONG64> ApplicationFolder(ULONG64 id) const = 0;
  // Applications lying directly in `folder`, ascending id; folder 0 lists
  // every application of the farm.
  virtual std::vector<ULONG64> ApplicationIds(ULONG64 folder) const = 0;
  virtual std::size_t ApplicationCount() const = 0;
  // A window of the farm's applications: at most `max_count` identifiers
  // above `after`, ascending, so that a caller can walk the whole farm in
  // bounded steps (after 0 starts at the first one; an empty result ends
  // the walk).
  virtual std::vector<ULONG64> ApplicationIdsAfter(ULONG64 after, std::size_t max_count) const = 0;
  // Id, folder and name of the applications lying directly in `folder`
  // (folder 0: of every application), ascending id, without their records.
  virtual std::vector<ApplicationName> ApplicationNames(ULONG64 folder) const = 0;
  // Id, folder and display name of application `id`, without copying its
  // record. The default reads the record; backends that keep the name
  // beside the record override it.
  virtual std::optional<ApplicationName> GetApplicationName(ULONG64 id) const {
    std::optional<ApplicationRecord> app = GetApplication(id);
    if (!app) return std::nullopt;
    return ApplicationName{app->id, app->folder_id, std::move(app->data.friendly_name)};
  }
  // A folder or application lying directly in `folder`, other than
  // `except`, whose name (a folder's name, an application's display name)
  // equals `name` without regard to case; of several (a farm file from
  // before the naming rules may hold such names), the lowest identifier.
  virtual std::optional<ULONG64> FindChildByName(ULONG64 folder, const std::u16string& name,
                                                 ULONG64 except) const = 0;
  // The folders and applications lying directly in `folder` whose name (a
  // folder's name, an application's display name) equals `name` without
  // regard to case, in the order the folder service lists children: the
  // folders by (creation serial, id), then the applications by id. The
  // default reads every child's name; backends that index the names
  // override it.
  virtual std::vector<ULONG64> ChildrenNamed(ULONG64 folder, const std::u16string& name) const;
  // The number of folders and applications lying directly in `folder`.
  virtual std::size_t ChildCount(ULONG64 folder) const {
    return ChildFolderIds(folder).size() + ApplicationIds(folder).size();
  }
  // Applications whose browser name equals `name` without regard to case,
  // ascending id.
  virtual std::vector<ULONG64> FindApplicationsByBrowserName(const std::u16string& name) const = 0;

  virtual std::optional<ServerRecord> GetServer(ULONG64 id) const = 0;
  // The server named `name` without regard to case (the lowest id if several).
  virtual std::optional<ServerRecord> FindServerByName(const std::u16string& name) const = 0;
  // Ascending id.
  virtual std::vector<ServerRecord> ListServers() const = 0;
  virtual std::size_t ServerCount() const = 0;

  virtual std::optional<AccountRecord> FindAccountByDn(const std::u16string& dn) const = 0;
  virtual std::optional<AccountRecord> FindAccount(const std::u16string& authority_type,
                                                   const std::u16string& instance,
                                                   const std::u16string& account_name) const = 0;
  // Ascending DN (without regard to case).
  virtual std::vector<AccountRecord> ListAccounts() const = 0;
  virtual std::size_t AccountCount() const = 0;

  // Up to `max_count` events with a sequence above `after`, ascending.
  virtual std::vector<EventRecord> EventsAfter(ULONG64 after, std::size_t max_count) const = 0;
  // The sequence of the newest event; 0 for an empty log.
  virtual ULONG64 LastEventSequence() const = 0;
  virtual std::optional<EventQueueRecord> GetEventQueue(LONG handle) const = 0;
  // Ascending handle.
  virtual std::vector<EventQueueRecord> ListEventQueues() const = 0;

  // The root folder's identifier (the first folder whose parent is 0), or 0
  // when the farm has none.
  ULONG64 RootFolderId() const {
    std::vector<ULONG64> roots = ChildFolderIds(0);
    return roots.empty() ? 0 : roots.front();
  }
};

// Read and write access inside a Write() transaction. Put* inserts a row or
// replaces the row with the same key; Delete* of an absent key does nothing.
class FEROQ_SERVICES_API FarmTxn : public FarmView {
 public:
  virtual void SetFarmName(const std::u16string& name) = 0;

  // A new identifier of `kind` (bits 32-47) with the next serial of that
  // kind (bits 0-31, from 1). Serials are never handed out twice by
  // committed transactions; a rolled-back allocation may be handed out again.
  virtual ULONG64 AllocateId(ULONG kind) = 0;
  // Makes the counter of `kind` hand out serials above `serial` from now on
  // (a counter already past it may move on by one), as after copying a farm's
  // rows with their identifiers. The default allocates until the counter
  // is there; backends that can set it at once override it.
  virtual void AdvanceSerial(ULONG kind, ULONG serial) {
    while ((AllocateId(kind) & 0xFFFFFFFFu) < serial) {
    }
  }

  virtual void PutFolder(const FolderRecord& folder) = 0;
  virtual void DeleteFolder(ULONG64 id) = 0;
  virtual void PutApplication(const ApplicationRecord& application) = 0;
  virtual void DeleteApplication(ULONG64 id) = 0;
  // Puts `application` as PutApplication does, provided that it takes no
  // name another object holds: no other application has its browser name,
  // and no other child of its folder (folder or application) has its
  // display name, both without regard to case. Returns true when it was
  // put; false, with nothing written, when a name is taken. A display name
  // the application already had in the same folder (a change of case aside)
  // is not checked again, so that an application of a farm file from before
  // the naming rules, which may share its name, can still be saved. The
  // default looks the names up first; backends that keep the names in unique
  // indexes let the index refuse the write instead.
  virtual bool PutApplicationHoldingNames(const ApplicationRecord& application);
  // Writes `application` over its row, in one step, only when the row lies
  // in the same folder under the same display name (spelt alike) and browser
  // name, so that no name changes and none needs checking: a save that
  // renames or moves nothing, made without first reading the row's names.
  // False, with nothing written, when the row is otherwise or missing (the
  // caller then reads its names and puts it as PutApplicationHoldingNames
  // does), and always where WritesKeepingNames() is false.
  virtual bool PutApplicationKeepingNames(const ApplicationRecord& application);
  virtual bool WritesKeepingNames() const { return false; }
  virtual void PutServer(const ServerRecord& server) = 0;
  virtual void DeleteServer(ULONG64 id) = 0;
  // Keyed by DN (without regard to case).
  virtual void PutAccount(const AccountRecord& account) = 0;
  virtual void DeleteAccount(const std::u16string& dn) = 0;

  // Appends an event, with the distinguished name its object had as of the
  // change when known, and returns its sequence.
  virtual ULONG64 AppendEvent(USHORT event_id, const std::vector<BYTE>& record,
                              const std::optional<std::u16string>& object_dn = std::nullopt) = 0;
  // A queue handle not used before in this farm (positive, from 1).
  virtual LONG AllocateEventQueueHandle() = 0;
  virtual void PutEventQueue(const EventQueueRecord& queue) = 0;
  virtual void DeleteEventQueue(LONG handle) = 0;
  // Drops every event with a sequence at or below `sequence` (the event
  // service trims entries no queue still needs). LastEventSequence() is
  // unchanged and sequences are never reused. The default keeps every event,
  // which is correct but lets the log grow; backends override it.
  virtual void DeleteEventsThrough(ULONG64 sequence) { (void)sequence; }

  // Removes every row, the farm name and every serial and counter: the farm
  // becomes empty, as a newly made store is.
  virtual void Clear() = 0;
};

class FEROQ_SERVICES_API FarmStore {
 public:
  virtual ~FarmStore() = default;

  // Runs `fn` against a consistent view and returns its result.
  virtual VSTATUS Read(const std::function<VSTATUS(const FarmView&)>& fn) = 0;
  // Read for a function that answers many questions in a row, such as a
  // walk over many records that reads each once: a backend that keeps
  // records read for later transactions need not keep those it reads here.
  // What `fn` sees is the same as with Read.
  virtual VSTATUS ReadMany(const std::function<VSTATUS(const FarmView&)>& fn) { return Read(fn); }
  // Read for a function that asks the view one question (one record by its
  // identifier, say): a backend on which one question sees a snapshot of its
  // own may answer it without a transaction around it. A function that asks
  // a second question anyway is run again from the start through Read, so
  // what it does outside the view must bear being repeated (assign outputs,
  // do not append to them). What `fn` sees is the same as with Read.
  virtual VSTATUS ReadOne(const std::function<VSTATUS(const FarmView&)>& fn) { return Read(fn); }
  // Runs `fn` in a transaction: committed when it returns 0, rolled back
  // otherwise (see the contract above). Returns fn's result.
  virtual VSTATUS Write(const std::function<VSTATUS(FarmTxn&)>& fn) = 0;
  // Blocks until the newest event's sequence is above `after`, or until
  // `timeout_ms` milliseconds have passed (-1: without bound; 0: only looks).
  // Returns true when an event above `after` exists. A commit in this process
  // wakes waiters at once; commits by other processes sharing the farm are
  // seen within the backend's polling interval (documented by the backend).
  // Holds no transaction while it waits.
  virtual bool WaitForEventAfter(ULONG64 after, LONG timeout_ms) = 0;
};

// A new, empty in-memory store (no farm name, no folders). Thread-safe.
FEROQ_SERVICES_API std::shared_ptr<FarmStore> CreateMemoryFarmStore();

// The name and root folder name of a newly created farm.
inline constexpr char16_t kNewFarmName[] = u"feroq";
inline constexpr char16_t kRootFolderName[] = u"Applications";

// Makes the farm behind `txn` a new farm: empties it, sets the farm name
// "feroq" and creates the root folder "Applications".
FEROQ_SERVICES_API void InitializeNewFarm(FarmTxn& txn);

// Whether the farm has been initialised (it has a root folder).
inline bool IsInitializedFarm(const FarmView& view) { return view.RootFolderId() != 0; }

}  // namespace feroq::store

#endif  // FEROQ_SERVICES_STORE_FARM_STORE_H_
