// The system library's value types: VORNString, VORNMultiString,
// VORN_TABLE_HashTable and the re-entrant lock.
#include <cstdint>
#include <new>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "feroq/services/vorn_system.h"
#include "platform/platform.h"
#include "support/handles.h"

namespace fp = feroq::platform;

namespace {

// Every test checks that it gives back every heap block it took.
class VornSystemTest : public ::testing::Test {
 protected:
  void SetUp() override { live_at_start_ = fp::LiveHeapBlocks(); }
  void TearDown() override {
    fp::ClearAllocationFailure();
    EXPECT_EQ(fp::LiveHeapBlocks(), live_at_start_) << "heap blocks leaked";
  }
  std::int64_t live_at_start_ = 0;
};

std::u16string Text(const VORNString& s) { return std::u16string(s.m_string); }

// ---- VORNString --------------------------------------------------------------

using VORNStringTest = VornSystemTest;

TEST_F(VORNStringTest, SizeFieldCountsBytesWithTheNul) {
  VORNString empty;
  VORNString from_null(static_cast<const char16_t*>(nullptr));
  VORNString word(u"Notepad");
  VORNString wide(u"\u00C4\u03A9\U0001F600");  // a surrogate pair counts as two units
  EXPECT_EQ(empty.m_size, 2u);
  EXPECT_TRUE(empty.IsEmpty());
  EXPECT_EQ(from_null.m_size, 2u);
  EXPECT_EQ(Text(from_null), u"");
  EXPECT_EQ(word.m_size, 16u);
  EXPECT_EQ(word.Length(), 7u);
  EXPECT_EQ(wide.m_size, 10u);
}

TEST_F(VORNStringTest, CopiesAreIndependentAndAssignmentMayAlias) {
  VORNString original(u"C:\\Program Files");
  VORNString copy(original);
  EXPECT_NE(copy.m_string, original.m_string);
  EXPECT_TRUE(copy == original);
  original = u"changed";
  EXPECT_EQ(Text(copy), u"C:\\Program Files");
  EXPECT_FALSE(copy == original);
  VORNString& same = copy;
  copy = same;
  EXPECT_EQ(Text(copy), u"C:\\Program Files");
  // The new text may come from the string itself.
  copy = copy.m_string + 3;
  EXPECT_EQ(Text(copy), u"Program Files");
  EXPECT_EQ(copy.m_size, 28u);
  copy = static_cast<const char16_t*>(nullptr);
  EXPECT_EQ(copy.m_size, 2u);
}

TEST_F(VORNStringTest, DecimalForm) {
  for (ULONG64 value : {ULONG64{0}, ULONG64{10}, feroq::MakeObjectId(31, 77), UINT64_MAX}) {
    EXPECT_EQ(VORNString(value).ToUInt64(), value);
  }
  EXPECT_EQ(Text(VORNString(UINT64_MAX)), u"18446744073709551615");
  EXPECT_EQ(VORNString(u"0042").ToUInt64(), 42u);
  // Text that is no number, or too large a one, gives zero.
  for (const char16_t* text : {u"", u"12a", u"-1", u" 1", u"18446744073709551616"}) {
    EXPECT_EQ(VORNString(text).ToUInt64(), 0u) << std::string(text, text + std::char_traits<char16_t>::length(text));
  }
}

TEST_F(VORNStringTest, HeapFailureRaisesBadAllocAndChangesNothing) {
  fp::FailAllocationAt(1, true);
  VORNString empty;  // empty strings never touch the heap
  VORNString copy(empty);
  copy = u"";
  EXPECT_FALSE(fp::AllocationFailureTriggered());
  EXPECT_THROW(VORNString(ULONG64{7}), std::bad_alloc);
  fp::ClearAllocationFailure();
  VORNString kept(u"kept");
  VORNString source(u"source");
  fp::FailAllocationAt(1);
  EXPECT_THROW(kept = u"replacement", std::bad_alloc);
  fp::FailAllocationAt(1);
  EXPECT_THROW(kept = source, std::bad_alloc);
  EXPECT_EQ(Text(kept), u"kept");
  EXPECT_EQ(kept.m_size, 10u);
}

// ---- VORNMultiString -------------------------------------------------------

using VORNMultiStringTest = VornSystemTest;

std::vector<std::u16string> Walk(VORNMultiString& list) {
  std::vector<std::u16string> items;
  for (const char16_t* item = list.GetHeadString(); item != nullptr; item = list.GetNextString()) {
    items.emplace_back(item);
  }
  return items;
}

TEST_F(VORNMultiStringTest, AppendsCopiesWalksInOrderAndReplaces) {
  VORNMultiString list;
  EXPECT_EQ(list.GetHeadString(), nullptr);
  VORNString line(u"<html>");
  ASSERT_EQ(list.CopyOrConcatString(line, 0), 0u);
  line = u"changed";
  for (const char16_t* next : {u"", u"</html>"}) ASSERT_EQ(list.CopyOrConcatString(VORNString(next), 0), 0u);
  EXPECT_EQ(list.GetCount(), 3u);
  EXPECT_EQ(Walk(list), (std::vector<std::u16string>{u"<html>", u"", u"</html>"}));
  EXPECT_EQ(list.GetNextString(), nullptr);  // stays at the end
  EXPECT_EQ(std::u16string(list.GetHeadString()), u"<html>");  // restarts

  // A non-zero flag, and assignment, replace the whole list.
  EXPECT_EQ(list.CopyOrConcatString(VORNString(u"only"), 1), 0u);
  EXPECT_EQ(Walk(list), std::vector<std::u16string>{u"only"});
  list = u"assigned";
  EXPECT_EQ(Walk(list), std::vector<std::u16string>{u"assigned"});
  list = u"";
  EXPECT_EQ(list.GetCount(), 0u);
  EXPECT_EQ(list.GetHeadString(), nullptr);
}

// Every failed append reports 0x80000002 and leaves the list as it was.
TEST_F(VORNMultiStringTest, AppendUnderEveryAllocationFailure) {
  VORNMultiString list;
  std::vector<std::u16string> expected;
  for (int item = 0; item < 12; ++item) {  // crosses the growth of the item array
    const VORNString line(ULONG64(1000 + item));
    VSTATUS result = 0;
    feroq::testing::ForEachAllocationFailure([&] { result = list.CopyOrConcatString(line, 0); }, [&](bool failed) {
      EXPECT_EQ(result, failed ? feroq::VORN_E_OUTOFMEMORY : 0u);
      if (failed) { EXPECT_EQ(Walk(list), expected); }
    });
    expected.push_back(Text(line));
  }
  EXPECT_EQ(Walk(list), expected);
  fp::FailAllocationAt(1, true);
  EXPECT_THROW(list = u"replacement", std::bad_alloc);
  fp::ClearAllocationFailure();
  EXPECT_EQ(Walk(list), expected);
}

// ---- VORN_TABLE_HashTable -------------------------------------------------
// (Its enumeration is read by every walk of a server table.)

using HashTableTest = VornSystemTest;

TEST_F(HashTableTest, AddFindReplaceUpdateDelete) {
  VORN_TABLE_HashTable table;
  int a = 1, b = 2, c = 3;
  void* value = &c;
  EXPECT_NE(table.DeleteItem(u"none"), 0u);  // a table that never held anything
  EXPECT_NE(table.FindItem(u"alpha", &value), 0u);
  EXPECT_EQ(value, &c);  // untouched on failure
  std::u16string key = u"alpha";
  ASSERT_EQ(table.AddItem(key.c_str(), &a), 0u);
  key[0] = u'X';  // the table holds its own copy
  ASSERT_EQ(table.AddItem(u"Alpha", &b), 0u);  // keys are exact
  ASSERT_EQ(table.AddItem(u"alpha", &c), 0u);  // a present key: its value is replaced
  EXPECT_EQ(table.GetCount(), 2);
  ASSERT_EQ(table.FindItem(u"alpha", &value), 0u);
  EXPECT_EQ(value, &c);
  EXPECT_NE(table.FindItem(u"alph", &value), 0u);
  EXPECT_EQ(std::u16string(table.FindItem(static_cast<void*>(&b))), u"Alpha");
  EXPECT_EQ(table.FindItem(static_cast<void*>(&a)), nullptr);

  EXPECT_EQ(table.UpdateItem(u"Alpha", &a), 0u);
  ASSERT_EQ(table.FindItem(u"Alpha", &value), 0u);
  EXPECT_EQ(value, &a);
  EXPECT_NE(table.UpdateItem(u"gamma", &a), 0u);
  EXPECT_EQ(table.DeleteItem(u"alpha"), 0u);
  EXPECT_NE(table.DeleteItem(u"alpha"), 0u);
  EXPECT_EQ(table.GetCount(), 1);
  EXPECT_EQ(table.FlushTable(), 0u);
  EXPECT_EQ(table.GetCount(), 0);
  EXPECT_NE(table.FindItem(u"Alpha", &value), 0u);
  ASSERT_EQ(table.AddItem(u"", nullptr), 0u);  // usable after a flush; "" is a key like any other
  EXPECT_EQ(table.FindItem(u"", &value), 0u);
}

// More keys than a 16-bit count holds: GetCount stops at 0xFFFF rather than
// wrapping; deleted keys are gone, the others still found.
TEST_F(HashTableTest, ManyKeysAndTheSixteenBitCount) {
  VORN_TABLE_HashTable table;
  for (ULONG64 i = 0; i < 70000; ++i) ASSERT_EQ(table.AddItem(VORNString(i).m_string, nullptr), 0u);
  EXPECT_EQ(table.GetCount(), 0xFFFF);
  for (ULONG64 i = 0; i < 70000; i += 2) ASSERT_EQ(table.DeleteItem(VORNString(i).m_string), 0u);
  EXPECT_EQ(table.GetCount(), 35000);
  void* value = nullptr;
  for (ULONG64 i = 0; i < 70000; ++i) {
    ASSERT_EQ(table.FindItem(VORNString(i).m_string, &value) == 0u, i % 2 == 1) << i;
  }
}

TEST_F(HashTableTest, AllocationFailuresLeaveTheTableUnchanged) {
  VORN_TABLE_HashTable table;
  int value = 0;
  VSTATUS result = 0;
  // The first insertion also creates the table's state.
  feroq::testing::ForEachAllocationFailure([&] { result = table.AddItem(u"first", &value); }, [&](bool failed) {
    EXPECT_EQ(result, failed ? feroq::VORN_E_OUTOFMEMORY : 0u);
    EXPECT_EQ(table.GetCount(), failed ? 0 : 1);
  });
  fp::FailAllocationAt(1, true);
  EXPECT_EQ(table.AddItem(u"second", &value), feroq::VORN_E_OUTOFMEMORY);
  EXPECT_EQ(table.GetCount(), 1);
  EXPECT_EQ(table.AddItem(u"first", nullptr), 0u);  // replacing a present key needs no memory
  _ENUMNODE* list = nullptr;
  EXPECT_NE(table.BeginEnum(&list), 0u);
  EXPECT_EQ(list, nullptr);
}

// A failed growth of the buckets still adds the key: the table keeps its
// buckets and grows at a later insertion.
TEST_F(HashTableTest, FailedBucketGrowthStillAddsTheKey) {
  VORN_TABLE_HashTable table;
  ASSERT_EQ(table.AddItem(u"0", nullptr), 0u);  // also creates the table state
  ULONG64 k = 1;
  for (bool grew = false; !grew; ++k) {  // until an insertion wants more than its entry
    ASSERT_LT(k, 100000u) << "the buckets never grew";
    const VORNString key(k);
    fp::FailAllocationAt(2, true);  // 1: the entry, 2: a larger bucket array
    ASSERT_EQ(table.AddItem(key.m_string, nullptr), 0u);
    grew = fp::AllocationFailureTriggered();
    fp::ClearAllocationFailure();
  }
  for (ULONG64 i = 0; i <= k + 100; ++i) ASSERT_EQ(table.AddItem(VORNString(i).m_string, nullptr), 0u);
  void* found = nullptr;
  for (ULONG64 i = 0; i <= k + 100; ++i) ASSERT_EQ(table.FindItem(VORNString(i).m_string, &found), 0u) << i;
  EXPECT_EQ(table.GetCount(), k + 101);
}

// ---- CCriticalSection ------------------------------------------------------

TEST(CriticalSectionTest, ReentrantAndReleasedWhenAnExceptionPasses) {
  CCriticalSection section;
  {
    CCriticalSectionGrabber outer(section);
    CCriticalSectionGrabber inner(section);  // same thread: no deadlock
  }
  try {
    CCriticalSectionGrabber held(section);
    throw std::runtime_error("passes through");
  } catch (const std::runtime_error&) {
  }
  bool taken = false;
  std::thread other([&] {
    CCriticalSectionGrabber grabber(section);
    taken = true;
  });
  other.join();
  EXPECT_TRUE(taken);
}

}  // namespace
