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

// Everything of a farm that a copy carries.
struct FarmContents {
  std::u16string name;
  std::vector<store::FolderRecord> folders;
  std::vector<store::ApplicationRecord> applications;
  std::vector<store::ServerRecord> servers;
  std::vector<store::AccountRecord> accounts;
};

// The highest serial of each kind among the identifiers of `contents`.
std::map<ULONG, ULONG> HighestSerials(const FarmContents& contents) {
  std::map<ULONG, ULONG> highest;
  auto note = [&](ULONG64 id) {
    ULONG& serial = highest[ObjectKindOf(id)];
    serial = std::max(serial, static_cast<ULONG>(services::CreationSerialOf(id)));
  };
  for (const auto& f : contents.folders) note(f.id);
  for (const auto& a : contents.applications) note(a.id);
  for (const auto& s : contents.servers) note(s.id);
  return highest;
}

}  // namespace

VSTATUS CopyFarm(const std::string& from_url, const std::string& to_url, FarmCounts* copied) {
  services::NoteServiceOperation("CopyFarm");
  return services::RecordedStoreCall([&]() -> VSTATUS {
    std::shared_ptr<store::FarmStore> source, target;
    if (VSTATUS status = services::OpenFarmStore(from_url, &source)) return status;
    if (VSTATUS status = services::OpenFarmStore(to_url, &target, services::FarmOpening::kCreate)) return status;
    if (source == target) return VORN_E_REFUSED;
    FarmContents contents;
    VSTATUS status = source->Read([&](const store::FarmView& view) -> VSTATUS {
      contents.name = view.FarmName();
      contents.folders = view.ListFolders();
      contents.servers = view.ListServers();
      contents.accounts = view.ListAccounts();
      contents.applications.clear();
      for (ULONG64 id : view.ApplicationIds(0)) {
        if (std::optional<store::ApplicationRecord> app = view.GetApplication(id)) {
          contents.applications.push_back(std::move(*app));
        }
      }
      return VORN_OK;
    });
    if (status != VORN_OK) return status;
    const std::map<ULONG, ULONG> serials = HighestSerials(contents);
    status = target->Write([&](store::FarmTxn& txn) -> VSTATUS {
      if (txn.ApplicationCount() != 0 || txn.ServerCount() != 0 || txn.AccountCount() != 0 ||
          txn.FolderCount() > 1) {
        return VORN_E_REFUSED;
      }
      txn.Clear();
      txn.SetFarmName(contents.name);
      for (const auto& folder : contents.folders) txn.PutFolder(folder);
      for (const auto& app : contents.applications) txn.PutApplication(app);
      for (const auto& server : contents.servers) txn.PutServer(server);
      for (const auto& account : contents.accounts) txn.PutAccount(account);
      for (const auto& [kind, serial] : serials) txn.AdvanceSerial(kind, serial);
      return VORN_OK;
    });
    if (status != VORN_OK) return status;
    if (copied != nullptr) {
      *copied = FarmCounts{contents.applications.size(), contents.folders.size(), contents.servers.size(),
                           contents.accounts.size()};
    }
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
