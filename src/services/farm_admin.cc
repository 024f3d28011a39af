// Farm administration over the farm store (see feroq/services/farm_admin.h).
#include "feroq/services/farm_admin.h"

#include <new>

#include "services/farm_connection.h"
#include "services/service_support.h"

namespace feroq::admin {
namespace {

using store::AccountRecord;
using store::FarmTxn;
using store::FarmView;
using store::FolderRecord;
using store::ServerRecord;

// Runs a store call, turning running out of memory into its code.
template <class Fn>
VSTATUS Guarded(Fn&& fn) {
  try {
    return fn();
  } catch (const std::bad_alloc&) {
    return VORN_E_OUTOFMEMORY;
  }
}

}  // namespace

struct FarmAdmin::Impl {
  std::shared_ptr<store::FarmStore> store;
};

FarmAdmin::FarmAdmin(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

FarmAdmin::~FarmAdmin() = default;

VSTATUS FarmAdmin::Open(const std::string& url, std::unique_ptr<FarmAdmin>* admin) {
  return Guarded([&]() -> VSTATUS {
    auto impl = std::make_unique<Impl>();
    if (VSTATUS status = services::OpenFarmStore(url, &impl->store)) return status;
    admin->reset(new FarmAdmin(std::move(impl)));
    return VORN_OK;
  });
}

VSTATUS FarmAdmin::OpenCurrent(std::unique_ptr<FarmAdmin>* admin) {
  return Guarded([&]() -> VSTATUS { return Open(CurrentFarmUrl(), admin); });
}

VSTATUS FarmAdmin::GetFarmName(std::u16string* name) {
  return Guarded([&]() -> VSTATUS {
    return impl_->store->Read([&](const FarmView& farm) -> VSTATUS {
      *name = farm.FarmName();
      return VORN_OK;
    });
  });
}

VSTATUS FarmAdmin::SetFarmName(const std::u16string& name) {
  if (name.empty()) return VORN_E_INVALIDVALUE;
  return Guarded([&]() -> VSTATUS {
    return impl_->store->Write([&](FarmTxn& farm) -> VSTATUS {
      farm.SetFarmName(name);
      return VORN_OK;
    });
  });
}

VSTATUS FarmAdmin::AddServer(const std::u16string& name, ULONG64* id) {
  if (name.empty() || services::HasLineBreak(name)) return VORN_E_INVALIDVALUE;
  return Guarded([&]() -> VSTATUS {
    ULONG64 added = 0;
    VSTATUS status = impl_->store->Write([&](FarmTxn& farm) -> VSTATUS {
      if (farm.FindServerByName(name)) return VORN_E_INVALIDVALUE;
      added = farm.AllocateId(kObjectKindServer);
      farm.PutServer(ServerRecord{added, name});
      return VORN_OK;
    });
    if (status == VORN_OK && id != nullptr) *id = added;
    return status;
  });
}

VSTATUS FarmAdmin::RemoveServer(ULONG64 id) {
  return Guarded([&]() -> VSTATUS {
    return impl_->store->Write([&](FarmTxn& farm) -> VSTATUS {
      if (!farm.GetServer(id)) return VORN_E_FAILURE;
      for (ULONG64 app : farm.ApplicationIds(0)) {
        std::optional<store::ApplicationRecord> record = farm.GetApplication(app);
        for (const store::AppServerData& entry : record->data.servers) {
          if (entry.server_id == id) return VORN_E_REFUSED;
        }
      }
      farm.DeleteServer(id);
      return VORN_OK;
    });
  });
}

VSTATUS FarmAdmin::ListServers(std::vector<ServerInfo>* servers) {
  return Guarded([&]() -> VSTATUS {
    std::vector<ServerInfo> out;
    VSTATUS status = impl_->store->Read([&](const FarmView& farm) -> VSTATUS {
      for (ServerRecord& server : farm.ListServers()) {
        out.push_back(ServerInfo{server.id, std::move(server.name)});
      }
      return VORN_OK;
    });
    if (status == VORN_OK) *servers = std::move(out);
    return status;
  });
}

VSTATUS FarmAdmin::AddAccount(const AccountInfo& account) {
  if (account.authority_type.empty() || account.account.empty() || account.dn.empty() ||
      account.kind > 2) {
    return VORN_E_INVALIDVALUE;
  }
  if (services::HasLineBreak(account.authority_type) || services::HasLineBreak(account.domain) ||
      services::HasLineBreak(account.account) || services::HasLineBreak(account.dn)) {
    return VORN_E_INVALIDVALUE;
  }
  return Guarded([&]() -> VSTATUS {
    return impl_->store->Write([&](FarmTxn& farm) -> VSTATUS {
      if (farm.FindAccountByDn(account.dn) ||
          farm.FindAccount(account.authority_type, account.domain, account.account)) {
        return VORN_E_REFUSED;
      }
      farm.PutAccount(AccountRecord{account.authority_type, account.domain, account.account,
                                    account.kind, account.dn});
      return VORN_OK;
    });
  });
}

VSTATUS FarmAdmin::ListAccounts(std::vector<AccountInfo>* accounts) {
  return Guarded([&]() -> VSTATUS {
    std::vector<AccountInfo> out;
    VSTATUS status = impl_->store->Read([&](const FarmView& farm) -> VSTATUS {
      for (AccountRecord& a : farm.ListAccounts()) {
        out.push_back(AccountInfo{std::move(a.authority_type), std::move(a.instance),
                                  std::move(a.account_name), a.kind, std::move(a.dn)});
      }
      return VORN_OK;
    });
    if (status == VORN_OK) *accounts = std::move(out);
    return status;
  });
}

VSTATUS FarmAdmin::ListFolders(std::vector<FolderInfo>* folders) {
  return Guarded([&]() -> VSTATUS {
    std::vector<FolderInfo> out;
    VSTATUS status = impl_->store->Read([&](const FarmView& farm) -> VSTATUS {
      for (FolderRecord& f : farm.ListFolders()) {
        out.push_back(FolderInfo{f.id, f.parent_id, std::move(f.name)});
      }
      return VORN_OK;
    });
    if (status == VORN_OK) *folders = std::move(out);
    return status;
  });
}

VSTATUS ResetMemoryFarm(const std::string& name) {
  return Guarded([&]() -> VSTATUS {
    return services::MemoryFarm(name)->Write([](FarmTxn& farm) -> VSTATUS {
      store::InitializeNewFarm(farm);
      return VORN_OK;
    });
  });
}

}  // namespace feroq::admin
