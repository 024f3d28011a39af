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

// Runs the admin call `operation`, turning running out of memory into its
// code and recording a failure as the thread's last service failure.
template <class Fn>
VSTATUS Guarded(const char* operation, Fn&& fn) {
  services::NoteServiceOperation(operation);
  return services::RecordedStoreCall(fn);
}

}  // namespace

struct FarmAdmin::Impl {
  std::shared_ptr<store::FarmStore> store;
};

FarmAdmin::FarmAdmin(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

FarmAdmin::~FarmAdmin() = default;

VSTATUS FarmAdmin::Open(const std::string& url, std::unique_ptr<FarmAdmin>* admin) {
  return Guarded("FarmAdmin::Open", [&]() -> VSTATUS {
    auto impl = std::make_unique<Impl>();
    if (VSTATUS status = services::OpenFarmStore(url, &impl->store)) return status;
    admin->reset(new FarmAdmin(std::move(impl)));
    return VORN_OK;
  });
}

VSTATUS FarmAdmin::Create(const std::string& url, std::unique_ptr<FarmAdmin>* admin) {
  return Guarded("FarmAdmin::Create", [&]() -> VSTATUS {
    auto impl = std::make_unique<Impl>();
    if (VSTATUS status = services::OpenFarmStore(url, &impl->store, services::FarmOpening::kCreate)) return status;
    admin->reset(new FarmAdmin(std::move(impl)));
    return VORN_OK;
  });
}

VSTATUS FarmAdmin::OpenCurrent(std::unique_ptr<FarmAdmin>* admin) {
  return Guarded("FarmAdmin::OpenCurrent", [&]() -> VSTATUS { return Open(CurrentFarmUrl(), admin); });
}

VSTATUS FarmAdmin::GetFarmName(std::u16string* name) {
  return Guarded("FarmAdmin::GetFarmName", [&]() -> VSTATUS {
    return impl_->store->Read([&](const FarmView& farm) -> VSTATUS {
      *name = farm.FarmName();
      return VORN_OK;
    });
  });
}

VSTATUS FarmAdmin::SetFarmName(const std::u16string& name) {
  return Guarded("FarmAdmin::SetFarmName", [&]() -> VSTATUS {
    if (name.empty()) return services::Refuse(VORN_E_INVALIDVALUE, FARM_E_NAME_EMPTY, "name");
    return impl_->store->Write([&](FarmTxn& farm) -> VSTATUS {
      farm.SetFarmName(name);
      return VORN_OK;
    });
  });
}

VSTATUS FarmAdmin::AddServer(const std::u16string& name, ULONG64* id) {
  return Guarded("FarmAdmin::AddServer", [&]() -> VSTATUS {
    if (name.empty()) return services::Refuse(VORN_E_INVALIDVALUE, FARM_E_NAME_EMPTY, "name");
    if (services::HasLineBreak(name)) return services::Refuse(VORN_E_INVALIDVALUE, FARM_E_TEXT_LINE_BREAK, "name");
    ULONG64 added = 0;
    VSTATUS status = impl_->store->Write([&](FarmTxn& farm) -> VSTATUS {
      if (farm.FindServerByName(name)) return services::Refuse(VORN_E_INVALIDVALUE, FARM_E_SERVER_NAME_TAKEN, "name");
      added = farm.AllocateId(kObjectKindServer);
      farm.PutServer(ServerRecord{added, name});
      return VORN_OK;
    });
    if (status == VORN_OK && id != nullptr) *id = added;
    return status;
  });
}

VSTATUS FarmAdmin::RemoveServer(ULONG64 id) {
  return Guarded("FarmAdmin::RemoveServer", [&]() -> VSTATUS {
    return impl_->store->Write([&](FarmTxn& farm) -> VSTATUS {
      if (!farm.GetServer(id)) return VORN_E_FAILURE;
      for (ULONG64 app : farm.ApplicationIds(0)) {
        std::optional<store::ApplicationRecord> record = farm.GetApplication(app);
        for (const store::AppServerData& entry : record->data.servers) {
          if (entry.server_id == id) return services::Refuse(VORN_E_REFUSED, FARM_E_SERVER_IN_USE);
        }
      }
      farm.DeleteServer(id);
      return VORN_OK;
    });
  });
}

VSTATUS FarmAdmin::ListServers(std::vector<ServerInfo>* servers) {
  return Guarded("FarmAdmin::ListServers", [&]() -> VSTATUS {
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
  return Guarded("FarmAdmin::AddAccount", [&]() -> VSTATUS {
    if (account.authority_type.empty() || account.account.empty() || account.dn.empty() ||
        account.kind > 2) {
      return VORN_E_INVALIDVALUE;
    }
    if (services::HasLineBreak(account.authority_type) || services::HasLineBreak(account.domain) ||
        services::HasLineBreak(account.account) || services::HasLineBreak(account.dn)) {
      return services::Refuse(VORN_E_INVALIDVALUE, FARM_E_TEXT_LINE_BREAK);
    }
    return impl_->store->Write([&](FarmTxn& farm) -> VSTATUS {
      if (farm.FindAccountByDn(account.dn) ||
          farm.FindAccount(account.authority_type, account.domain, account.account)) {
        return services::Refuse(VORN_E_REFUSED, FARM_E_ACCOUNT_TAKEN);
      }
      farm.PutAccount(AccountRecord{account.authority_type, account.domain, account.account,
                                    account.kind, account.dn});
      return VORN_OK;
    });
  });
}

VSTATUS FarmAdmin::ListAccounts(std::vector<AccountInfo>* accounts) {
  return Guarded("FarmAdmin::ListAccounts", [&]() -> VSTATUS {
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
  return Guarded("FarmAdmin::ListFolders", [&]() -> VSTATUS {
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

VSTATUS FarmAdmin::GetCounts(FarmCounts* counts) {
  return Guarded("FarmAdmin::GetCounts", [&]() -> VSTATUS {
    FarmCounts out;
    VSTATUS status = impl_->store->Read([&](const FarmView& farm) -> VSTATUS {
      out.applications = farm.ApplicationCount();
      out.folders = farm.FolderCount();
      out.servers = farm.ServerCount();
      out.accounts = farm.AccountCount();
      return VORN_OK;
    });
    if (status == VORN_OK) *counts = out;
    return status;
  });
}

VSTATUS FarmAdmin::ListApplicationIds(ULONG64 after, std::size_t max_count, std::vector<ULONG64>* ids) {
  return Guarded("FarmAdmin::ListApplicationIds", [&]() -> VSTATUS {
    std::vector<ULONG64> out;
    VSTATUS status = impl_->store->Read([&](const FarmView& farm) -> VSTATUS {
      out = farm.ApplicationIdsAfter(after, max_count);
      return VORN_OK;
    });
    if (status == VORN_OK) *ids = std::move(out);
    return status;
  });
}

VSTATUS FarmAdmin::ListNameProblems(std::vector<NameProblem>* problems) {
  return Guarded("FarmAdmin::ListNameProblems", [&]() -> VSTATUS {
    std::vector<NameProblem> out;
    VSTATUS status = impl_->store->Read([&](const FarmView& farm) -> VSTATUS {
      auto check = [&](ULONG64 id, ULONG64 parent, const std::u16string& name) {
        VSTATUS cause = services::NameRuleBroken(name);
        if (cause == VORN_OK && farm.FindChildByName(parent, name, id)) cause = FARM_E_NAME_TAKEN;
        if (cause != VORN_OK) out.push_back(NameProblem{id, parent, name, cause});
      };
      for (const FolderRecord& f : farm.ListFolders()) {
        if (f.parent_id != 0) check(f.id, f.parent_id, f.name);
      }
      for (const store::ApplicationName& a : farm.ApplicationNames(0)) check(a.id, a.folder_id, a.name);
      return VORN_OK;
    });
    if (status == VORN_OK) *problems = std::move(out);
    return status;
  });
}

VSTATUS FarmAdmin::GetDeliveredEvent(LONG queue, DeliveredEvent* event) {
  return Guarded("FarmAdmin::GetDeliveredEvent", [&]() -> VSTATUS {
    DeliveredEvent out;
    VSTATUS status = impl_->store->Read([&](const FarmView& farm) -> VSTATUS {
      std::optional<store::EventQueueRecord> record = farm.GetEventQueue(queue);
      if (!record || record->delivered == 0) return VORN_E_FAILURE;
      std::vector<store::EventRecord> entries = farm.EventsAfter(record->delivered - 1, 1);
      if (entries.empty() || entries.front().sequence != record->delivered) return VORN_E_FAILURE;
      store::EventRecord& entry = entries.front();
      out.sequence = entry.sequence;
      out.event_id = entry.event_id;
      for (std::size_t i = 0; i < 8 && 2 + i < entry.record.size(); ++i) {
        out.object_id |= ULONG64{entry.record[2 + i]} << (8 * i);
      }
      out.name_known = entry.object_dn.has_value();
      if (entry.object_dn) out.dn = std::move(*entry.object_dn);
      return VORN_OK;
    });
    if (status == VORN_OK) *event = std::move(out);
    return status;
  });
}

VSTATUS ResetMemoryFarm(const std::string& name) {
  return Guarded("ResetMemoryFarm", [&]() -> VSTATUS {
    return services::MemoryFarm(name)->Write([](FarmTxn& farm) -> VSTATUS {
      store::InitializeNewFarm(farm);
      return VORN_OK;
    });
  });
}

}  // namespace feroq::admin
