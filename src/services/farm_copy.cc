// Copying a whole farm between backends, and the roles of a farm on a
// database server (see feroq/services/farm_admin.h).
#include <algorithm>
#include <map>
#include <new>

#include "feroq/services/farm_admin.h"
#include "services/farm_connection.h"
#include "services/service_support.h"
#if defined(FEROQ_HAVE_POSTGRES)
#include "services/store/postgres_farm_store.h"
#endif

namespace feroq::admin {
namespace {

// Raises `highest[kind of id]` to the creation serial of `id`.
void NoteSerial(std::map<ULONG, ULONG>& highest, ULONG64 id) {
  ULONG& serial = highest[ObjectKindOf(id)];
  serial = std::max(serial, static_cast<ULONG>(services::CreationSerialOf(id)));
}

}  // namespace

VSTATUS CopyFarm(const std::string& from_url, const std::string& to_url, FarmCounts* copied) {
  services::NoteServiceOperation("CopyFarm");
  return services::RecordedStoreCall([&]() -> VSTATUS {
    std::shared_ptr<store::FarmStore> source, target;
    if (VSTATUS status = services::OpenFarmStore(from_url, &source)) return status;
    if (VSTATUS status = services::OpenFarmStore(to_url, &target, services::FarmOpening::kCreate)) return status;
    if (source == target) return VORN_E_REFUSED;
    // The applications go across one at a time, read from the source's
    // snapshot while the target's one transaction writes them, so a copy
    // holds one application record however big the farm is.
    FarmCounts counts;
    VSTATUS status = source->Read([&](const store::FarmView& view) -> VSTATUS {
      return target->Write([&](store::FarmTxn& txn) -> VSTATUS {
        if (txn.ApplicationCount() != 0 || txn.ServerCount() != 0 || txn.AccountCount() != 0 ||
            txn.FolderCount() > 1) {
          return VORN_E_REFUSED;
        }
        txn.Clear();
        txn.SetFarmName(view.FarmName());
        counts = FarmCounts{};
        std::map<ULONG, ULONG> serials;
        for (const auto& folder : view.ListFolders()) {
          NoteSerial(serials, folder.id);
          txn.PutFolder(folder);
          ++counts.folders;
        }
        for (ULONG64 id : view.ApplicationIds(0)) {
          if (std::optional<store::ApplicationRecord> app = view.GetApplication(id)) {
            NoteSerial(serials, id);
            txn.PutApplication(*app);
            ++counts.applications;
          }
        }
        for (const auto& server : view.ListServers()) {
          NoteSerial(serials, server.id);
          txn.PutServer(server);
          ++counts.servers;
        }
        for (const auto& account : view.ListAccounts()) {
          txn.PutAccount(account);
          ++counts.accounts;
        }
        for (const auto& [kind, serial] : serials) txn.AdvanceSerial(kind, serial);
        return VORN_OK;
      });
    });
    if (status != VORN_OK) return status;
    if (copied != nullptr) *copied = counts;
    return VORN_OK;
  });
}
VSTATUS CreateFarmRoles(const std::string& url, const std::string& prefix) {
  services::NoteServiceOperation("CreateFarmRoles");
  return services::RecordedStoreCall([&]() -> VSTATUS {
#if defined(FEROQ_HAVE_POSTGRES)
    if (url.rfind("postgresql://", 0) != 0 && url.rfind("postgres://", 0) != 0) return kFarmBackendUnavailable;
    // The farm must be there: the roles are granted its tables.
    std::shared_ptr<store::FarmStore> farm;
    if (VSTATUS status = services::OpenFarmStore(url, &farm)) return status;
    return store::CreatePostgresFarmRoles(url, prefix);
#else
    static_cast<void>(url);
    static_cast<void>(prefix);
    return kFarmBackendUnavailable;
#endif
  });
}

}  // namespace feroq::admin
