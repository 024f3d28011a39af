// FarmTest: a gtest fixture that gives each test a new memory farm and
// helpers to seed it (farm name, servers, accounts, folders, applications).
//
// SetUp points FEROQ_FARM at "memory:", empties that farm back to a new farm
// (name "feroq", root folder "Applications"), clears service faults, the call
// log and heap failures, and holds one InitiateRemoteAccess until TearDown,
// so subsystem() is the connection a FarmObject made in the test also uses.
// Seeding goes through the services (folders, applications) or the farm
// admin (name, servers, accounts), is neither recorded in the call log nor
// faulted, and fails the test when the farm refuses.
#ifndef FEROQ_TESTS_SUPPORT_FARM_FIXTURE_H_
#define FEROQ_TESTS_SUPPORT_FARM_FIXTURE_H_

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "feroq/app_data.h"
#include "feroq/farm_object.h"
#include "feroq/services/farm_admin.h"
#include "feroq/services/service_base.h"
#include "feroq/services/zqapp.h"
#include "services/store/farm_store.h"
#include "support/handles.h"

namespace feroq::testing {

// What AddApplication publishes. Unset texts stay empty, scalars 0.
struct AppSeed {
  std::u16string browser_name;
  ULONG64 folder = 0;  // 0: the root folder
  std::u16string friendly_name;
  std::u16string initial_program;
  std::u16string work_directory;
  std::u16string description;
  ULONG window_width = 0;
  ULONG window_height = 0;
  BYTE window_type = 0;
  ULONG zq_attributes = 0;
  std::vector<ULONG64> servers;     // server ids, without their own settings
  std::vector<std::u16string> users;  // account DNs
};

// Seeds of an application with just a browser name and users or servers.
AppSeed SeedWithUsers(const std::u16string& browser_name, std::vector<std::u16string> users);
AppSeed SeedWithServers(const std::u16string& browser_name, std::vector<ULONG64> servers);

// Writes a new application record made from `seed` through `store`; its id.
ULONG64 StoreApplication(ZQAppSAL& store, const AppSeed& seed);

// What FarmObject::CreateZQWinApp needs to publish `name` (a 256-colour
// 800x600 window, program C:\Apps\app.exe) into `parent_dn` (empty: the
// root folder); the texts live in `texts`.
std::unique_ptr<_ZQWinAppData> AppData(TextPool& texts, std::u16string_view name, std::u16string_view browser_name,
                                       std::u16string_view parent_dn = {});

// Changes the stored folder (`folder_change`) or application (`app_change`)
// `id` of the farm the services use now in the farm store itself, past the
// services' rules, as a farm file written by an older feroq may hold it.
void RewriteStored(ULONG64 id, const std::function<void(store::FolderRecord&)>& folder_change,
                   const std::function<void(store::AppRecordData&)>& app_change);
// Gives the folder or application `id` the name `name` that way.
void ForceName(ULONG64 id, const std::u16string& name);

class FarmTest : public ::testing::Test {
 protected:
  void SetUp() override;
  // Destroys farm_ first, then undoes what SetUp set.
  void TearDown() override;

  // Makes the test's farm object (after any seeding its construction should
  // see, such as the farm name); TearDown destroys it.
  FarmObject& OpenFarm() {
    farm_ = std::make_unique<FarmObject>();
    return *farm_;
  }
  std::unique_ptr<FarmObject> farm_;

  // The remote-access subsystem held by the fixture (never null after SetUp).
  VORN_PIF_ISubSystem* subsystem() const { return subsystem_; }
  feroq::admin::FarmAdmin& admin() { return *admin_; }

  void SeedFarmName(const std::u16string& name);
  // Adds a server; returns its id (0 after a test failure).
  ULONG64 AddServer(const std::u16string& name);
  // Adds an account to the directory.
  void AddAccount(const std::u16string& domain, const std::u16string& account, ULONG kind,
                  const std::u16string& dn, const std::u16string& authority_type = u"NT");

  ULONG64 RootFolder();
  // The folder at `path` below the root ("Office/Tools"; '/' or '\'
  // separate components; a leading separator is allowed), creating every
  // missing component. Returns its id (0 after a test failure).
  ULONG64 AddFolder(const std::u16string& path);
  // Publishes an application through ZQAppSAL::Write; returns its id.
  ULONG64 AddApplication(const AppSeed& seed);
  ULONG64 AddApplication(const std::u16string& browser_name, ULONG64 folder = 0);
  // Changes the stored record of application `id` in the store itself,
  // past the services' rules, as a farm file written by an older feroq may
  // hold it.
  void RewriteStoredApplication(ULONG64 id, const std::function<void(feroq::store::AppRecordData&)>& change);

 private:
  VORN_PIF_ISubSystem* subsystem_ = nullptr;
  bool remote_access_held_ = false;
  std::unique_ptr<feroq::admin::FarmAdmin> admin_;
};

}  // namespace feroq::testing

#endif  // FEROQ_TESTS_SUPPORT_FARM_FIXTURE_H_
