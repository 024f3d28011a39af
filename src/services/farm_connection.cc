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

#if defined(FEROQ_HAVE_SQLITE) || defined(FEROQ_HAVE_POSTGRES)
// The farm stores open in this process (farm files by path, server farms by
// URL), so that every user of one farm shares one store, its connections and
// its wake-ups; a store is closed when its last user lets it go.
struct OpenStores {
  std::mutex mutex;
  std::map<std::string, std::weak_ptr<store::FarmStore>> stores;
};

OpenStores& TheOpenStores() {
  static auto* stores = new OpenStores;
  return *stores;
}

// Finishes opening `farm`: a store without a farm becomes a new farm when
// `may_initialize` (in one transaction, so that of two processes or hosts
// making it at once only the first does), else answers kFarmFileMissing.
// Opening an initialised farm writes nothing, except to remove abandoned
// event queues (event_service.h) when it finds any: queues of watchers
// that were killed would hold the log back for good. Registers the store
// under `key`; the caller holds the registry's mutex.
VSTATUS FinishOpeningLocked(OpenStores& registry, const std::string& key, std::shared_ptr<store::FarmStore> farm,
                            bool may_initialize, std::shared_ptr<store::FarmStore>* opened) {
  bool initialized = false;
  VSTATUS status = farm->Read([&](const store::FarmView& view) -> VSTATUS {
    initialized = store::IsInitializedFarm(view);
    return VORN_OK;
  });
  if (status != VORN_OK) return status;
  if (!initialized) {
    if (!may_initialize) return admin::kFarmFileMissing;
    status = farm->Write([](store::FarmTxn& txn) -> VSTATUS {
      if (!store::IsInitializedFarm(txn)) store::InitializeNewFarm(txn);
      return VORN_OK;
    });
    if (status != VORN_OK) return status;
  }
  ReclaimAbandonedEventQueues(*farm);
  registry.stores[key] = farm;
  *opened = std::move(farm);
  return VORN_OK;
}
#endif

#if defined(FEROQ_HAVE_SQLITE)
// Opens the farm file at `path` and makes it a new farm when it has none
// yet. A missing file is created only for `FarmOpening::kCreate` and for the
// default farm file, whose directories are created (0700) on first use.
VSTATUS OpenFarmFile(const std::string& path, FarmOpening opening, std::shared_ptr<store::FarmStore>* opened) {
  if (path.empty()) return admin::kFarmFileUnavailable;
  OpenStores& registry = TheOpenStores();
  std::lock_guard lock(registry.mutex);
  if (std::shared_ptr<store::FarmStore> open = registry.stores[path].lock()) {
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
  return FinishOpeningLocked(registry, path, std::move(farm), true, opened);
}

#endif  // FEROQ_HAVE_SQLITE

bool IsPostgresUrl(const std::string& url) {
  return StartsWith(url, "postgresql://") || StartsWith(url, "postgres://");
}

#if defined(FEROQ_HAVE_POSTGRES)
// Opens the farm in the database at `url`. With kCreate an empty database
// gets the schema and becomes a new farm; otherwise a database without a
// farm answers kFarmFileMissing.
VSTATUS OpenServerFarm(const std::string& url, FarmOpening opening, std::shared_ptr<store::FarmStore>* opened) {
  OpenStores& registry = TheOpenStores();
  std::lock_guard lock(registry.mutex);
  if (std::shared_ptr<store::FarmStore> open = registry.stores[url].lock()) {
    *opened = std::move(open);
    return VORN_OK;
  }
  const bool create = opening == FarmOpening::kCreate;
  std::shared_ptr<store::FarmStore> farm;
  if (VSTATUS status = store::OpenPostgresFarmStore(url, create, &farm)) return status;
  return FinishOpeningLocked(registry, url, std::move(farm), create, opened);
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
