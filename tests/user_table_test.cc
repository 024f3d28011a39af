// USERTABLE: growth, account identity, size totals, iteration, collection,
// duplicate removal, copies and the re-entrant lock.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "feroq/services/containers.h"
#include "platform/platform.h"
#include "services/record_access.h"

namespace {

using feroq::platform::ClearAllocationFailure;
using feroq::platform::FailAllocationAt;

std::u16string Dn(int n) {
  const std::string digits = std::to_string(n);
  return u"cn=user" + std::u16string(digits.begin(), digits.end());
}

// The names of `table` in order, read with its own iteration.
std::vector<std::u16string> Names(USERTABLE& table) {
  std::vector<std::u16string> names;
  VORNString name;
  VSTATUS status = table.GetFirstUser(name);
  while (status == feroq::VORN_OK) {
    names.emplace_back(name.c_str());
    status = table.GetNextUser(name);
  }
  EXPECT_EQ(status, feroq::ZQAPP_E_NO_MORE);
  return names;
}

void AddAll(USERTABLE& table, std::initializer_list<const char16_t*> names) {
  for (const char16_t* name : names) ASSERT_EQ(table.AddUser(VORNString(name)), feroq::VORN_OK);
}

ULONG SizeOf(const char16_t* text) { return VORNString(text).m_size; }

class UserTableTest : public ::testing::Test {
 protected:
  void TearDown() override { ClearAllocationFailure(); }
};

TEST_F(UserTableTest, StartsAtTwentyAndDoublesWhenFull) {
  USERTABLE table;
  EXPECT_EQ(table.GetCount(), 0);
  EXPECT_EQ(table.SizeOfUsers(), 0u);
  EXPECT_EQ(feroq::services::RecordAccess::NameCapacity(table), 20u);

  ULONG expected_size = 0;
  for (int i = 0; i < 20; ++i) {
    ASSERT_EQ(table.AddUser(VORNString(Dn(i).c_str())), feroq::VORN_OK);
    expected_size += SizeOf(Dn(i).c_str());
  }
  EXPECT_EQ(feroq::services::RecordAccess::NameCapacity(table), 20u);
  ASSERT_EQ(table.AddUser(VORNString(Dn(20).c_str())), feroq::VORN_OK);
  expected_size += SizeOf(Dn(20).c_str());
  EXPECT_EQ(feroq::services::RecordAccess::NameCapacity(table), 40u);
  EXPECT_EQ(table.GetUserCount(), 21);
  EXPECT_EQ(table.SizeOfUsers(), expected_size);

  const auto names = Names(table);
  ASSERT_EQ(names.size(), 21u);
  for (int i = 0; i < 21; ++i) EXPECT_EQ(names[i], Dn(i));
}

TEST_F(UserTableTest, AddRemoveFindUseAccountIdentity) {
  USERTABLE table;
  AddAll(table, {u"cn=alice,o=farm", u"cn=bob,o=farm", u"cn=carol,o=farm"});
  const ULONG full = table.SizeOfUsers();

  EXPECT_EQ(table.AddUser(VORNString()), feroq::VORN_E_FAILURE);
  EXPECT_EQ(table.GetCount(), 3);
  EXPECT_EQ(table.SizeOfUsers(), full);

  EXPECT_EQ(table.FindUser(VORNString(u"CN=BOB,O=FARM")), feroq::VORN_OK);
  EXPECT_EQ(table.FindUser(VORNString(u"cn=dave,o=farm")), feroq::VORN_E_FAILURE);

  EXPECT_EQ(table.RemoveUser(VORNString(u"cn=dave,o=farm")), feroq::VORN_OK);
  EXPECT_EQ(table.GetCount(), 3);
  EXPECT_EQ(table.SizeOfUsers(), full);

  // A differently cased name is the same account; later names move down.
  EXPECT_EQ(table.RemoveUser(VORNString(u"CN=Bob,O=Farm")), feroq::VORN_OK);
  EXPECT_EQ(table.SizeOfUsers(), full - SizeOf(u"cn=bob,o=farm"));
  EXPECT_EQ(Names(table), (std::vector<std::u16string>{u"cn=alice,o=farm", u"cn=carol,o=farm"}));
  EXPECT_EQ(table.FindUser(VORNString(u"cn=bob,o=farm")), feroq::VORN_E_FAILURE);
  // Only the first occurrence goes.
  AddAll(table, {u"CN=ALICE,O=FARM"});
  EXPECT_EQ(table.RemoveUser(VORNString(u"cn=alice,o=farm")), feroq::VORN_OK);
  EXPECT_EQ(Names(table), (std::vector<std::u16string>{u"cn=carol,o=farm", u"CN=ALICE,O=FARM"}));
}

TEST_F(UserTableTest, RemoveDuplicatesKeepsFirstOccurrences) {
  USERTABLE table;
  AddAll(table, {u"A", u"B", u"A", u"C", u"A"});
  const ULONG size_of_a = SizeOf(u"A");
  const ULONG before = table.SizeOfUsers();
  EXPECT_EQ(table.RemoveDuplicates(), feroq::VORN_OK);
  EXPECT_EQ(Names(table), (std::vector<std::u16string>{u"A", u"B", u"C"}));
  EXPECT_EQ(table.SizeOfUsers(), before - 2 * size_of_a);

  // A removed entry's slot takes the last entry, which is examined in turn.
  USERTABLE moved;
  AddAll(moved, {u"A", u"B", u"a", u"C", u"D", u"b"});
  EXPECT_EQ(moved.RemoveDuplicates(), feroq::VORN_OK);
  EXPECT_EQ(Names(moved), (std::vector<std::u16string>{u"A", u"B", u"D", u"C"}));

  USERTABLE single;
  AddAll(single, {u"A"});
  EXPECT_EQ(single.RemoveDuplicates(), feroq::VORN_OK);
  EXPECT_EQ(single.GetCount(), 1);
}

TEST_F(UserTableTest, IterationCodes) {
  USERTABLE table;
  VORNString name;
  EXPECT_EQ(table.GetFirstUser(name), feroq::ZQAPP_E_NO_MORE);
  EXPECT_EQ(table.GetNextUser(name), feroq::ZQAPP_E_NOT_ITERATING);

  AddAll(table, {u"A", u"B"});
  ASSERT_EQ(table.GetFirstUser(name), feroq::VORN_OK);
  EXPECT_EQ(std::u16string(name.c_str()), u"A");
  EXPECT_EQ(table.GetFirstUser(name), feroq::ZQAPP_E_ITERATING);
  EXPECT_EQ(std::u16string(name.c_str()), u"A") << "a refused start leaves the output alone";
  table.StopGetUser();
  ASSERT_EQ(table.GetFirstUser(name), feroq::VORN_OK);
  ASSERT_EQ(table.GetNextUser(name), feroq::VORN_OK);
  EXPECT_EQ(std::u16string(name.c_str()), u"B");
  EXPECT_EQ(table.GetNextUser(name), feroq::ZQAPP_E_NO_MORE);
  EXPECT_EQ(table.GetNextUser(name), feroq::ZQAPP_E_NOT_ITERATING);
  EXPECT_EQ(table.GetFirstUser(name), feroq::VORN_OK) << "the finished iteration is closed";
}

TEST_F(UserTableTest, GetAllUsers) {
  USERTABLE table;
  VORNMultiString list;
  list = u"left over";
  EXPECT_EQ(table.GetAllUsers(list), feroq::VORN_OK);
  EXPECT_EQ(list.GetCount(), 0u);
  EXPECT_EQ(list.GetHeadString(), nullptr);

  AddAll(table, {u"A", u"B", u"C"});
  ASSERT_EQ(table.GetAllUsers(list), feroq::VORN_OK);
  std::vector<std::u16string> collected;
  for (const WCHAR* s = list.GetHeadString(); s != nullptr; s = list.GetNextString()) collected.emplace_back(s);
  EXPECT_EQ(collected, (std::vector<std::u16string>{u"A", u"B", u"C"}));
  VORNString name;
  EXPECT_EQ(table.GetFirstUser(name), feroq::VORN_OK) << "GetAllUsers leaves no iteration open";

  // With an iteration in progress: refused, and the iteration goes on.
  EXPECT_EQ(table.GetAllUsers(list), feroq::VORN_E_FAILURE);
  ASSERT_EQ(table.GetNextUser(name), feroq::VORN_OK);
  EXPECT_EQ(std::u16string(name.c_str()), u"B");
}

TEST_F(UserTableTest, RemoveAllUsersKeepsCapacity) {
  USERTABLE table;
  for (int i = 0; i < 25; ++i) ASSERT_EQ(table.AddUser(VORNString(Dn(i).c_str())), feroq::VORN_OK);
  VORNString name;
  ASSERT_EQ(table.GetFirstUser(name), feroq::VORN_OK);
  EXPECT_EQ(table.RemoveAllUsers(), feroq::VORN_OK);
  EXPECT_EQ(table.GetCount(), 0);
  EXPECT_EQ(table.SizeOfUsers(), 0u);
  EXPECT_EQ(feroq::services::RecordAccess::NameCapacity(table), 40u);
  EXPECT_EQ(table.GetNextUser(name), feroq::ZQAPP_E_NO_MORE)
      << "the open iteration simply runs out";
}

TEST_F(UserTableTest, SetArraySize) {
  USERTABLE table;
  AddAll(table, {u"A", u"B", u"C"});
  EXPECT_EQ(table.SetArraySize(64), feroq::VORN_OK);
  EXPECT_EQ(feroq::services::RecordAccess::NameCapacity(table), 64u);
  EXPECT_EQ(Names(table), (std::vector<std::u16string>{u"A", u"B", u"C"}));

  // Below the count: the names beyond the capacity go, and never are read.
  EXPECT_EQ(table.SetArraySize(2), feroq::VORN_OK);
  EXPECT_EQ(table.GetCount(), 2);
  EXPECT_EQ(table.SizeOfUsers(), SizeOf(u"A") + SizeOf(u"B"));
  EXPECT_EQ(Names(table), (std::vector<std::u16string>{u"A", u"B"}));

  FailAllocationAt(1);
  EXPECT_EQ(table.SetArraySize(10), feroq::VORN_E_FAILURE);
  ClearAllocationFailure();
  EXPECT_EQ(feroq::services::RecordAccess::NameCapacity(table), 0u);
  EXPECT_EQ(table.GetCount(), 0);
  const VORNString d(u"D");
  EXPECT_EQ(table.AddUser(d), feroq::VORN_OK) << "AddUser starts the storage again";
  EXPECT_EQ(feroq::services::RecordAccess::NameCapacity(table), 20u);
}

TEST_F(UserTableTest, AddUserReportsFailedGrowth) {
  USERTABLE table;
  for (int i = 0; i < 20; ++i) ASSERT_EQ(table.AddUser(VORNString(Dn(i).c_str())), feroq::VORN_OK);
  VORNString extra(u"cn=extra");
  FailAllocationAt(1);  // the doubled storage
  EXPECT_EQ(table.AddUser(extra), feroq::VORN_E_FAILURE);
  ClearAllocationFailure();
  EXPECT_EQ(feroq::services::RecordAccess::NameCapacity(table), 0u);
  EXPECT_EQ(table.GetCount(), 0) << "the table lost its names";
  EXPECT_EQ(table.SizeOfUsers(), 0u);
  EXPECT_EQ(table.AddUser(extra), feroq::VORN_OK);
  EXPECT_EQ(Names(table), (std::vector<std::u16string>{u"cn=extra"}));

  // A name that cannot be copied into its slot changes nothing.
  VORNString second(u"cn=second");
  FailAllocationAt(1);
  EXPECT_EQ(table.AddUser(second), feroq::VORN_E_FAILURE);
  ClearAllocationFailure();
  EXPECT_EQ(table.GetCount(), 1);
  EXPECT_EQ(table.SizeOfUsers(), extra.m_size);
}

TEST_F(UserTableTest, CopiesCarryNamesButNoIteration) {
  USERTABLE source;
  AddAll(source, {u"A", u"B"});
  VORNString name;
  ASSERT_EQ(source.GetFirstUser(name), feroq::VORN_OK);

  USERTABLE copy(source);
  EXPECT_EQ(copy.GetCount(), 2);
  EXPECT_EQ(copy.SizeOfUsers(), source.SizeOfUsers());
  EXPECT_EQ(Names(copy), (std::vector<std::u16string>{u"A", u"B"}));
  ASSERT_EQ(source.GetNextUser(name), feroq::VORN_OK) << "the source's iteration is untouched";
  EXPECT_EQ(std::u16string(name.c_str()), u"B");
  source.StopGetUser();

  USERTABLE target;
  AddAll(target, {u"X", u"Y", u"Z"});
  ASSERT_EQ(target.GetFirstUser(name), feroq::VORN_OK);
  USERTABLE returned = (target = source);
  EXPECT_EQ(Names(target), (std::vector<std::u16string>{u"A", u"B"}));
  EXPECT_EQ(target.SizeOfUsers(), source.SizeOfUsers());
  EXPECT_EQ(Names(returned), (std::vector<std::u16string>{u"A", u"B"}));
  EXPECT_EQ(source.AddUser(VORNString(u"C")), feroq::VORN_OK);
  EXPECT_EQ(target.GetCount(), 2) << "the copy is independent of its source";
}

TEST_F(UserTableTest, ConcurrentAddsAreSerialised) {
  USERTABLE table;
  constexpr int kPerThread = 300;
  auto add = [&table](int base) {
    for (int i = 0; i < kPerThread; ++i) table.AddUser(VORNString(Dn(base + i).c_str()));
  };
  std::thread first(add, 0);
  std::thread second(add, kPerThread);
  first.join();
  second.join();
  EXPECT_EQ(table.GetCount(), 2 * kPerThread);
  VORNMultiString list;
  ASSERT_EQ(table.GetAllUsers(list), feroq::VORN_OK);
  EXPECT_EQ(list.GetCount(), static_cast<ULONG>(2 * kPerThread));
  EXPECT_EQ(table.RemoveDuplicates(), feroq::VORN_OK);
  EXPECT_EQ(table.GetCount(), 2 * kPerThread) << "no name was lost or written twice";
}

}  // namespace
