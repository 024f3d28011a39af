// USERTABLE: growth, account identity, the size total, iteration,
// collection, duplicate removal, copies, heap refusals and the lock.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <string>
#include <thread>
#include <vector>

#include "feroq/services/containers.h"
#include "platform/platform.h"
#include "services/record_access.h"

namespace {

using feroq::VORN_OK;
using feroq::services::RecordAccess;
using Names = std::vector<std::u16string>;

std::u16string Dn(int n) {
  const std::string digits = std::to_string(n);
  return u"cn=user" + std::u16string(digits.begin(), digits.end());
}

// The names of `table` in order, read with its own iteration.
Names NamesOf(USERTABLE& table) {
  Names names;
  VORNString name;
  VSTATUS status = table.GetFirstUser(name);
  for (; status == VORN_OK; status = table.GetNextUser(name)) names.emplace_back(name.c_str());
  EXPECT_EQ(status, feroq::ZQAPP_E_NO_MORE);
  return names;
}

void AddAll(USERTABLE& table, std::initializer_list<const char16_t*> names) {
  for (const char16_t* name : names) ASSERT_EQ(table.AddUser(VORNString(name)), VORN_OK);
}

ULONG SizeOf(const char16_t* text) { return VORNString(text).m_size; }

// Fills `table` with "cn=user0" ... up to its first capacity of 20.
void Fill(USERTABLE& table) {
  for (int i = 0; i < 20; ++i) ASSERT_EQ(table.AddUser(VORNString(Dn(i).c_str())), VORN_OK);
  ASSERT_EQ(RecordAccess::NameCapacity(table), 20u);
}

class UserTableTest : public ::testing::Test {
 protected:
  void TearDown() override { feroq::platform::ClearAllocationFailure(); }
};

// With storage of its own, and with room its owner lends (never released
// by the table, which leaves it when it grows).
TEST_F(UserTableTest, StartsAtTwentyAndDoublesWhenFull) {
  std::vector<std::max_align_t> lent(USERTABLE::LentSlotsBytes() / sizeof(std::max_align_t) + 1);
  for (void* slots : {static_cast<void*>(nullptr), static_cast<void*>(lent.data())}) {
    USERTABLE table(slots);
    Fill(table);
    ASSERT_EQ(table.AddUser(VORNString(Dn(20).c_str())), VORN_OK);
    EXPECT_EQ(RecordAccess::NameCapacity(table), 40u);
    const Names names = NamesOf(table);
    ASSERT_EQ(names.size(), 21u);
    EXPECT_EQ(names[20], Dn(20));
    EXPECT_EQ(table.AddUser(VORNString()), feroq::VORN_E_FAILURE) << "an empty name is refused";
  }
}

TEST_F(UserTableTest, AddRemoveFindUseAccountIdentity) {
  USERTABLE table;
  AddAll(table, {u"cn=alice,o=farm", u"cn=bob,o=farm", u"cn=carol,o=farm"});
  const ULONG full = table.SizeOfUsers();
  EXPECT_EQ(full, SizeOf(u"cn=alice,o=farm") + SizeOf(u"cn=bob,o=farm") + SizeOf(u"cn=carol,o=farm"));
  EXPECT_EQ(table.FindUser(VORNString(u"CN=BOB,O=FARM")), VORN_OK);
  EXPECT_EQ(table.FindUser(VORNString(u"cn=dave,o=farm")), feroq::VORN_E_FAILURE);
  EXPECT_EQ(table.RemoveUser(VORNString(u"cn=dave,o=farm")), VORN_OK);
  EXPECT_EQ(table.SizeOfUsers(), full);

  // A differently cased name is the same account; later names move down.
  EXPECT_EQ(table.RemoveUser(VORNString(u"CN=Bob,O=Farm")), VORN_OK);
  EXPECT_EQ(table.SizeOfUsers(), full - SizeOf(u"cn=bob,o=farm"));
  EXPECT_EQ(NamesOf(table), (Names{u"cn=alice,o=farm", u"cn=carol,o=farm"}));
  // Only the first occurrence goes.
  AddAll(table, {u"CN=ALICE,O=FARM"});
  EXPECT_EQ(table.RemoveUser(VORNString(u"cn=alice,o=farm")), VORN_OK);
  EXPECT_EQ(NamesOf(table), (Names{u"cn=carol,o=farm", u"CN=ALICE,O=FARM"}));
}

TEST_F(UserTableTest, RemoveDuplicatesKeepsFirstOccurrences) {
  USERTABLE table;
  AddAll(table, {u"A", u"B", u"A", u"C", u"A"});
  const ULONG before = table.SizeOfUsers();
  EXPECT_EQ(table.RemoveDuplicates(), VORN_OK);
  EXPECT_EQ(NamesOf(table), (Names{u"A", u"B", u"C"}));
  EXPECT_EQ(table.SizeOfUsers(), before - 2 * SizeOf(u"A"));

  // A removed entry's slot takes the last entry, which is examined in turn.
  USERTABLE moved;
  AddAll(moved, {u"A", u"B", u"a", u"C", u"D", u"b"});
  EXPECT_EQ(moved.RemoveDuplicates(), VORN_OK);
  EXPECT_EQ(NamesOf(moved), (Names{u"A", u"B", u"D", u"C"}));
}

TEST_F(UserTableTest, IterationAndCollection) {
  USERTABLE table;
  VORNString name;
  VORNMultiString list;
  list = u"left over";
  EXPECT_EQ(table.GetAllUsers(list), VORN_OK);
  EXPECT_EQ(list.GetCount(), 0u);
  EXPECT_EQ(table.GetNextUser(name), feroq::ZQAPP_E_NOT_ITERATING);

  AddAll(table, {u"A", u"B"});
  ASSERT_EQ(table.GetAllUsers(list), VORN_OK);
  EXPECT_EQ(std::u16string(list.GetHeadString()), u"A");
  EXPECT_EQ(std::u16string(list.GetNextString()), u"B");
  ASSERT_EQ(table.GetFirstUser(name), VORN_OK) << "GetAllUsers leaves no iteration open";
  EXPECT_EQ(table.GetFirstUser(name), feroq::ZQAPP_E_ITERATING);
  EXPECT_EQ(std::u16string(name.c_str()), u"A") << "a refused start leaves the output alone";
  // With an iteration in progress collecting is refused, and the iteration goes on.
  EXPECT_EQ(table.GetAllUsers(list), feroq::VORN_E_FAILURE);
  ASSERT_EQ(table.GetNextUser(name), VORN_OK);
  EXPECT_EQ(std::u16string(name.c_str()), u"B");
  EXPECT_EQ(table.GetNextUser(name), feroq::ZQAPP_E_NO_MORE);
  EXPECT_EQ(table.GetNextUser(name), feroq::ZQAPP_E_NOT_ITERATING);
  ASSERT_EQ(table.GetFirstUser(name), VORN_OK) << "the finished iteration is closed";

  // Emptying keeps the capacity; the open iteration simply runs out.
  EXPECT_EQ(table.RemoveAllUsers(), VORN_OK);
  EXPECT_EQ(table.SizeOfUsers(), 0u);
  EXPECT_EQ(RecordAccess::NameCapacity(table), 20u);
  EXPECT_EQ(table.GetNextUser(name), feroq::ZQAPP_E_NO_MORE);
}

TEST_F(UserTableTest, SetArraySizeAndStorageThatCannotBeMade) {
  USERTABLE table;
  AddAll(table, {u"A", u"B", u"C"});
  EXPECT_EQ(table.SetArraySize(64), VORN_OK);
  EXPECT_EQ(NamesOf(table), (Names{u"A", u"B", u"C"}));
  // Below the count: the names beyond the capacity go.
  EXPECT_EQ(table.SetArraySize(2), VORN_OK);
  EXPECT_EQ(table.SizeOfUsers(), SizeOf(u"A") + SizeOf(u"B"));
  EXPECT_EQ(NamesOf(table), (Names{u"A", u"B"}));
  feroq::platform::FailAllocationAt(1);
  EXPECT_EQ(table.SetArraySize(10), feroq::VORN_E_FAILURE);
  EXPECT_EQ(table.GetCount(), 0) << "the table lost its names";

  // AddUser starts the storage again; when its doubling fails the table empties.
  Fill(table);
  const VORNString extra(u"cn=extra");
  feroq::platform::FailAllocationAt(1);
  EXPECT_EQ(table.AddUser(extra), feroq::VORN_E_FAILURE);
  EXPECT_EQ(table.GetCount(), 0);
  EXPECT_EQ(table.SizeOfUsers(), 0u);
  ASSERT_EQ(table.AddUser(extra), VORN_OK);
  // A name that cannot be copied into its slot changes nothing.
  const VORNString second(u"cn=second");
  feroq::platform::FailAllocationAt(1);
  EXPECT_EQ(table.AddUser(second), feroq::VORN_E_FAILURE);
  EXPECT_EQ(NamesOf(table), (Names{u"cn=extra"}));
  EXPECT_EQ(table.SizeOfUsers(), extra.m_size);
}

TEST_F(UserTableTest, CopiesCarryNamesButNoIteration) {
  USERTABLE source;
  AddAll(source, {u"A", u"B"});
  VORNString name;
  ASSERT_EQ(source.GetFirstUser(name), VORN_OK);
  USERTABLE copy(source);
  EXPECT_EQ(copy.SizeOfUsers(), source.SizeOfUsers());
  EXPECT_EQ(NamesOf(copy), (Names{u"A", u"B"}));
  ASSERT_EQ(source.GetNextUser(name), VORN_OK) << "the source's iteration is untouched";
  source.StopGetUser();

  USERTABLE target;
  AddAll(target, {u"X", u"Y", u"Z"});
  ASSERT_EQ(target.GetFirstUser(name), VORN_OK);
  USERTABLE returned = (target = source);
  EXPECT_EQ(NamesOf(target), (Names{u"A", u"B"}));
  EXPECT_EQ(target.SizeOfUsers(), source.SizeOfUsers());
  EXPECT_EQ(NamesOf(returned), (Names{u"A", u"B"}));
  EXPECT_EQ(source.AddUser(VORNString(u"C")), VORN_OK);
  EXPECT_EQ(target.GetCount(), 2) << "the copy is independent of its source";
}

TEST_F(UserTableTest, ConcurrentAddsAreSerialised) {
  USERTABLE table;
  constexpr int kThreads = 4;
  constexpr int kPerThread = 20000;
  // All threads add at once, through every growth of the storage. The start
  // gate spins rather than using std::latch: the Windows runtime's latch (GCC
  // 12's condition-variable fallback for atomic waits) can miss the last
  // arrival's wake-up and leave a thread waiting forever.
  std::atomic<int> arrived{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&table, &arrived, t] {
      arrived.fetch_add(1);
      while (arrived.load() < kThreads) std::this_thread::yield();
      for (int i = 0; i < kPerThread; ++i) table.AddUser(VORNString(Dn(t * kPerThread + i).c_str()));
    });
  }
  for (std::thread& thread : threads) thread.join();
  Names names = NamesOf(table);
  std::sort(names.begin(), names.end());
  Names expected;
  for (int n = 0; n < kThreads * kPerThread; ++n) expected.push_back(Dn(n));
  std::sort(expected.begin(), expected.end());
  EXPECT_TRUE(names == expected) << "a name was lost or written twice: " << names.size() << " names";
}

}  // namespace
