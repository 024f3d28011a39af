// Farm administration: the setup a farm needs that the library has no call
// for (its name, its servers, its account directory), for the command-line
// tool and the tests. It works on the same farm store the services use.
//
// Every call returns a service code: 0 on success, VORN_E_INVALIDVALUE
// (0x80000003) for a value refused, VORN_E_REFUSED (0x80000007) for a change
// the farm's rules refuse, VORN_E_FAILURE (0x80000001) for an identifier that
// names nothing, VORN_E_OUTOFMEMORY (0x80000002). Outputs are written only on
// success. A FarmAdmin may be used from several threads at once.
#ifndef FEROQ_FARM_ADMIN_H_
#define FEROQ_FARM_ADMIN_H_

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "feroq/services/service_codes.h"
#include "feroq/types.h"

namespace feroq::admin {

// Answered when a farm URL names a backend this build cannot open.
constexpr VSTATUS kFarmBackendUnavailable = ZQAPP_E_NOT_SUPPORTED;

// Codes of the farm file ("sqlite:PATH"), from opening it and from any call
// that reads or writes it:
// The farm file cannot be opened, created, read or written (a missing
// directory, no permission, an I/O error, a full disk, an empty path); for a
// farm on a database server: the server cannot be reached (it is down, the
// connection was lost, or it refused the login). Nothing was changed; the
// next call connects again.
constexpr VSTATUS kFarmFileUnavailable = 0x80170001u;
// The file is not a farm: not a SQLite database, or a SQLite database
// without the farm's schema. The file is left untouched.
constexpr VSTATUS kFarmFileNotAFarm = 0x80170002u;
// The farm file was written by a newer feroq (its schema version is above
// the one this build knows). The file is left untouched.
constexpr VSTATUS kFarmFileTooNew = 0x80170003u;
// The farm file is damaged (SQLite found a corrupt page or record).
constexpr VSTATUS kFarmFileCorrupt = 0x80170004u;
// Another process held the farm file's write lock for longer than the busy
// timeout (5 s); nothing was changed.
constexpr VSTATUS kFarmBusy = 0x80170005u;
// There is no farm file at the path (every farm but the default one is made
// with CreateFarm, `feroq farm init`).
constexpr VSTATUS kFarmFileMissing = 0x80170006u;
// The farm file is open for reading only (the file, or for a new -wal or
// -shm companion its folder, is not writable by this user), or the database
// role of a farm on a database server may only read; nothing was changed.
constexpr VSTATUS kFarmReadOnly = 0x80170007u;
// The disk (or the user's quota) is full; nothing was changed.
constexpr VSTATUS kFarmDiskFull = 0x80170008u;
// The farm file lies in a folder this user cannot write to and its -wal or
// -shm companion is missing, so it cannot be opened even for reading (the
// farm's owner opening it once makes them).
constexpr VSTATUS kFarmCompanionsMissing = 0x80170009u;
// A farm on a database server: the write collided with other writers
// (serialization failure or deadlock) on every one of its attempts
// (kFarmWriteAttempts); nothing was changed.
constexpr VSTATUS kFarmWriteConflict = 0x8017000Au;

// Why the most recent failed service call of a thread failed.
//
// Every service call that fails (the services' methods, the record's
// setters, the RPC functions, and the calls of FarmAdmin) replaces the
// calling thread's record; calls that succeed leave it alone. A tool that
// wants the cause of one operation clears the record first, runs the
// operation and reads the record when the operation failed.
struct FailureCause {
  // A code naming the cause: a farm rule (FARM_E_* in feroq/services/service_codes.h),
  // a store check (the detail code 0xDEAD1000 plus its index), a farm file
  // code above, or the service code itself when nothing more precise is
  // known.
  VSTATUS code = 0;
  // The value the cause is about: "name" for a folder's name, the record
  // field for an application ("FriendlyName", "BrowserName", ...); empty
  // when it is about no one value.
  std::string field;
  // The rule in words, one sentence without a final full stop, such as
  // "names may not hold a backslash or a slash".
  std::string message;
};

struct ServiceFailure {
  std::string operation;  // "VORNCommonApplicationSAL::RenameFolder", ...
  VSTATUS status = 0;     // the code the call answered
  // At least one cause; the first decided the answer. A record refused by
  // the application store's checks has one cause per broken rule.
  std::vector<FailureCause> causes;
};

// Copies this thread's record into `*failure` and returns true, or returns
// false (leaving `*failure` alone) when no call has failed since the last
// ClearLastServiceFailure.
FEROQ_SERVICES_API bool LastServiceFailure(ServiceFailure* failure);
FEROQ_SERVICES_API void ClearLastServiceFailure();

// The name ("FARM_E_NAME_TAKEN") and meaning of a service code this build
// answers or records as a cause, or null for a code it does not know.
struct ServiceCodeInfo {
  VSTATUS code;
  const char* name;
  const char* meaning;
};
FEROQ_SERVICES_API const ServiceCodeInfo* FindServiceCode(VSTATUS code);
// Every code of FindServiceCode, ascending.
FEROQ_SERVICES_API const std::vector<ServiceCodeInfo>& AllServiceCodes();

struct ServerInfo {
  ULONG64 id = 0;
  std::u16string name;
};

struct AccountInfo {
  std::u16string authority_type;  // "NT", "NDS", ...
  std::u16string domain;          // the authority instance
  std::u16string account;
  ULONG kind = 0;                 // 0, 1 or 2
  std::u16string dn;
};

struct FolderInfo {
  ULONG64 id = 0;
  ULONG64 parent_id = 0;  // 0 for the root folder
  std::u16string name;
};

// A folder or application whose name breaks a naming rule (a farm file from
// before the rules may hold such names; they still open and can be renamed,
// moved or deleted).
struct NameProblem {
  ULONG64 id = 0;         // the folder or application
  ULONG64 parent_id = 0;  // the folder it lies in
  std::u16string name;
  VSTATUS cause = 0;      // FARM_E_NAME_* (feroq/services/service_codes.h)
};

// An entry of the farm's change log as a wait on an event queue delivered it.
struct DeliveredEvent {
  ULONG64 sequence = 0;   // the entry's place in the log, ascending from 1
  USHORT event_id = 0;    // the event identifier (0x1000 folder created, ...)
  ULONG64 object_id = 0;  // the folder or application the entry is about
  // The distinguished name the object had as of the change: after a
  // publish, change, rename, move or creation the name it then had, for a
  // delete the name it had just before. Entries logged by a farm file from
  // before names were kept have none (`name_known` false, `dn` empty).
  bool name_known = false;
  std::u16string dn;
};

// How much a farm holds.
struct FarmCounts {
  std::size_t applications = 0;
  std::size_t folders = 0;  // the root folder included
  std::size_t servers = 0;
  std::size_t accounts = 0;
};

class FEROQ_SERVICES_API FarmAdmin {
 public:
  // Opens the farm at `url` ("memory:NAME" or "sqlite:PATH"; see
  // CurrentFarmUrl). VORN_E_INVALIDVALUE for a URL of no known form,
  // kFarmBackendUnavailable for a backend this build lacks, the farm file
  // codes above for "sqlite:PATH": kFarmFileMissing when there is no file
  // (except the default farm file, which is created on first use). A file
  // this user may only read opens for reading only (writes answer
  // kFarmReadOnly).
  static VSTATUS Open(const std::string& url, std::unique_ptr<FarmAdmin>* admin);
  // Opens the farm at `url` as Open does, first creating a missing farm file
  // as a new farm (name "feroq", root folder "Applications"); its folder
  // must exist. An existing farm is opened as it is.
  static VSTATUS Create(const std::string& url, std::unique_ptr<FarmAdmin>* admin);
  // Opens the farm the services open now (FEROQ_FARM).
  static VSTATUS OpenCurrent(std::unique_ptr<FarmAdmin>* admin);

  ~FarmAdmin();
  FarmAdmin(const FarmAdmin&) = delete;
  FarmAdmin& operator=(const FarmAdmin&) = delete;

  VSTATUS GetFarmName(std::u16string* name);
  // Any name but the empty one (VORN_E_INVALIDVALUE).
  VSTATUS SetFarmName(const std::u16string& name);

  // Adds a server. An empty name, a name with a line break (CR or LF), or
  // one a server already has (without regard to case), is refused with
  // VORN_E_INVALIDVALUE.
  VSTATUS AddServer(const std::u16string& name, ULONG64* id);
  // Removes a server. Refused (VORN_E_REFUSED) while an application lists
  // it; VORN_E_FAILURE for an unknown server.
  VSTATUS RemoveServer(ULONG64 id);
  // Ascending id.
  VSTATUS ListServers(std::vector<ServerInfo>* servers);

  // Adds an account to the directory. Refused with VORN_E_INVALIDVALUE when
  // the authority type, account or DN is empty, when any of its texts holds
  // a line break (CR or LF), or when the kind is above 2, and
  // with VORN_E_REFUSED when an account with the same DN, or the same
  // (authority type, domain, account), exists (compared without regard to
  // case).
  VSTATUS AddAccount(const AccountInfo& account);
  // Ascending DN.
  VSTATUS ListAccounts(std::vector<AccountInfo>* accounts);

  // Every folder, ascending id.
  VSTATUS ListFolders(std::vector<FolderInfo>* folders);

  // The number of applications, folders, servers and accounts, as one
  // consistent reading, counted by the store without reading any of them.
  VSTATUS GetCounts(FarmCounts* counts);

  // A window of the farm's applications in the order FarmObject::EnumerateApps
  // lists them (ascending identifier): at most `max_count` identifiers above
  // `after` (0: from the first). A tool walks a farm of any size in bounded
  // memory by asking again after the last identifier it got, until the
  // window comes back empty; an application published or deleted meanwhile
  // is listed or not depending on where the walk stands.
  VSTATUS ListApplicationIds(ULONG64 after, std::size_t max_count, std::vector<ULONG64>* ids);

  // Every folder and application whose name breaks a naming rule: folders
  // first, then applications, each ascending id. A name that a sibling also
  // has is listed for each of them.
  VSTATUS ListNameProblems(std::vector<NameProblem>* problems);

  // The entry that the last wait on event queue `queue` delivered
  // (FarmObject::WaitForEvent, which hands out objects, not names), with the
  // name its object had as of the change, so that a watcher shows what
  // happened even when the object has since been renamed or deleted. Ask
  // right after a wait that delivered an event: a later wait that delivers
  // one replaces it, one that moves the queue past other entries clears it.
  // VORN_E_FAILURE when `queue` names no queue, when no wait has delivered
  // an entry, or when the entry is no longer kept (the log keeps at most
  // 10000 entries).
  VSTATUS GetDeliveredEvent(LONG queue, DeliveredEvent* event);

 private:
  struct Impl;
  explicit FarmAdmin(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

// The farm URL the services open now: FEROQ_FARM, or, when it is unset, the
// default farm file "sqlite:$XDG_DATA_HOME/feroq/farm.db" (XDG_DATA_HOME
// unset or not absolute: "$HOME/.local/share/feroq/farm.db"; "sqlite:" with
// an empty path when neither can be found).
FEROQ_SERVICES_API std::string CurrentFarmUrl();

// Copies the whole farm at `from_url` into the farm at `to_url`, any two
// backends (a farm file into a PostgreSQL database and back, say): farm
// name, folders, applications, servers and accounts with their identifiers,
// in one transaction of the target, read from one consistent view of the
// source. The target is created as `FarmAdmin::Create` does; it must be
// new (only its root folder, no application, server or account), else the
// copy is refused with VORN_E_REFUSED and nothing is written. Identifiers
// handed out later by the target never repeat a copied one. The event log
// and event queues are not copied (the target's log starts empty).
// `*copied` gets the counts copied. Codes as FarmAdmin::Open and Create
// give them, VORN_E_REFUSED also when both URLs name the same farm.
FEROQ_SERVICES_API VSTATUS CopyFarm(const std::string& from_url, const std::string& to_url, FarmCounts* copied);

// Creates the database roles of the PostgreSQL farm at `url`:
// `prefix`_admin may change the farm; `prefix`_reader may read it (list,
// show, export) and watch it (keep its own event queues), and every change
// it tries is refused by the database (kFarmReadOnly). Both are made
// without login: grant them to login roles (GRANT feroq_reader TO alice).
// Roles that exist are granted again. The farm must exist; the caller's
// role must be allowed to create roles. kFarmBackendUnavailable for a farm
// that is not on PostgreSQL; VORN_E_INVALIDVALUE for a prefix that is not
// letters, digits and _.
FEROQ_SERVICES_API VSTATUS CreateFarmRoles(const std::string& url, const std::string& prefix);

// `url` as it may be shown: a password in it (the user:password@ part of a
// postgresql:// URI, a password=... parameter) replaced by "***". Every
// message, log line and listing of feroq shows farm URLs this way; a
// password belongs in ~/.pgpass, PGPASSFILE or PGPASSWORD anyway.
FEROQ_SERVICES_API std::string FarmUrlWithoutPassword(const std::string& url);

// Empties the memory farm `name` ("" for the farm of "memory:") back to a new
// farm: name "feroq", only the root folder "Applications", no servers,
// accounts, applications or events; identifier serials start again. Creates
// the farm when it does not exist yet. Objects and services already connected
// to it see the new farm.
FEROQ_SERVICES_API VSTATUS ResetMemoryFarm(const std::string& name);

}  // namespace feroq::admin

#endif  // FEROQ_FARM_ADMIN_H_
