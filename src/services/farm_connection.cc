// Opening farms and the remote-access functions (InitiateRemoteAccess,
// UninitiateRemoteAccess, VornRemoteAccess).
//
// Remote access is counted: the first InitiateRemoteAccess opens the farm
// named by FEROQ_FARM and points VornRemoteAccess at its subsystem; further
// calls only count; the last UninitiateRemoteAccess closes the connection
// (the subsystem's store is dropped; a memory farm itself lives on) and sets
// VornRemoteAccess to null. Subsystem objects are never destroyed, so a
// service that outlives the connection fails cleanly (VORN_E_FAILURE) rather
// than touching freed memory.
#include "services/farm_connection.h"

#include <algorithm>
#include <map>
#include <new>

#include "feroq/services/farm_admin.h"
#include "platform/platform.h"
#include "services/event_service.h"
#include "services/farm_transaction.h"
#if defined(FEROQ_HAVE_SQLITE)
#include "services/store/sqlite_farm_store.h"
#endif
#if defined(FEROQ_HAVE_POSTGRES)
#include "services/store/postgres_farm_store.h"
#endif

VORN_PIF_ISubSystem* VornRemoteAccess = nullptr;

namespace feroq::services {
namespace {

constexpr char kMemoryScheme[] = "memory:";
constexpr char kSqliteScheme[] = "sqlite:";

bool StartsWith(const std::string& text, const char* prefix) {
  return text.rfind(prefix, 0) == 0;
}

struct MemoryFarms {
  std::mutex mutex;
  std::map<std::string, std::shared_ptr<store::FarmStore>> farms;
};

// Lives for the whole process (never destroyed, so farms stay usable from
// other static destructors).
MemoryFarms& TheMemoryFarms() {
  static auto* farms = new MemoryFarms;
  return *farms;
}

struct RemoteAccessState {
  std::mutex mutex;
  unsigned long count = 0;
  // One subsystem per farm URL ever opened; never destroyed (see above).
  std::map<std::string, std::unique_ptr<FarmSubsystem>> subsystems;
};

RemoteAccessState& TheRemoteAccess() {
  static auto* state = new RemoteAccessState;
  return *state;
}

#if defined(FEROQ_HAVE_SQLITE)
// The farm files open in this process, by path, so that every user of one
// file shares one store (and its wake-ups); a file is closed when its last
// user lets it go.
struct FarmFiles {
  std::mutex mutex;
  std::map<std::string, std::weak_ptr<store::FarmStore>> files;
};

FarmFiles& TheFarmFiles() {
  static auto* files = new FarmFiles;
  return *files;
}

// Opens the farm file at `path` and makes it a new farm when it has none
// yet. A missing file is created only for `FarmOpening::kCreate` and for the
// default farm file, whose directories are created (0700) on first use.
// Opening an initialised farm writes nothing (so it never waits for a
// writer of another process), except to remove abandoned event queues
// (event_service.h) when it finds any.
VSTATUS OpenFarmFile(const std::string& path, FarmOpening opening, std::shared_ptr<store::FarmStore>* opened) {
  if (path.empty()) return admin::kFarmFileUnavailable;
  FarmFiles& registry = TheFarmFiles();
  std::lock_guard lock(registry.mutex);
  std::weak_ptr<store::FarmStore>& slot = registry.files[path];
  if (std::shared_ptr<store::FarmStore> open = slot.lock()) {
    *opened = std::move(open);
    return VORN_OK;
  }
  store::SqliteOpenOptions options;
  options.create_if_missing = opening == FarmOpening::kCreate;
  if (path == store::DefaultFarmFilePath()) {
    if (VSTATUS status = store::CreateFarmFileDirectories(path)) return status;
    options.create_if_missing = true;
  }
  std::shared_ptr<store::FarmStore> farm;
  if (VSTATUS status = store::OpenSqliteFarmStore(path, options, &farm)) return status;
  bool initialized = false;
  VSTATUS status = farm->Read([&](const store::FarmView& view) -> VSTATUS {
    initialized = store::IsInitializedFarm(view);
    return VORN_OK;
  });
  if (status != VORN_OK) return status;
  if (!initialized) {
    // One transaction, so that of two processes opening a new file at once
    // only the first makes the farm.
    status = farm->Write([](store::FarmTxn& txn) -> VSTATUS {
      if (!store::IsInitializedFarm(txn)) store::InitializeNewFarm(txn);
      return VORN_OK;
    });
    if (status != VORN_OK) return status;
  }
  // Queues of watchers that were killed would hold the log back for good.
  ReclaimAbandonedEventQueues(*farm);
  slot = farm;
  *opened = std::move(farm);
  return VORN_OK;
}

#endif  // FEROQ_HAVE_SQLITE

bool IsPostgresUrl(const std::string& url) {
  return StartsWith(url, "postgresql://") || StartsWith(url, "postgres://");
}

#if defined(FEROQ_HAVE_POSTGRES)
// The PostgreSQL farms open in this process, by URL, so that every user of
// one farm shares its connections; a farm is closed when its last user lets
// it go.
struct ServerFarms {
  std::mutex mutex;
  std::map<std::string, std::weak_ptr<store::FarmStore>> farms;
};

ServerFarms& TheServerFarms() {
  static auto* farms = new ServerFarms;
  return *farms;
}

// Opens the farm in the database at `url`. With kCreate an empty database
// gets the schema and becomes a new farm; otherwise a database without a
// farm answers kFarmFileMissing.
VSTATUS OpenServerFarm(const std::string& url, FarmOpening opening, std::shared_ptr<store::FarmStore>* opened) {
  ServerFarms& registry = TheServerFarms();
  std::lock_guard lock(registry.mutex);
  std::weak_ptr<store::FarmStore>& slot = registry.farms[url];
  if (std::shared_ptr<store::FarmStore> open = slot.lock()) {
    *opened = std::move(open);
    return VORN_OK;
  }
  std::shared_ptr<store::FarmStore> farm;
  const bool create = opening == FarmOpening::kCreate;
  if (VSTATUS status = store::OpenPostgresFarmStore(url, create, &farm)) return status;
  bool initialized = false;
  VSTATUS status = farm->Read([&](const store::FarmView& view) -> VSTATUS {
    initialized = store::IsInitializedFarm(view);
    return VORN_OK;
  });
  if (status != VORN_OK) return status;
  if (!initialized) {
    if (!create) return admin::kFarmFileMissing;
    // One transaction, so that of two hosts making the farm at once only
    // the first makes it.
    status = farm->Write([](store::FarmTxn& txn) -> VSTATUS {
      if (!store::IsInitializedFarm(txn)) store::InitializeNewFarm(txn);
      return VORN_OK;
    });
    if (status != VORN_OK) return status;
  }
  ReclaimAbandonedEventQueues(*farm);
  slot = farm;
  *opened = std::move(farm);
  return VORN_OK;
}
#endif  // FEROQ_HAVE_POSTGRES

}  // namespace

std::shared_ptr<store::FarmStore> MemoryFarm(const std::string& name) {
  MemoryFarms& registry = TheMemoryFarms();
  std::lock_guard lock(registry.mutex);
  auto it = registry.farms.find(name);
  if (it != registry.farms.end()) return it->second;
  std::shared_ptr<store::FarmStore> farm = store::CreateMemoryFarmStore();
  farm->Write([](store::FarmTxn& txn) -> VSTATUS {
    store::InitializeNewFarm(txn);
    return VORN_OK;
  });
  registry.farms.emplace(name, farm);
  return farm;
}

VSTATUS OpenFarmStore(const std::string& url, std::shared_ptr<store::FarmStore>* opened, FarmOpening opening) {
  try {
    if (StartsWith(url, kMemoryScheme)) {
      *opened = MemoryFarm(url.substr(sizeof(kMemoryScheme) - 1));
      ReclaimAbandonedEventQueues(**opened);
      return VORN_OK;
    }
    if (StartsWith(url, kSqliteScheme)) {
#if defined(FEROQ_HAVE_SQLITE)
      return OpenFarmFile(url.substr(sizeof(kSqliteScheme) - 1), opening, opened);
#else
      // A build without SQLite (possible on Windows only) has memory farms.
      static_cast<void>(opening);
      return admin::kFarmBackendUnavailable;
#endif
    }
    if (IsPostgresUrl(url)) {
#if defined(FEROQ_HAVE_POSTGRES)
      return OpenServerFarm(url, opening, opened);
#else
      return admin::kFarmBackendUnavailable;
#endif
    }
    return VORN_E_INVALIDVALUE;
  } catch (const std::bad_alloc&) {
    return VORN_E_OUTOFMEMORY;
  }
}

std::shared_ptr<store::FarmStore> StoreOf(VORN_PIF_ISubSystem* subsystem) {
  auto* farm = dynamic_cast<FarmSubsystem*>(subsystem);
  return farm == nullptr ? nullptr : JoinOpenTransaction(farm->Store());
}

std::shared_ptr<store::FarmStore> CurrentStore(VSTATUS* status) {
  *status = VORN_OK;
  {
    RemoteAccessState& state = TheRemoteAccess();
    std::lock_guard lock(state.mutex);
    if (std::shared_ptr<store::FarmStore> open = StoreOf(VornRemoteAccess)) return open;
  }
  std::shared_ptr<store::FarmStore> store;
  *status = OpenFarmStore(admin::CurrentFarmUrl(), &store);
  return JoinOpenTransaction(std::move(store));
}

}  // namespace feroq::services

namespace feroq::admin {

std::string CurrentFarmUrl() {
  std::string setting;
  if (!platform::GetEnvironmentValue("FEROQ_FARM", &setting)) {
#if defined(FEROQ_HAVE_SQLITE)
    return feroq::services::kSqliteScheme + store::DefaultFarmFilePath();
#else
    // No default farm file without SQLite: opening this answers
    // admin::kFarmBackendUnavailable.
    return feroq::services::kSqliteScheme;
#endif
  }
  return setting;
}

std::string FarmUrlWithoutPassword(const std::string& url) {
  std::string out = url;
  // user:password@host in the authority of a URI.
  const std::size_t scheme = out.find("://");
  if (scheme != std::string::npos) {
    const std::size_t start = scheme + 3;
    const std::size_t end = std::min(out.find_first_of("/?", start), out.size());
    const std::size_t at = out.rfind('@', end);
    const std::size_t colon = out.find(':', start);
    if (at != std::string::npos && at >= start && colon < at) out.replace(colon + 1, at - colon - 1, "***");
  }
  // password=... among the parameters (a URI's query, key=value words).
  for (std::size_t pos = out.find("password="); pos != std::string::npos; pos = out.find("password=", pos + 1)) {
    if (pos != 0 && out[pos - 1] != '?' && out[pos - 1] != '&' && out[pos - 1] != ' ') continue;
    const std::size_t value = pos + 9;
    const std::size_t end = std::min(out.find_first_of("& ", value), out.size());
    out.replace(value, end - value, "***");
  }
  return out;
}

}  // namespace feroq::admin

VSTATUS InitiateRemoteAccess(void* /*reserved*/) {
  using feroq::services::FarmSubsystem;
  feroq::services::RemoteAccessState& state = feroq::services::TheRemoteAccess();
  std::lock_guard lock(state.mutex);
  ++state.count;
  if (VornRemoteAccess != nullptr) return feroq::VORN_OK;
  try {
    const std::string url = feroq::admin::CurrentFarmUrl();
    std::shared_ptr<feroq::store::FarmStore> store;
    if (VSTATUS status = feroq::services::OpenFarmStore(url, &store)) return status;
    std::unique_ptr<FarmSubsystem>& subsystem = state.subsystems[url];
    if (!subsystem) subsystem = std::make_unique<FarmSubsystem>();
    subsystem->Attach(std::move(store));
    VornRemoteAccess = subsystem.get();
    return feroq::VORN_OK;
  } catch (const std::bad_alloc&) {
    return feroq::VORN_E_OUTOFMEMORY;
  }
}

VSTATUS UninitiateRemoteAccess() {
  feroq::services::RemoteAccessState& state = feroq::services::TheRemoteAccess();
  std::lock_guard lock(state.mutex);
  if (state.count == 0) return feroq::VORN_E_FAILURE;
  if (--state.count == 0 && VornRemoteAccess != nullptr) {
    static_cast<feroq::services::FarmSubsystem*>(VornRemoteAccess)->Close();
    VornRemoteAccess = nullptr;
  }
  return feroq::VORN_OK;
}
