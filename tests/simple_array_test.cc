// VORN_SimpleArray: resizing and element lifetime, bounds checks, deep
// copies, and what the array holds after the platform heap refuses.
#include <gtest/gtest.h>

#include <new>
#include <optional>
#include <string>

#include "feroq/services/containers.h"
#include "platform/platform.h"
#include "support/handles.h"

namespace {

using feroq::platform::LiveHeapBlocks;
using Strings = VORN_SimpleArray<VORNString>;

std::u16string Text(const VORNString& s) { return std::u16string(s.c_str()); }

// Fills `array` with `count` strings "s0", "s1", ...
void FillStrings(Strings& array, ULONG count) {
  ASSERT_EQ(array.ChangeSize(count), count);
  for (ULONG i = 0; i < count; ++i) array[i] = (u"s" + std::u16string(1, static_cast<char16_t>(u'0' + i))).c_str();
}

TEST(SimpleArrayTest, ResizingKeepsLeadingElementsAndReleasesTheRest) {
  const auto blocks_before = LiveHeapBlocks();
  Strings array;
  EXPECT_EQ(array.ChangeSize(0), 0u);
  EXPECT_EQ(LiveHeapBlocks(), blocks_before) << "an empty array resized to 0 allocates nothing";
  EXPECT_THROW(array[0], VORN_OutOfBoundsException);

  FillStrings(array, 3);
  EXPECT_EQ(array.GetDataSize(), 4u + 3 * 72) << "count word and elements of the farm's layout";
  EXPECT_EQ(array.ChangeSize(5), 5u);
  EXPECT_EQ(Text(array[2]), u"s2");
  EXPECT_TRUE(array[3].IsEmpty());
  EXPECT_TRUE(static_cast<const Strings&>(array)[4].IsEmpty()) << "a slot never reached reads as empty";
  EXPECT_THROW(array[5], VORN_OutOfBoundsException);
  EXPECT_THROW(static_cast<const Strings&>(array)[5], VORN_OutOfBoundsException);

  const auto blocks_before_shrink = LiveHeapBlocks();
  EXPECT_EQ(array.ChangeSize(2), 2u);
  EXPECT_EQ(Text(array[1]), u"s1");
  EXPECT_EQ(LiveHeapBlocks(), blocks_before_shrink - 1) << "\"s2\" goes; the storage is replaced one for one";
  EXPECT_EQ(array.ChangeSize(0), 0u);
  EXPECT_EQ(LiveHeapBlocks(), blocks_before) << "storage and texts are released";
}

TEST(SimpleArrayTest, AccountRecordsKeepNameAndKindWhenGrowing) {
  VORN_SimpleArray<UM_AccountInfo> accounts;
  ASSERT_EQ(accounts.ChangeSize(1), 1u);
  accounts[0].name = u"cn=alice";
  accounts[0].kind = feroq::kAccountKindGroup;
  ASSERT_EQ(accounts.ChangeSize(2), 2u);
  EXPECT_EQ(Text(accounts[0].name), u"cn=alice");
  EXPECT_EQ(accounts[0].kind, feroq::kAccountKindGroup);
  EXPECT_TRUE(accounts[1].name.IsEmpty());
}

TEST(SimpleArrayTest, SizeBeyondThirtyTwoBitsFailsAndEmptiesTheArray) {
  VORN_SimpleArray<ULONG> words;
  ASSERT_EQ(words.ChangeSize(3), 3u);
  EXPECT_EQ(words.ChangeSize(1u << 30), 0u);
  EXPECT_EQ(words.GetDataSize(), 4u);
  EXPECT_THROW(words[0], VORN_OutOfBoundsException);
  EXPECT_EQ(words.ChangeSize(3), 3u) << "the array is usable again";
}

TEST(SimpleArrayTest, AssignmentCopiesCountAndTexts) {
  Strings source;
  FillStrings(source, 3);
  Strings target;
  FillStrings(target, 5);
  target = source;
  ASSERT_EQ(target.Count(), 3u);
  EXPECT_EQ(Text(target[2]), u"s2");
  EXPECT_NE(target[0].m_string, source[0].m_string) << "texts are copied, not shared";

  Strings& same = target;  // through a reference: the compiler allows it
  target = same;
  EXPECT_EQ(Text(target[2]), u"s2");

  target = Strings();
  EXPECT_THROW(target[0], VORN_OutOfBoundsException);
}

TEST(SimpleArrayTest, ChangeSizeEmptiesTheArrayWhenAnyAllocationFails) {
  // Allocation 1 is the new storage, the following ones copy the kept texts.
  const auto blocks_before = LiveHeapBlocks();
  std::optional<Strings> array;
  auto fresh = [&] {
    array.emplace();
    FillStrings(*array, 3);
  };
  fresh();
  ULONG result = 0;
  const int failures = feroq::testing::ForEachAllocationFailure(
      [&] { result = array->ChangeSize(5); },
      [&](bool failed) {
        EXPECT_EQ(result, failed ? 0u : 5u);
        EXPECT_EQ(array->Count(), result);
        if (failed) {
          EXPECT_EQ(array->ChangeSize(2), 2u) << "the array is usable again";
        }
        array.reset();
        EXPECT_EQ(LiveHeapBlocks(), blocks_before);
        fresh();
      });
  EXPECT_EQ(failures, 4);  // the storage and three texts
}

TEST(SimpleArrayTest, FailedAssignmentKeepsTheCountButNoStorage) {
  Strings source;
  FillStrings(source, 3);
  Strings target;
  FillStrings(target, 1);
  feroq::platform::FailAllocationAt(1);
  EXPECT_THROW(target = source, std::bad_alloc);
  feroq::platform::ClearAllocationFailure();
  EXPECT_EQ(target.Count(), 3u);
  EXPECT_THROW(target[0], VORN_OutOfBoundsException);
  EXPECT_EQ(target.ChangeSize(2), 2u);
  EXPECT_TRUE(target[0].IsEmpty());
}

}  // namespace
