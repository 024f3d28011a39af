// Opening farms: farm URLs, the process-wide memory farms, and the remote
// access subsystem that hands the services their farm store.
//
// Farm URLs:
//   "memory:NAME"  a farm held in this process under NAME ("memory:" names
//                  the farm ""); created, as a new farm, on first open and
//                  kept for the life of the process.
//   "sqlite:PATH"  the farm file at PATH (sqlite_farm_store.h), which must
//                  exist unless it is the default farm file or is opened to
//                  be created (FarmOpening::kCreate, FarmAdmin::Create); one
//                  store per file in the process.
// FEROQ_FARM selects the farm that InitiateRemoteAccess opens; unset, it is
// the default farm file (feroq::admin::CurrentFarmUrl), whose directories
// are created with mode 0700 on first use.
#ifndef FEROQ_SERVICES_FARM_CONNECTION_H_
#define FEROQ_SERVICES_FARM_CONNECTION_H_

#include <memory>
#include <mutex>
#include <string>

#include "feroq/services/service_base.h"
#include "services/store/farm_store.h"

namespace feroq::services {

enum class FarmOpening {
  kExisting,  // a farm file must exist (the default farm file is made on first use)
  kCreate,    // a missing farm file is made as a new farm
};

// Opens the farm at `url` (a memory farm is created on first use, a farm
// file as `opening` says). Returns 0 and the store, the farm file codes of
// feroq/services/farm_admin.h for "sqlite:PATH" (kFarmFileMissing for a
// missing file with kExisting), VORN_E_INVALIDVALUE for a URL of no known
// form, VORN_E_OUTOFMEMORY. The URL the services open now is
// feroq::admin::CurrentFarmUrl().
VSTATUS OpenFarmStore(const std::string& url, std::shared_ptr<store::FarmStore>* opened,
                      FarmOpening opening = FarmOpening::kExisting);

// The process-wide memory farm `name`, created as a new farm on first use.
std::shared_ptr<store::FarmStore> MemoryFarm(const std::string& name);

// The remote-access subsystem: a connection to one farm. The services reach
// the store only through Store(), which is null once the connection closed.
class FarmSubsystem final : public VORN_PIF_ISubSystem {
 public:
  FarmSubsystem() = default;

  std::shared_ptr<store::FarmStore> Store() const {
    std::lock_guard lock(mutex_);
    return store_;
  }
  void Attach(std::shared_ptr<store::FarmStore> store) {
    std::lock_guard lock(mutex_);
    store_ = std::move(store);
  }
  void Close() {
    std::lock_guard lock(mutex_);
    store_.reset();
  }

 private:
  mutable std::mutex mutex_;
  std::shared_ptr<store::FarmStore> store_;
};

// The store behind `subsystem`, or null (no subsystem, not a farm
// subsystem, or a closed connection). On a thread inside RunInOneTransaction
// on that store, the store that joins its transaction
// (services/farm_transaction.h); CurrentStore does the same.
std::shared_ptr<store::FarmStore> StoreOf(VORN_PIF_ISubSystem* subsystem);

// The store of the open remote access, or else the store of the farm the
// services would open now (for calls made before InitiateRemoteAccess, such
// as VORN_FarmName). Null with a code in `*status` when it cannot be opened.
std::shared_ptr<store::FarmStore> CurrentStore(VSTATUS* status);

}  // namespace feroq::services

#endif  // FEROQ_SERVICES_FARM_CONNECTION_H_
