// The system library's value types: VORNString, VORNMultiString,
// VORN_TABLE_HashTable and the re-entrant lock.
#include <cstdint>
#include <new>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "feroq/services/vorn_system.h"
#include "platform/platform.h"

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
  ASSERT_NE(empty.m_string, nullptr);
  EXPECT_EQ(empty.m_string[0], u'\0');
  EXPECT_EQ(empty.m_size, 2u);
  EXPECT_TRUE(empty.IsEmpty());
  EXPECT_EQ(empty.Length(), 0u);

  VORNString from_null(static_cast<const WCHAR*>(nullptr));
  EXPECT_EQ(from_null.m_size, 2u);
  EXPECT_EQ(from_null.m_string[0], u'\0');

  VORNString word(u"Notepad");
  EXPECT_EQ(word.m_size, 16u);
  EXPECT_EQ(word.Length(), 7u);
  EXPECT_FALSE(word.IsEmpty());
  EXPECT_EQ(Text(word), u"Notepad");

  VORNString wide(u"\u00C4\u03A9\U0001F600");  // a surrogate pair counts as two units
  EXPECT_EQ(wide.m_size, 10u);
}

TEST_F(VORNStringTest, CopiesAreIndependent) {
  VORNString original(u"C:\\Program Files");
  VORNString copy(original);
  EXPECT_NE(copy.m_string, original.m_string);
  EXPECT_TRUE(copy == original);
  original = u"changed";
  EXPECT_EQ(Text(copy), u"C:\\Program Files");
  EXPECT_FALSE(copy == original);

  VORNString assigned;
  assigned = copy;
  EXPECT_EQ(Text(assigned), u"C:\\Program Files");
  EXPECT_EQ(assigned.m_size, copy.m_size);
  VORNString& same = assigned;  // through a reference: the compiler allows it
  assigned = same;  // self-assignment keeps the text
  EXPECT_EQ(Text(assigned), u"C:\\Program Files");
}

TEST_F(VORNStringTest, AssignmentFromText) {
  VORNString s(u"first");
  s = u"second value";
  EXPECT_EQ(Text(s), u"second value");
  EXPECT_EQ(s.m_size, 26u);
  // The new text may come from the string itself.
  s = s.m_string + 7;
  EXPECT_EQ(Text(s), u"value");
  EXPECT_EQ(s.m_size, 12u);
  s = u"";
  EXPECT_EQ(s.m_size, 2u);
  EXPECT_EQ(s.m_string[0], u'\0');
  s = u"again";
  s = static_cast<const WCHAR*>(nullptr);
  EXPECT_TRUE(s.IsEmpty());
}

TEST_F(VORNStringTest, DecimalFormRoundTrips) {
  VORNString zero(ULONG64{0});
  EXPECT_EQ(Text(zero), u"0");
  EXPECT_EQ(zero.m_size, 4u);
  EXPECT_EQ(zero.ToUInt64(), 0u);

  VORNString max(UINT64_MAX);
  EXPECT_EQ(Text(max), u"18446744073709551615");
  EXPECT_EQ(max.ToUInt64(), UINT64_MAX);
  EXPECT_EQ(static_cast<ULONG64>(max), UINT64_MAX);

  for (ULONG64 value : {ULONG64{1}, ULONG64{9}, ULONG64{10}, ULONG64{4294967296},
                        feroq::MakeObjectId(31, 77), UINT64_MAX - 1}) {
    EXPECT_EQ(VORNString(value).ToUInt64(), value);
  }
  EXPECT_EQ(VORNString(u"0042").ToUInt64(), 42u);
}

TEST_F(VORNStringTest, TextThatIsNoNumberGivesZero) {
  for (const char16_t* text : {u"", u"abc", u"12a", u"-1", u" 1", u"1.5", u"18446744073709551616",
                               u"99999999999999999999"}) {
    EXPECT_EQ(VORNString(text).ToUInt64(), 0u) << std::string(text, text + std::char_traits<char16_t>::length(text));
  }
}

TEST_F(VORNStringTest, EmptyStringsNeverTouchTheHeap) {
  fp::FailAllocationAt(1, true);
  VORNString empty;
  VORNString from_empty(u"");
  VORNString copy(empty);
  copy = u"";
  EXPECT_FALSE(fp::AllocationFailureTriggered());
  EXPECT_TRUE(copy.IsEmpty());
}

TEST_F(VORNStringTest, HeapFailureRaisesBadAllocAndChangesNothing) {
  fp::FailAllocationAt(1);
  EXPECT_THROW(VORNString(u"x"), std::bad_alloc);
  fp::FailAllocationAt(1);
  EXPECT_THROW(VORNString(ULONG64{7}), std::bad_alloc);

  VORNString kept(u"kept");
  const WCHAR* block = kept.m_string;
  fp::FailAllocationAt(1);
  EXPECT_THROW(kept = u"replacement", std::bad_alloc);
  EXPECT_EQ(kept.m_string, block);
  EXPECT_EQ(Text(kept), u"kept");
  EXPECT_EQ(kept.m_size, 10u);

  VORNString source(u"source");
  fp::FailAllocationAt(1);
  EXPECT_THROW(kept = source, std::bad_alloc);
  EXPECT_EQ(Text(kept), u"kept");
  fp::FailAllocationAt(1);
  EXPECT_THROW(VORNString copy(source), std::bad_alloc);
}

// ---- VORNMultiString -------------------------------------------------------

using VORNMultiStringTest = VornSystemTest;

std::vector<std::u16string> Walk(VORNMultiString& list) {
  std::vector<std::u16string> items;
  for (const WCHAR* item = list.GetHeadString(); item != nullptr; item = list.GetNextString()) {
    items.emplace_back(item);
  }
  return items;
}

TEST_F(VORNMultiStringTest, EmptyListYieldsNothing) {
  VORNMultiString list;
  EXPECT_EQ(list.GetCount(), 0u);
  EXPECT_EQ(list.GetHeadString(), nullptr);
  EXPECT_EQ(list.GetNextString(), nullptr);
}

TEST_F(VORNMultiStringTest, AppendsAndWalksInOrder) {
  VORNMultiString list;
  for (const char16_t* line : {u"<html>", u"", u"<body>", u"</html>"}) {
    EXPECT_EQ(list.CopyOrConcatString(VORNString(line), 0), 0u);
  }
  EXPECT_EQ(list.GetCount(), 4u);
  EXPECT_EQ(Walk(list), (std::vector<std::u16string>{u"<html>", u"", u"<body>", u"</html>"}));
  EXPECT_EQ(list.GetNextString(), nullptr);  // stays at the end
  EXPECT_EQ(list.GetNextString(), nullptr);
  EXPECT_EQ(std::u16string(list.GetHeadString()), u"<html>");  // restarts
  EXPECT_EQ(std::u16string(list.GetNextString()), u"");
}

TEST_F(VORNMultiStringTest, ItemsAreCopies) {
  VORNMultiString list;
  VORNString line(u"original");
  ASSERT_EQ(list.CopyOrConcatString(line, 0), 0u);
  line = u"changed";
  EXPECT_EQ(std::u16string(list.GetHeadString()), u"original");
}

TEST_F(VORNMultiStringTest, AssignmentAndNonZeroFlagReplaceTheList) {
  VORNMultiString list;
  for (int i = 0; i < 20; ++i) ASSERT_EQ(list.CopyOrConcatString(VORNString(ULONG64(i)), 0), 0u);
  EXPECT_EQ(list.GetCount(), 20u);
  EXPECT_EQ(list.CopyOrConcatString(VORNString(u"only"), 1), 0u);
  EXPECT_EQ(Walk(list), std::vector<std::u16string>{u"only"});
  list = u"assigned";
  EXPECT_EQ(Walk(list), std::vector<std::u16string>{u"assigned"});
  list = u"";
  EXPECT_EQ(list.GetCount(), 0u);
  EXPECT_EQ(list.GetHeadString(), nullptr);
  ASSERT_EQ(list.CopyOrConcatString(VORNString(u"a"), 0), 0u);
  list = static_cast<const WCHAR*>(nullptr);
  EXPECT_EQ(list.GetCount(), 0u);
}

// Makes the 1st, 2nd, ... allocation of an append fail until one run gets
// through; every failed run must report 0x80000002 and leave the list as it was.
TEST_F(VORNMultiStringTest, AppendUnderEveryAllocationFailure) {
  VORNMultiString list;
  std::vector<std::u16string> expected;
  for (int item = 0; item < 12; ++item) {  // crosses the growth of the item array
    const VORNString line(ULONG64(1000 + item));
    for (std::uint64_t nth = 1;; ++nth) {
      fp::FailAllocationAt(nth);
      const VSTATUS result = list.CopyOrConcatString(line, 0);
      const bool failed = fp::AllocationFailureTriggered();
      fp::ClearAllocationFailure();
      if (!failed) {
        ASSERT_EQ(result, 0u);
        break;
      }
      ASSERT_EQ(result, feroq::VORN_E_OUTOFMEMORY);
      ASSERT_EQ(Walk(list), expected);
    }
    expected.push_back(Text(line));
  }
  EXPECT_EQ(Walk(list), expected);

  fp::FailAllocationAt(1, true);
  EXPECT_THROW(list = u"replacement", std::bad_alloc);
  fp::ClearAllocationFailure();
  EXPECT_EQ(Walk(list), expected);
}

// ---- VORN_TABLE_HashTable -------------------------------------------------

using HashTableTest = VornSystemTest;

TEST_F(HashTableTest, AddFindReplaceUpdate) {
  VORN_TABLE_HashTable table;
  int a = 1, b = 2, c = 3;
  EXPECT_EQ(table.GetCount(), 0);
  void* value = &c;
  EXPECT_NE(table.FindItem(u"alpha", &value), 0u);
  EXPECT_EQ(value, &c);  // untouched on failure

  ASSERT_EQ(table.AddItem(u"alpha", &a), 0u);
  ASSERT_EQ(table.AddItem(u"beta", &b), 0u);
  EXPECT_EQ(table.GetCount(), 2);
  ASSERT_EQ(table.FindItem(u"alpha", &value), 0u);
  EXPECT_EQ(value, &a);

  // Adding a present key replaces its value; the count does not change.
  ASSERT_EQ(table.AddItem(u"alpha", &c), 0u);
  EXPECT_EQ(table.GetCount(), 2);
  ASSERT_EQ(table.FindItem(u"alpha", &value), 0u);
  EXPECT_EQ(value, &c);

  EXPECT_EQ(table.UpdateItem(u"beta", &a), 0u);
  ASSERT_EQ(table.FindItem(u"beta", &value), 0u);
  EXPECT_EQ(value, &a);
  EXPECT_NE(table.UpdateItem(u"gamma", &a), 0u);
  EXPECT_NE(table.FindItem(u"gamma", &value), 0u);
  EXPECT_EQ(table.GetCount(), 2);

  ASSERT_EQ(table.AddItem(u"", nullptr), 0u);  // an empty key is a key like any other
  ASSERT_EQ(table.FindItem(u"", &value), 0u);
  EXPECT_EQ(value, nullptr);
}

TEST_F(HashTableTest, KeysAreExactAndCopied) {
  VORN_TABLE_HashTable table;
  int upper = 1, lower = 2;
  std::u16string key = u"Server";
  ASSERT_EQ(table.AddItem(key.c_str(), &upper), 0u);
  ASSERT_EQ(table.AddItem(u"server", &lower), 0u);
  EXPECT_EQ(table.GetCount(), 2);
  key[0] = u'X';  // the table holds its own copy
  void* value = nullptr;
  ASSERT_EQ(table.FindItem(u"Server", &value), 0u);
  EXPECT_EQ(value, &upper);
  EXPECT_NE(table.FindItem(u"Serve", &value), 0u);
  EXPECT_NE(table.FindItem(u"Servers", &value), 0u);
}

TEST_F(HashTableTest, FindByValueReturnsTheStoredKey) {
  VORN_TABLE_HashTable table;
  int a = 1, b = 2, absent = 3;
  ASSERT_EQ(table.AddItem(u"12", &a), 0u);
  ASSERT_EQ(table.AddItem(u"34", &b), 0u);
  const WCHAR* key = table.FindItem(static_cast<void*>(&b));
  ASSERT_NE(key, nullptr);
  EXPECT_EQ(std::u16string(key), u"34");
  EXPECT_EQ(table.FindItem(static_cast<void*>(&absent)), nullptr);
}

TEST_F(HashTableTest, DeleteAndFlush) {
  VORN_TABLE_HashTable table;
  int a = 1;
  EXPECT_NE(table.DeleteItem(u"none"), 0u);  // a table that never held anything
  ASSERT_EQ(table.AddItem(u"one", &a), 0u);
  ASSERT_EQ(table.AddItem(u"two", &a), 0u);
  EXPECT_EQ(table.DeleteItem(u"one"), 0u);
  EXPECT_NE(table.DeleteItem(u"one"), 0u);
  EXPECT_EQ(table.GetCount(), 1);
  void* value = nullptr;
  EXPECT_NE(table.FindItem(u"one", &value), 0u);
  EXPECT_EQ(table.FindItem(u"two", &value), 0u);

  EXPECT_EQ(table.FlushTable(), 0u);
  EXPECT_EQ(table.GetCount(), 0);
  EXPECT_NE(table.FindItem(u"two", &value), 0u);
  ASSERT_EQ(table.AddItem(u"two", &a), 0u);  // usable again after a flush
  EXPECT_EQ(table.GetCount(), 1);
}

TEST_F(HashTableTest, EnumerationVisitsEveryKeyOnce) {
  VORN_TABLE_HashTable table;
  _ENUMNODE* list = reinterpret_cast<_ENUMNODE*>(&table);
  ASSERT_EQ(table.BeginEnum(&list), 0u);
  EXPECT_EQ(list, nullptr);  // empty table
  EXPECT_EQ(table.EndEnum(list), 0u);

  std::vector<int> values(50);
  for (int i = 0; i < 50; ++i) {
    values[i] = i;
    ASSERT_EQ(table.AddItem(VORNString(ULONG64(i)).m_string, &values[i]), 0u);
  }
  ASSERT_EQ(table.BeginEnum(&list), 0u);
  std::set<ULONG64> seen;
  for (_ENUMNODE* node = list; node != nullptr; node = node->next) {
    const ULONG64 key = VORNString(node->key).ToUInt64();
    EXPECT_TRUE(seen.insert(key).second) << "key twice: " << key;
    ASSERT_LT(key, 50u);
    EXPECT_EQ(node->value, &values[key]);
    // The node's key is the table's own copy, the one FindItem(value) reports.
    EXPECT_EQ(node->key, table.FindItem(node->value));
  }
  EXPECT_EQ(seen.size(), 50u);
  EXPECT_EQ(table.EndEnum(list), 0u);
}

TEST_F(HashTableTest, TenThousandKeys) {
  constexpr ULONG64 kKeys = 10000;
  VORN_TABLE_HashTable table;
  for (ULONG64 i = 0; i < kKeys; ++i) {
    ASSERT_EQ(table.AddItem(VORNString(feroq::MakeObjectId(31, static_cast<ULONG>(i))).m_string,
                            reinterpret_cast<void*>(i + 1)),
              0u);
  }
  EXPECT_EQ(table.GetCount(), kKeys);
  for (ULONG64 i = 0; i < kKeys; i += 2) {
    ASSERT_EQ(table.DeleteItem(VORNString(feroq::MakeObjectId(31, static_cast<ULONG>(i))).m_string),
              0u);
  }
  EXPECT_EQ(table.GetCount(), kKeys / 2);
  for (ULONG64 i = 0; i < kKeys; ++i) {
    void* value = nullptr;
    const VSTATUS result =
        table.FindItem(VORNString(feroq::MakeObjectId(31, static_cast<ULONG>(i))).m_string, &value);
    if (i % 2 == 0) {
      EXPECT_NE(result, 0u) << i;
    } else {
      ASSERT_EQ(result, 0u) << i;
      EXPECT_EQ(value, reinterpret_cast<void*>(i + 1));
    }
  }
  _ENUMNODE* list = nullptr;
  ASSERT_EQ(table.BeginEnum(&list), 0u);
  std::size_t nodes = 0;
  for (_ENUMNODE* node = list; node != nullptr; node = node->next) ++nodes;
  EXPECT_EQ(nodes, kKeys / 2);
  table.EndEnum(list);
}

// More keys than a 16-bit count holds: GetCount stops at 0xFFFF rather than
// wrapping. Also shows that lookups do not degrade into a list walk.
TEST_F(HashTableTest, CountHoldsAtTheSixteenBitLimit) {
  VORN_TABLE_HashTable table;
  for (ULONG64 i = 0; i < 70000; ++i) {
    ASSERT_EQ(table.AddItem(VORNString(i).m_string, nullptr), 0u);
  }
  EXPECT_EQ(table.GetCount(), 0xFFFF);
  for (ULONG64 i = 0; i < 70000 - 0xFFFF + 5; ++i) ASSERT_EQ(table.DeleteItem(VORNString(i).m_string), 0u);
  EXPECT_EQ(table.GetCount(), 0xFFFF - 5);
}

TEST_F(HashTableTest, AllocationFailuresLeaveTheTableUnchanged) {
  VORN_TABLE_HashTable table;
  int value = 0;
  // The first insertion also creates the table's state.
  for (std::uint64_t nth = 1;; ++nth) {
    fp::FailAllocationAt(nth);
    const VSTATUS result = table.AddItem(u"first", &value);
    const bool failed = fp::AllocationFailureTriggered();
    fp::ClearAllocationFailure();
    if (!failed) {
      ASSERT_EQ(result, 0u);
      break;
    }
    EXPECT_EQ(result, feroq::VORN_E_OUTOFMEMORY);
    EXPECT_EQ(table.GetCount(), 0);
  }
  fp::FailAllocationAt(1, true);
  EXPECT_EQ(table.AddItem(u"second", &value), feroq::VORN_E_OUTOFMEMORY);
  EXPECT_EQ(table.GetCount(), 1);
  void* found = nullptr;
  EXPECT_NE(table.FindItem(u"second", &found), 0u);
  // Replacing a present key needs no memory.
  EXPECT_EQ(table.AddItem(u"first", nullptr), 0u);
  _ENUMNODE* list = nullptr;
  EXPECT_NE(table.BeginEnum(&list), 0u);
  EXPECT_EQ(list, nullptr);
  fp::ClearAllocationFailure();
  ASSERT_EQ(table.FindItem(u"first", &found), 0u);
  EXPECT_EQ(found, nullptr);
}

TEST_F(HashTableTest, FailedBucketGrowthStillAddsTheKey) {
  // Find the insertion that grows the buckets: it takes more than its entry.
  ULONG64 grow_at = 0;
  {
    VORN_TABLE_HashTable probe;
    ASSERT_EQ(probe.AddItem(u"0", nullptr), 0u);  // also creates the table state
    for (ULONG64 k = 1; grow_at == 0; ++k) {
      const VORNString key(k);
      const std::uint64_t before = fp::AllocationAttempts();
      ASSERT_EQ(probe.AddItem(key.m_string, nullptr), 0u);
      if (fp::AllocationAttempts() - before > 1) grow_at = k;
      ASSERT_LT(k, 100000u) << "the buckets never grew";
    }
  }
  // Same again with the growth refused: the key still goes in.
  VORN_TABLE_HashTable table;
  for (ULONG64 k = 0; k < grow_at; ++k) ASSERT_EQ(table.AddItem(VORNString(k).m_string, nullptr), 0u);
  const VORNString last(grow_at);
  fp::FailAllocationAt(2);  // 1: the entry, 2: the larger bucket array
  EXPECT_EQ(table.AddItem(last.m_string, nullptr), 0u);
  EXPECT_TRUE(fp::AllocationFailureTriggered());
  fp::ClearAllocationFailure();
  for (ULONG64 k = 0; k <= grow_at + 100; ++k) ASSERT_EQ(table.AddItem(VORNString(k).m_string, nullptr), 0u);
  for (ULONG64 k = 0; k <= grow_at + 100; ++k) {
    void* found = nullptr;
    ASSERT_EQ(table.FindItem(VORNString(k).m_string, &found), 0u) << k;
  }
  EXPECT_EQ(table.GetCount(), grow_at + 101);
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
