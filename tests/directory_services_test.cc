// The server and user services, the RPC client's farm name, remote access,
// the farm admin interface and the services' fault injection.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "feroq/services/directory_services.h"
#include "feroq/services/farm_admin.h"
#include "feroq/services/user_service.h"
#include "feroq/services/zqapp.h"
#include "platform/platform.h"
#include "services/service_faults.h"
#include "support/farm_fixture.h"

namespace feroq::testing {
namespace {

using feroq::services::InjectServiceFault;
using feroq::services::InjectServiceFaultAtCall;
using feroq::services::ServiceCallLog;
using feroq::services::StartServiceCallLog;

std::u16string Text(const VORNString& s) { return std::u16string(s.c_str()); }

using ServerServiceTest = FarmTest;

TEST_F(ServerServiceTest, NamesAndIdentifiers) {
  const ULONG64 alpha = AddServer(u"Alpha-01");
  const ULONG64 beta = AddServer(u"BETA");
  EXPECT_EQ(ObjectKindOf(alpha), kObjectKindServer);
  VORN_ZQServerSAL servers(subsystem());

  char16_t lower[] = u"alpha-01", upper[] = u"beta", missing[] = u"gamma", empty[] = u"";
  ULONG64 id = 0;
  ASSERT_EQ(servers.GetUIDByName(lower, id), 0u);
  EXPECT_EQ(id, alpha);
  ASSERT_EQ(servers.GetUIDByName(upper, id), 0u);
  EXPECT_EQ(id, beta);
  EXPECT_EQ(servers.GetUIDByName(missing, id), VORN_E_FAILURE);
  EXPECT_EQ(servers.GetUIDByName(empty, id), VORN_E_INVALIDVALUE);
  EXPECT_EQ(servers.GetUIDByName(nullptr, id), VORN_E_INVALIDVALUE);
  EXPECT_EQ(id, beta);

  VORNString name(u"unchanged");
  ASSERT_EQ(servers.GetNameByUID(alpha, name), 0u);
  EXPECT_EQ(Text(name), u"Alpha-01");
  name = u"unchanged";
  EXPECT_EQ(servers.GetNameByUID(MakeObjectId(kObjectKindServer, 999), name), VORN_E_FAILURE);
  EXPECT_EQ(Text(name), u"unchanged");
}

TEST_F(ServerServiceTest, EnumerateAllServerAddressesHandsOutFourArrays) {
  VORN_ZQServerSAL servers(subsystem());
  ULONG count = 5;
  VORNString* names = nullptr;
  VORNMultiString* addresses = nullptr;
  VORNMultiString* zones = nullptr;
  VORNString* versions = nullptr;
  ASSERT_EQ(servers.EnumerateAllServerAddresses(count, names, addresses, zones, versions), 0u);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(names, nullptr);

  AddServer(u"Zulu");
  AddServer(u"Alpha");
  ASSERT_EQ(servers.EnumerateAllServerAddresses(count, names, addresses, zones, versions), 0u);
  ASSERT_EQ(count, 2u);
  EXPECT_EQ(Text(names[0]), u"Zulu");  // ascending identifier, not name
  EXPECT_EQ(Text(names[1]), u"Alpha");
  EXPECT_EQ(addresses[1].GetCount(), 0u);
  EXPECT_TRUE(versions[0].IsEmpty());
  delete[] names;
  delete[] addresses;
  delete[] zones;
  delete[] versions;
}

using UserServiceTest = FarmTest;

// A kind past the known ones, or an empty name, is refused as a value before any lookup.
TEST_F(UserServiceTest, AccountNameToDnRefusesAnUnknownKind) {
  AddAccount(u"CORP", u"alice", 0, u"CN=alice");
  VORN_UserMgmt_SAL users(subsystem());
  UM_AcctAuthInfo authority;
  authority.SetType(u"NT");
  authority.SetInstance(u"CORP");
  VORNString name(u"alice"), dn, empty;
  EXPECT_EQ(users.ResolveAccountNameToDN(authority, name, 3, dn), VORN_E_INVALIDVALUE);
  EXPECT_EQ(users.ResolveAccountNameToDN(authority, empty, 0, dn), VORN_E_INVALIDVALUE);
  ASSERT_EQ(users.ResolveAccountNameToDN(authority, name, 0, dn), 0u);
  EXPECT_EQ(Text(dn), u"CN=alice");
}

TEST(UserDnComparison, SameAccountWithoutRegardToCase) {
  EXPECT_EQ(UMCompareAcctDNs(u"CN=Alice,O=Corp", u"cn=alice,o=CORP") & 0xFF, 1u);
  EXPECT_EQ(UMCompareAcctDNs(u"CN=\u00c4rger", u"cn=\u00e4rger") & 0xFF, 1u);
  EXPECT_EQ(UMCompareAcctDNs(u"CN=Alice", u"CN=Alicia") & 0xFF, 0u);
  EXPECT_EQ(UMCompareAcctDNs(u"CN=Alice", u"") & 0xFF, 0u);
}

// ---- Farm name, remote access and administration ----------------------------

using FarmConnectionTest = FarmTest;

// Out of memory, the farm name's outputs say there is no name.
TEST_F(FarmConnectionTest, FarmNameOutOfMemoryLeavesNoName) {
  ULONG length = 99;
  char* name = reinterpret_cast<char*>(&length);
  feroq::platform::FailAllocationAt(1, /*persistent=*/true);
  EXPECT_EQ(VORN_FarmName(length, name), VORN_E_OUTOFMEMORY);
  feroq::platform::ClearAllocationFailure();
  EXPECT_EQ(length, 0u);
  EXPECT_EQ(name, nullptr);
}

TEST_F(FarmConnectionTest, TheLastUninitiateClosesTheConnection) {
  VORNCommonApplicationSAL folders(subsystem());
  ULONG64 root = 0;
  ASSERT_EQ(InitiateRemoteAccess(nullptr), 0u);  // a second holder
  ASSERT_EQ(UninitiateRemoteAccess(), 0u);
  EXPECT_EQ(folders.GetRootFolderID(root), 0u);  // still open: the fixture holds one

  ASSERT_EQ(UninitiateRemoteAccess(), 0u);  // the fixture's
  EXPECT_EQ(VornRemoteAccess, nullptr);
  EXPECT_EQ(folders.GetRootFolderID(root), VORN_E_FAILURE);
  EXPECT_EQ(UninitiateRemoteAccess(), VORN_E_FAILURE);  // nothing left to end

  // Reopening reuses the same subsystem, so services made earlier work again.
  ASSERT_EQ(InitiateRemoteAccess(nullptr), 0u);
  EXPECT_EQ(VornRemoteAccess, subsystem());
  EXPECT_EQ(folders.GetRootFolderID(root), 0u);
}

TEST_F(FarmConnectionTest, FarmUrls) {
  std::unique_ptr<feroq::admin::FarmAdmin> other;
  // A farm file must exist to be opened; one is created only on request, and
  // its directory must exist (only the default farm's is made).
  EXPECT_EQ(feroq::admin::FarmAdmin::Open("sqlite:/nonexistent-feroq-directory/farm.db", &other),
            feroq::admin::kFarmFileMissing);
  // A failure without a cause of its own names its code as the cause.
  feroq::admin::ServiceFailure failure;
  ASSERT_TRUE(feroq::admin::LastServiceFailure(&failure));
  ASSERT_EQ(failure.causes.size(), 1u);
  EXPECT_EQ(failure.causes[0].code, feroq::admin::kFarmFileMissing);
  EXPECT_NE(failure.causes[0].message.find("farm init"), std::string::npos);
  EXPECT_EQ(feroq::admin::FarmAdmin::Create("sqlite:/nonexistent-feroq-directory/farm.db", &other),
            feroq::admin::kFarmFileUnavailable);
  EXPECT_EQ(feroq::admin::FarmAdmin::Open("sqlite:", &other), feroq::admin::kFarmFileUnavailable);
  EXPECT_EQ(feroq::admin::FarmAdmin::Open("mysql://farm", &other), VORN_E_INVALIDVALUE);
  EXPECT_EQ(other, nullptr);

  // Memory farms are kept by name for the life of the process.
  ASSERT_EQ(feroq::admin::FarmAdmin::Open("memory:services-test-other", &other), 0u);
  ASSERT_EQ(other->SetFarmName(u"Other"), 0u);
  std::unique_ptr<feroq::admin::FarmAdmin> again;
  ASSERT_EQ(feroq::admin::FarmAdmin::Open("memory:services-test-other", &again), 0u);
  std::u16string name;
  ASSERT_EQ(again->GetFarmName(&name), 0u);
  EXPECT_EQ(name, u"Other");
  ASSERT_EQ(admin().GetFarmName(&name), 0u);
  EXPECT_EQ(name, u"feroq");
  EXPECT_EQ(feroq::admin::CurrentFarmUrl(), "memory:");
  // Passwords are hidden in a URI's authority and in every password= parameter.
  EXPECT_EQ(feroq::admin::FarmUrlWithoutPassword("postgresql://u:pw@h/db?sslmode=require&password=pw2 password=pw3"),
            "postgresql://u:***@h/db?sslmode=require&password=*** password=***");
}

TEST_F(FarmConnectionTest, AdminServerAndAccountRules) {
  const ULONG64 alpha = AddServer(u"Alpha");
  ULONG64 id = 7;
  EXPECT_EQ(admin().AddServer(u"ALPHA", &id), VORN_E_INVALIDVALUE);
  EXPECT_EQ(admin().AddServer(u"", &id), VORN_E_INVALIDVALUE);
  EXPECT_EQ(id, 7u);  // a refused server gets no identifier
  EXPECT_EQ(admin().SetFarmName(u""), VORN_E_INVALIDVALUE);
  std::u16string farm_name;
  ASSERT_EQ(admin().GetFarmName(&farm_name), 0u);
  EXPECT_EQ(farm_name, u"feroq");
  const ULONG64 beta = AddServer(u"Beta");
  AddApplication(SeedWithServers(u"Uses beta", {beta}));
  EXPECT_EQ(admin().RemoveServer(beta), VORN_E_REFUSED);
  EXPECT_EQ(admin().RemoveServer(MakeObjectId(kObjectKindServer, 999)), VORN_E_FAILURE);
  EXPECT_EQ(admin().RemoveServer(alpha), 0u);
  std::vector<feroq::admin::ServerInfo> servers;
  ASSERT_EQ(admin().ListServers(&servers), 0u);
  ASSERT_EQ(servers.size(), 1u);
  EXPECT_EQ(servers[0].name, u"Beta");

  AddAccount(u"CORP", u"alice", 0, u"CN=alice");
  EXPECT_EQ(admin().AddAccount({u"NT", u"corp", u"ALICE", 0, u"CN=other"}), VORN_E_REFUSED);
  EXPECT_EQ(admin().AddAccount({u"NT", u"CORP", u"bob", 0, u"cn=ALICE"}), VORN_E_REFUSED);
  EXPECT_EQ(admin().AddAccount({u"NT", u"CORP", u"bob", 3, u"CN=bob"}), VORN_E_INVALIDVALUE);
  EXPECT_EQ(admin().AddAccount({u"", u"CORP", u"bob", 0, u"CN=bob"}), VORN_E_INVALIDVALUE);
  std::vector<feroq::admin::AccountInfo> accounts;
  ASSERT_EQ(admin().ListAccounts(&accounts), 0u);
  EXPECT_EQ(accounts.size(), 1u);
}

// ---- Fault injection --------------------------------------------------------

using ServiceFaultTest = FarmTest;

TEST_F(ServiceFaultTest, OnceAnswersOneCallWithoutActing) {
  VORNCommonApplicationSAL folders(subsystem());
  const ULONG64 root = RootFolder();
  char16_t name[] = u"Office";
  ULONG64 created = 0;
  InjectServiceFault("VORNCommonApplicationSAL::CreateFolder", VORN_E_OUTOFMEMORY);
  EXPECT_EQ(folders.CreateFolder(root, name, created), VORN_E_OUTOFMEMORY);
  EXPECT_EQ(created, 0u);
  std::vector<feroq::admin::FolderInfo> all;
  ASSERT_EQ(admin().ListFolders(&all), 0u);
  EXPECT_EQ(all.size(), 1u);  // nothing was created
  EXPECT_EQ(folders.CreateFolder(root, name, created), 0u);
}

TEST_F(ServiceFaultTest, PersistentAnswersUntilCleared) {
  VORN_ZQServerSAL servers(subsystem());
  AddServer(u"Alpha");
  char16_t name[] = u"Alpha";
  ULONG64 id = 0;
  InjectServiceFault("VORN_ZQServerSAL::GetUIDByName", 0x80000016u, /*persistent=*/true);
  EXPECT_EQ(servers.GetUIDByName(name, id), 0x80000016u);
  EXPECT_EQ(servers.GetUIDByName(name, id), 0x80000016u);
  VORNString text;
  EXPECT_EQ(servers.GetNameByUID(1, text), VORN_E_FAILURE);  // other operations unaffected
  feroq::services::ClearServiceFaults();
  EXPECT_EQ(servers.GetUIDByName(name, id), 0u);
}

TEST_F(ServiceFaultTest, FaultAtTheNthCallOfAnyOperation) {
  VORNCommonApplicationSAL folders(subsystem());
  ULONG64 root = 0, parent = 0;
  InjectServiceFaultAtCall(3, 0x80000007u);
  EXPECT_EQ(folders.GetRootFolderID(root), 0u);
  EXPECT_EQ(folders.GetFolderParent(root, parent), 0u);
  EXPECT_EQ(folders.GetFolderParent(root, parent), 0x80000007u);
  EXPECT_EQ(folders.GetFolderParent(root, parent), 0u);  // fires once
}

TEST_F(ServiceFaultTest, CallLogListsOnlyTheCallsMadeFromOutside) {
  const ULONG64 id = AddApplication(SeedWithUsers(u"Calc", {u"CN=carol"}));
  ZQAppSAL store(subsystem());
  StartServiceCallLog();
  ZQApp record;
  ASSERT_EQ(store.Read(id, record), 0u);  // fills the record through its setters, unlogged
  ULONG length = 0;
  char* name = nullptr;
  VORN_FarmName(length, name);
  VORNFree_RPC_Mem(name);
  VORNString browser(u"Calc 2");
  ASSERT_EQ(record.SetBrowserName(browser), 0u);
  feroq::services::StopServiceCallLog();
  VORN_FarmName(length, name);  // not logged any more
  VORNFree_RPC_Mem(name);
  EXPECT_EQ(ServiceCallLog(), (std::vector<std::string>{"ZQAppSAL::Read", "VORN_FarmName",
                                                        "VORNFree_RPC_Mem",
                                                        "ZQApp::SetBrowserName"}));
}

TEST_F(ServiceFaultTest, FaultsOnRecordCallsDoNotReachTheStoreItsOwnCalls) {
  // An armed setter fault is left for the caller: Read does not consume it.
  const ULONG64 id = AddApplication(u"Calc");
  ZQAppSAL store(subsystem());
  InjectServiceFault("ZQApp::SetBrowserName", ZQAPP_E_BROWSER_NAME);
  ZQApp record;
  ASSERT_EQ(store.Read(id, record), 0u);
  VORNString name(u"Other");
  EXPECT_EQ(record.SetBrowserName(name), ZQAPP_E_BROWSER_NAME);
}

}  // namespace
}  // namespace feroq::testing
