// VORN_SimpleArray: sizing, element lifetime, bounds checks, assignment and
// behaviour when the platform heap refuses.
#include <gtest/gtest.h>

#include <new>
#include <string>

#include "feroq/services/containers.h"
#include "platform/platform.h"

namespace {

using feroq::platform::AllocationFailureTriggered;
using feroq::platform::ClearAllocationFailure;
using feroq::platform::FailAllocationAt;
using feroq::platform::LiveHeapBlocks;

std::u16string Text(const VORNString& s) { return std::u16string(s.c_str()); }

// Fills `array` with `count` strings "s0", "s1", ...
void FillStrings(VORN_SimpleArray<VORNString>& array, ULONG count) {
  ASSERT_EQ(array.ChangeSize(count), count);
  for (ULONG i = 0; i < count; ++i) {
    array[i] = (u"s" + std::u16string(1, static_cast<char16_t>(u'0' + i))).c_str();
  }
}

class SimpleArrayTest : public ::testing::Test {
 protected:
  void TearDown() override { ClearAllocationFailure(); }
};

TEST_F(SimpleArrayTest, DataSizeIsCountWordPlusElementsOfTheFarmLayout) {
  VORN_SimpleArray<VORNString> strings;
  VORN_SimpleArray<ULONG> words;
  VORN_SimpleArray<UM_AccountInfo> accounts;
  EXPECT_EQ(strings.GetDataSize(), 4u);
  EXPECT_EQ(words.GetDataSize(), 4u);
  EXPECT_EQ(accounts.GetDataSize(), 4u);

  EXPECT_EQ(strings.ChangeSize(3), 3u);
  EXPECT_EQ(words.ChangeSize(3), 3u);
  EXPECT_EQ(accounts.ChangeSize(3), 3u);
  EXPECT_EQ(strings.GetDataSize(), 220u);
  EXPECT_EQ(words.GetDataSize(), 16u);
  EXPECT_EQ(accounts.GetDataSize(), 232u);
}

TEST_F(SimpleArrayTest, ChangeSizeToZero) {
  const auto blocks_before = LiveHeapBlocks();
  VORN_SimpleArray<VORNString> array;
  EXPECT_EQ(array.ChangeSize(0), 0u);
  EXPECT_EQ(array.Count(), 0u);
  EXPECT_EQ(LiveHeapBlocks(), blocks_before) << "resizing an empty array to 0 must not allocate";

  FillStrings(array, 4);
  EXPECT_GT(LiveHeapBlocks(), blocks_before);
  EXPECT_EQ(array.ChangeSize(0), 0u);
  EXPECT_EQ(array.Count(), 0u);
  EXPECT_THROW(array[0], VORN_OutOfBoundsException);
  EXPECT_EQ(LiveHeapBlocks(), blocks_before) << "storage and element texts must be released";
}

TEST_F(SimpleArrayTest, GrowingKeepsLeadingElementsAndAddsEmptyOnes) {
  VORN_SimpleArray<VORNString> array;
  FillStrings(array, 3);
  EXPECT_EQ(array.ChangeSize(5), 5u);
  EXPECT_EQ(Text(array[0]), u"s0");
  EXPECT_EQ(Text(array[1]), u"s1");
  EXPECT_EQ(Text(array[2]), u"s2");
  EXPECT_TRUE(array[3].IsEmpty());
  EXPECT_EQ(array[4].m_size, 2u);

  const auto blocks_before_shrink = LiveHeapBlocks();
  EXPECT_EQ(array.ChangeSize(2), 2u);
  EXPECT_EQ(Text(array[0]), u"s0");
  EXPECT_EQ(Text(array[1]), u"s1");
  EXPECT_THROW(array[2], VORN_OutOfBoundsException);
  // One text ("s2") is destroyed; the storage block is replaced one for one.
  EXPECT_EQ(LiveHeapBlocks(), blocks_before_shrink - 1);
}

TEST_F(SimpleArrayTest, AccountRecordsKeepNameAndKindWhenGrowing) {
  VORN_SimpleArray<UM_AccountInfo> accounts;
  ASSERT_EQ(accounts.ChangeSize(1), 1u);
  EXPECT_TRUE(accounts[0].name.IsEmpty());
  accounts[0].name = u"cn=alice";
  accounts[0].kind = feroq::kAccountKindGroup;
  ASSERT_EQ(accounts.ChangeSize(2), 2u);
  EXPECT_EQ(Text(accounts[0].name), u"cn=alice");
  EXPECT_EQ(accounts[0].kind, feroq::kAccountKindGroup);
  EXPECT_TRUE(accounts[1].name.IsEmpty());
}

TEST_F(SimpleArrayTest, SizeBeyondThirtyTwoBitsFailsAndEmptiesTheArray) {
  VORN_SimpleArray<ULONG> words;
  ASSERT_EQ(words.ChangeSize(3), 3u);
  words[0] = 1;
  EXPECT_EQ(words.ChangeSize(1u << 30), 0u);
  EXPECT_EQ(words.Count(), 0u);
  EXPECT_EQ(words.GetDataSize(), 4u);
  EXPECT_THROW(words[0], VORN_OutOfBoundsException);
  EXPECT_EQ(words.ChangeSize(3), 3u) << "the array is usable again";
}

TEST_F(SimpleArrayTest, IndexChecks) {
  VORN_SimpleArray<VORNString> array;
  EXPECT_THROW(array[0], VORN_OutOfBoundsException);
  FillStrings(array, 2);
  EXPECT_NO_THROW(array[1]);
  EXPECT_THROW(array[2], VORN_OutOfBoundsException);
  EXPECT_THROW(array[0xFFFFFFFFu], VORN_OutOfBoundsException);
  const VORN_SimpleArray<VORNString>& read_only = array;
  EXPECT_EQ(Text(read_only[1]), u"s1");
  EXPECT_THROW(read_only[2], VORN_OutOfBoundsException);
}

TEST_F(SimpleArrayTest, AssignmentCopiesCountAndTexts) {
  VORN_SimpleArray<VORNString> source;
  FillStrings(source, 3);
  VORN_SimpleArray<VORNString> target;
  FillStrings(target, 5);
  target = source;
  ASSERT_EQ(target.Count(), 3u);
  for (ULONG i = 0; i < 3; ++i) EXPECT_EQ(Text(target[i]), Text(source[i]));
  EXPECT_NE(target[0].m_string, source[0].m_string) << "texts are copied, not shared";

  VORN_SimpleArray<VORNString>& same = target;  // through a reference: the compiler allows it
  target = same;
  EXPECT_EQ(Text(target[2]), u"s2");

  VORN_SimpleArray<VORNString> empty;
  target = empty;
  EXPECT_EQ(target.Count(), 0u);
  EXPECT_THROW(target[0], VORN_OutOfBoundsException);
}

// ---- Heap refusals ---------------------------------------------------------------

TEST_F(SimpleArrayTest, ChangeSizeEmptiesTheArrayWhenAnyAllocationFails) {
  // Allocation 1 is the new storage, the following ones copy the kept texts.
  // Whichever one fails, the array ends empty, returns 0 and leaks nothing.
  int failures_seen = 0;
  for (std::uint64_t nth = 1;; ++nth) {
    const auto blocks_before = LiveHeapBlocks();
    {
      VORN_SimpleArray<VORNString> array;
      FillStrings(array, 3);
      FailAllocationAt(nth);
      const ULONG result = array.ChangeSize(5);
      const bool failed = AllocationFailureTriggered();
      ClearAllocationFailure();
      if (!failed) {
        EXPECT_EQ(result, 5u);
        EXPECT_EQ(Text(array[2]), u"s2");
        break;
      }
      ++failures_seen;
      EXPECT_EQ(result, 0u) << "failure at allocation " << nth;
      EXPECT_EQ(array.Count(), 0u);
      EXPECT_EQ(array.GetDataSize(), 4u);
      EXPECT_THROW(array[0], VORN_OutOfBoundsException);
      EXPECT_EQ(array.ChangeSize(2), 2u) << "the array is usable again";
    }
    EXPECT_EQ(LiveHeapBlocks(), blocks_before) << "failure at allocation " << nth;
  }
  EXPECT_EQ(failures_seen, 4);  // the storage and three texts
}

TEST_F(SimpleArrayTest, FailedAssignmentKeepsTheCountButNoStorage) {
  VORN_SimpleArray<VORNString> source;
  FillStrings(source, 3);
  VORN_SimpleArray<VORNString> target;
  FillStrings(target, 1);
  FailAllocationAt(1);
  EXPECT_THROW(target = source, std::bad_alloc);
  ClearAllocationFailure();
  EXPECT_EQ(target.Count(), 3u);
  EXPECT_THROW(target[0], VORN_OutOfBoundsException);
  EXPECT_EQ(target.ChangeSize(2), 2u);
  EXPECT_TRUE(target[0].IsEmpty());
}

}  // namespace
