// The user list of a published application: accounts given as domain and
// name are resolved to directory names through the user service and back,
// with the argument checks, the Windows-domain-only rule and iteration.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "farm/object_access.h"
#include "feroq/farm_object.h"
#include "feroq/services/zqapp.h"
#include "feroq/zqwinapp_object.h"
#include "platform/platform.h"
#include "services/record_access.h"
#include "services/service_faults.h"
#include "support/app_object_fixture.h"
#include "support/handles.h"

namespace {

// An account as the tool sees it.
struct AccountView {
  std::u16string domain;
  std::u16string account;
  LONG kind;
  bool operator==(const AccountView&) const = default;
  bool operator<(const AccountView& other) const { return account < other.account; }
};

constexpr char16_t kAliceDn[] = u"CN=alice,OU=Office";
constexpr char16_t kStaffDn[] = u"CN=staff,OU=Office";
constexpr char16_t kServiceDn[] = u"CN=svc,OU=Lab";
constexpr char16_t kBobDn[] = u"CN=bob,O=Tree";
constexpr char16_t kCarolDn[] = u"CN=carol,OU=Home";

class AppUsersTest : public feroq::testing::AppObjectTest {
 protected:
  void SetUp() override {
    AppObjectTest::SetUp();
    AddAccount(u"OFFICE", u"alice", 0, kAliceDn);
    AddAccount(u"OFFICE", u"staff", 1, kStaffDn);
    AddAccount(u"LAB", u"svc", 2, kServiceDn);
    AddAccount(u"TREE", u"bob", 0, kBobDn, u"NDS");
    AddAccount(u"HOME", u"carol", 0, kCarolDn, u"nt");  // the type compares without case
    OpenApplication(AddApplication(u"Mail"));
  }
  HRESULT Add(std::u16string domain, std::u16string account, LONG kind = 0,
              HRESULT (ZQWinAppObject::*call)(_UserAccountInfo*) = &ZQWinAppObject::AddUser) {
    _UserAccountInfo user{0, feroq::kUserAuthorityWindowsDomain, kind, domain.data(), account.data()};
    return (app_->*call)(&user);
  }
  HRESULT Remove(std::u16string domain, std::u16string account, LONG kind = 0) {
    return Add(domain, account, kind, &ZQWinAppObject::RemoveUser);
  }
  // Adds a directory name to the record directly, as a stored list may hold it.
  void AddDnToRecord(const char16_t* dn) {
    VORNString name(dn);
    ASSERT_EQ(feroq::ObjectAccess::Record(*app_)->AddUser(name), 0u);
  }
  AccountView Take(_UserAccountInfo& user) {
    EXPECT_EQ(user.reserved, 0u);
    EXPECT_EQ(user.authorityKind, feroq::kUserAuthorityWindowsDomain);
    AccountView view{user.domain, user.accountName, user.accountKind};
    for (char16_t* text : {user.domain, user.accountName}) {
      EXPECT_EQ(feroq::platform::HeapBlockSize(text), (std::u16string(text).size() + 1) * sizeof(char16_t));
      farm_->FreeMemory(text);
    }
    user = _UserAccountInfo{};
    return view;
  }
  std::vector<AccountView> AllUsers() {
    std::vector<AccountView> users;
    _UserAccountInfo user{};
    HRESULT result = app_->GetFirstUser(&user);
    for (; result == S_OK; result = app_->GetNextUser(&user)) users.push_back(Take(user));
    EXPECT_EQ(result, S_FALSE);
    std::sort(users.begin(), users.end());
    return users;
  }
};

TEST_F(AppUsersTest, AccountsAreCheckedBeforeTheUserServiceIsAsked) {
  EXPECT_EQ(app_->AddUser(nullptr), E_INVALIDARG);
  EXPECT_EQ(app_->RemoveUser(nullptr), E_INVALIDARG);

  std::u16string domain = u"OFFICE";
  std::u16string account = u"alice";
  std::u16string empty;
  const _UserAccountInfo refused[] = {
      {0, 1, 0, domain.data(), account.data()},   // not a Windows domain
      {0, 0, 3, domain.data(), account.data()},   // no such account kind
      {0, 0, -1, domain.data(), account.data()},
      {0, 0, 0, empty.data(), account.data()},
      {0, 0, 0, nullptr, account.data()},
      {0, 0, 0, domain.data(), nullptr},
      {0, 0, 0, domain.data(), empty.data()},
  };
  feroq::services::StartServiceCallLog();
  for (const _UserAccountInfo& user : refused) {
    _UserAccountInfo copy = user;
    EXPECT_EQ(app_->AddUser(&copy), E_INVALIDARG);
    EXPECT_EQ(app_->RemoveUser(&copy), E_INVALIDARG);
  }
  feroq::services::StopServiceCallLog();
  EXPECT_FALSE(feroq::testing::ServiceWasCalled("VORN_UserMgmt_SAL::ResolveAccountNameToDN"));
  EXPECT_EQ(feroq::ObjectAccess::Record(*app_)->GetUserCount(), 0);
}

TEST_F(AppUsersTest, AddedAccountsAreStoredByDirectoryNameAndComeBack) {
  ASSERT_EQ(Add(u"OFFICE", u"alice"), S_OK);
  ASSERT_EQ(Add(u"OFFICE", u"staff", 1), S_OK);
  ASSERT_EQ(Add(u"LAB", u"svc", 2), S_OK);
  ASSERT_EQ(Add(u"HOME", u"carol"), S_OK);
  USERTABLE& stored = feroq::services::RecordAccess::Users(*feroq::ObjectAccess::Record(*app_));
  EXPECT_EQ(stored.FindUser(VORNString(kAliceDn)), 0u);
  EXPECT_EQ(stored.FindUser(VORNString(kServiceDn)), 0u);
  LONG count = 0;
  EXPECT_EQ(app_->GetUserCount(&count), S_OK);
  EXPECT_EQ(count, 4);
  const std::vector<AccountView> expected = {
      {u"OFFICE", u"alice", 0},
      {u"HOME", u"carol", 0},
      {u"OFFICE", u"staff", 1},
      {u"LAB", u"svc", 2},
  };
  EXPECT_EQ(AllUsers(), expected);

  EXPECT_EQ(Remove(u"OFFICE", u"alice"), S_OK);
  EXPECT_EQ(Remove(u"OFFICE", u"nobody"), E_FAIL);  // unknown to the directory
  EXPECT_EQ(Remove(u"OFFICE", u"staff", 3), E_INVALIDARG);
  EXPECT_EQ(Remove(u"HOME", u"carol"), S_OK);
  EXPECT_EQ(AllUsers(), (std::vector<AccountView>{{u"OFFICE", u"staff", 1}, {u"LAB", u"svc", 2}}));
}

TEST_F(AppUsersTest, IterationStates) {
  _UserAccountInfo user{9, 9, 9, nullptr, nullptr};
  EXPECT_EQ(app_->GetFirstUser(&user), S_FALSE);  // empty: the walk stays closed
  EXPECT_EQ(app_->GetNextUser(&user), E_UNEXPECTED);
  EXPECT_EQ(user.reserved, 9u);
  EXPECT_EQ(app_->GetFirstUser(nullptr), E_INVALIDARG);
  EXPECT_EQ(app_->GetNextUser(nullptr), E_INVALIDARG);
  EXPECT_EQ(app_->GetUserCount(nullptr), E_INVALIDARG);

  ASSERT_EQ(Add(u"OFFICE", u"alice"), S_OK);
  ASSERT_EQ(Add(u"LAB", u"svc", 2), S_OK);
  ASSERT_EQ(app_->GetFirstUser(&user), S_OK);
  const AccountView first = Take(user);
  ASSERT_EQ(app_->GetFirstUser(&user), S_OK);  // closes the open walk first
  EXPECT_EQ(Take(user), first);
  ASSERT_EQ(app_->GetNextUser(&user), S_OK);
  Take(user);
  EXPECT_EQ(app_->GetNextUser(&user), S_FALSE);
  ASSERT_EQ(app_->GetFirstUser(&user), S_OK);  // the walk that ran out is restarted
  EXPECT_EQ(Take(user), first);
}

// Accounts of other authorities, and names the directory does not know,
// are not reported: the entry fails with E_FAIL and the caller's record is
// left alone; during GetFirstUser the walk is closed, during GetNextUser it
// stays open and continues with the next entry.
TEST_F(AppUsersTest, AccountsOfOtherAuthoritiesFail) {
  AddDnToRecord(u"CN=ghost");
  char16_t left_over[] = u"left over";
  _UserAccountInfo user{3, 3, 3, left_over, left_over};
  EXPECT_EQ(app_->GetFirstUser(&user), E_FAIL);
  EXPECT_EQ(user.reserved, 3u);
  EXPECT_EQ(user.accountName, left_over);
  VORNString ghost(u"CN=ghost");
  ASSERT_EQ(feroq::ObjectAccess::Record(*app_)->RemoveUser(ghost), 0u);

  AddDnToRecord(kBobDn);
  AddDnToRecord(kAliceDn);
  EXPECT_EQ(app_->GetFirstUser(&user), E_FAIL);
  EXPECT_EQ(app_->GetNextUser(&user), E_UNEXPECTED);

  VORNString bob(kBobDn);
  ASSERT_EQ(feroq::ObjectAccess::Record(*app_)->RemoveUser(bob), 0u);
  AddDnToRecord(kBobDn);
  AddDnToRecord(kServiceDn);  // the list is now alice, bob, svc
  ASSERT_EQ(app_->GetFirstUser(&user), S_OK);
  EXPECT_EQ(Take(user), (AccountView{u"OFFICE", u"alice", 0}));
  EXPECT_EQ(app_->GetNextUser(&user), E_FAIL);
  ASSERT_EQ(app_->GetNextUser(&user), S_OK);
  EXPECT_EQ(Take(user), (AccountView{u"LAB", u"svc", 2}));
  EXPECT_EQ(app_->GetNextUser(&user), S_FALSE);
}

// What the sweeps cannot see: a failed AddUser leaves the list as it was,
// and a failed copy of a handed-out account leaves both string fields null.
TEST_F(AppUsersTest, RunningOutOfMemory) {
  HRESULT result = S_OK;
  feroq::testing::ForEachAllocationFailure([&] { result = Add(u"OFFICE", u"alice"); }, [&](bool failed) {
    EXPECT_EQ(feroq::ObjectAccess::Record(*app_)->GetUserCount(), failed ? 0 : 1);
  });
  ASSERT_EQ(result, S_OK);
  char16_t left_over[] = u"left over";
  _UserAccountInfo user{};
  int copy_failures = 0;
  feroq::testing::ForEachAllocationFailure(
      [&] {
        user = _UserAccountInfo{0, 0, 0, left_over, left_over};
        result = app_->GetFirstUser(&user);
      },
      [&](bool failed) {
        if (!failed) {
          EXPECT_EQ(Take(user), (AccountView{u"OFFICE", u"alice", 0}));
        } else if (user.domain != left_over) {  // failed while copying the account out
          ++copy_failures;
          EXPECT_EQ(user.domain, nullptr);
          EXPECT_EQ(user.accountName, nullptr);
        }
      });
  EXPECT_EQ(copy_failures, 2);  // the domain copy and the account name copy
}

}  // namespace
