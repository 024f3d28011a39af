#include "support/farm_fixture.h"

#include <cstdlib>
#include <cstring>

#include "feroq/services/directory_services.h"
#include "platform/platform.h"
#include "services/event_service.h"
#include "services/service_faults.h"
#include "support/handles.h"

namespace feroq::testing {
namespace {

using feroq::services::ScopedServiceCallSuppression;

bool IsSeparator(char16_t c) { return c == u'/' || c == u'\\'; }

std::vector<std::u16string> SplitPath(const std::u16string& path) {
  std::vector<std::u16string> parts;
  std::u16string current;
  for (char16_t c : path) {
    if (IsSeparator(c)) {
      if (!current.empty()) parts.push_back(current);
      current.clear();
    } else {
      current += c;
    }
  }
  if (!current.empty()) parts.push_back(current);
  return parts;
}

// The child folder of `parent` named `name` (exact comparison), or 0.
ULONG64 FindChildFolder(VORNCommonApplicationSAL& folders, ULONG64 parent,
                        const std::u16string& name) {
  ULONG64* children = nullptr;
  ULONG count = 0;
  if (folders.EnumerateFolder(parent, &children, count) != 0) return 0;
  ULONG64 found = 0;
  for (ULONG i = 0; i < count && found == 0; ++i) {
    if (ObjectKindOf(children[i]) != kObjectKindFolder) continue;
    char16_t* child_name = nullptr;
    if (folders.GetFolderName(children[i], &child_name) != 0) continue;
    if (name == child_name) found = children[i];
    folders.FreeMemory(reinterpret_cast<unsigned char*>(child_name));
  }
  folders.FreeMemory(reinterpret_cast<unsigned char*>(children));
  return found;
}

}  // namespace

AppSeed SeedWithUsers(const std::u16string& browser_name, std::vector<std::u16string> users) {
  AppSeed seed;
  seed.browser_name = browser_name;
  seed.users = std::move(users);
  return seed;
}

AppSeed SeedWithServers(const std::u16string& browser_name, std::vector<ULONG64> servers) {
  AppSeed seed;
  seed.browser_name = browser_name;
  seed.servers = std::move(servers);
  return seed;
}

void FarmTest::SetUp() {
  SetEnvironment("FEROQ_FARM", "memory:");
  feroq::services::ClearServiceFaults();
  feroq::services::StopServiceCallLog();
  feroq::platform::ClearAllocationFailure();
  ASSERT_EQ(feroq::admin::ResetMemoryFarm(""), 0u);
  ASSERT_EQ(feroq::admin::FarmAdmin::Open("memory:", &admin_), 0u);
  ASSERT_EQ(InitiateRemoteAccess(nullptr), 0u);
  remote_access_held_ = true;
  subsystem_ = VornRemoteAccess;
  ASSERT_NE(subsystem_, nullptr);
}

void FarmTest::TearDown() {
  farm_.reset();
  feroq::services::ClearServiceFaults();
  feroq::services::StopServiceCallLog();
  feroq::platform::ClearAllocationFailure();
  if (remote_access_held_) UninitiateRemoteAccess();
  remote_access_held_ = false;
}

void FarmTest::SeedFarmName(const std::u16string& name) {
  EXPECT_EQ(admin().SetFarmName(name), 0u);
}

ULONG64 FarmTest::AddServer(const std::u16string& name) {
  ULONG64 id = 0;
  EXPECT_EQ(admin().AddServer(name, &id), 0u);
  return id;
}

void FarmTest::AddAccount(const std::u16string& domain, const std::u16string& account, ULONG kind,
                          const std::u16string& dn, const std::u16string& authority_type) {
  EXPECT_EQ(admin().AddAccount({authority_type, domain, account, kind, dn}), 0u);
}

ULONG64 FarmTest::RootFolder() {
  ScopedServiceCallSuppression quiet;
  VORNCommonApplicationSAL folders(subsystem_);
  ULONG64 root = 0;
  EXPECT_EQ(folders.GetRootFolderID(root), 0u);
  return root;
}

ULONG64 FarmTest::AddFolder(const std::u16string& path) {
  ScopedServiceCallSuppression quiet;
  VORNCommonApplicationSAL folders(subsystem_);
  ULONG64 current = RootFolder();
  for (std::u16string& part : SplitPath(path)) {
    ULONG64 child = FindChildFolder(folders, current, part);
    if (child == 0) {
      VSTATUS status = folders.CreateFolder(current, part.data(), child);
      EXPECT_EQ(status, 0u) << "creating folder component of " << path.size() << "-unit path";
      if (status != 0) return 0;
    }
    current = child;
  }
  return current;
}

ULONG64 StoreApplication(ZQAppSAL& store, const AppSeed& seed) {
  ZQApp record;
  EXPECT_EQ(record.Initialize(kZQAppCurrentVersion), 0u);
  VORNString browser(seed.browser_name.c_str());
  const std::u16string friendly_text = seed.friendly_name.empty() ? seed.browser_name : seed.friendly_name;
  const std::u16string program_text =
      seed.initial_program.empty() ? u"C:\\Programs\\" + seed.browser_name + u".exe" : seed.initial_program;
  VORNString friendly(friendly_text.c_str());
  VORNString program(program_text.c_str());
  VORNString directory(seed.work_directory.c_str());
  VORNString description(seed.description.c_str());
  EXPECT_EQ(record.SetBrowserName(browser), 0u);
  EXPECT_EQ(record.SetFriendlyName(friendly), 0u);
  EXPECT_EQ(record.SetDefaultInitialProgram(program), 0u);
  EXPECT_EQ(record.SetDefaultWorkDirectory(directory), 0u);
  EXPECT_EQ(record.SetDescription(description), 0u);
  EXPECT_EQ(record.SetDefaultWindowWidth(seed.window_width), 0u);
  EXPECT_EQ(record.SetDefaultWindowHeight(seed.window_height), 0u);
  EXPECT_EQ(record.SetDefaultWindowType(seed.window_type), 0u);
  EXPECT_EQ(record.SetZQAttributes(seed.zq_attributes), 0u);
  EXPECT_EQ(record.SetCommonAppFolder(seed.folder), 0u);
  for (ULONG64 server : seed.servers) {
    _ZQAPP_SERVER_CONFIG config;
    config.flags = 0;
    EXPECT_EQ(record.AddServer(server, config), 0u);
  }
  for (const std::u16string& dn : seed.users) {
    VORNString name(dn.c_str());
    EXPECT_EQ(record.AddUser(name), 0u);
  }
  ULONG64 id = 0;
  EXPECT_EQ(store.Write(id, record, nullptr), 0u) << "publishing";
  return id;
}

std::unique_ptr<_ZQWinAppData> AppData(TextPool& texts, std::u16string_view name, std::u16string_view browser_name,
                                       std::u16string_view parent_dn) {
  auto data = std::make_unique<_ZQWinAppData>();
  std::memset(data.get(), 0, sizeof(*data));
  data->version = kZQAppCurrentVersion;
  data->objectName = texts(name);
  data->browserName = texts(browser_name);
  data->defaultInitialProgram = texts(u"C:\\Apps\\app.exe");
  data->defaultWindowColor = ZQWindowColor256;
  data->defaultWindowType = ZQWindow800x600;
  if (!parent_dn.empty()) data->parentFolder = texts(parent_dn);
  return data;
}

ULONG64 FarmTest::AddApplication(const AppSeed& seed) {
  ScopedServiceCallSuppression quiet;
  ZQAppSAL store(subsystem_);
  return StoreApplication(store, seed);
}

ULONG64 FarmTest::AddApplication(const std::u16string& browser_name, ULONG64 folder) {
  AppSeed seed;
  seed.browser_name = browser_name;
  seed.friendly_name = browser_name;
  seed.folder = folder;
  return AddApplication(seed);
}

void FarmTest::RewriteStoredApplication(ULONG64 id,
                                        const std::function<void(feroq::store::AppRecordData&)>& change) {
  RewriteStored(id, nullptr, change);
}

void RewriteStored(ULONG64 id, const std::function<void(store::FolderRecord&)>& folder_change,
                   const std::function<void(store::AppRecordData&)>& app_change) {
  VSTATUS opened = 0;
  std::shared_ptr<store::FarmStore> store = services::EventStore(&opened);
  ASSERT_NE(store, nullptr) << opened;
  ASSERT_EQ(store->Write([&](store::FarmTxn& txn) -> VSTATUS {
    if (std::optional<store::FolderRecord> folder = txn.GetFolder(id); folder && folder_change) {
      folder_change(*folder);
      txn.PutFolder(*folder);
      return VORN_OK;
    }
    std::optional<store::ApplicationRecord> app = txn.GetApplication(id);
    if (!app || !app_change) return VORN_E_FAILURE;
    app_change(app->data);
    txn.PutApplication(*app);
    return VORN_OK;
  }), 0u);
}

void ForceName(ULONG64 id, const std::u16string& name) {
  RewriteStored(
      id, [&](store::FolderRecord& folder) { folder.name = name; },
      [&](store::AppRecordData& app) { app.friendly_name = name; });
}

}  // namespace feroq::testing
