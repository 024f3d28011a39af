// Damaged and hostile icon sources: every one gives a failure code (or, where
// the damage leaves a readable icon, success), never a crash, a read outside
// the input, a huge allocation or a hang; the output stays untouched unless
// the result is kIconOk. Run under AddressSanitizer and UBSan as well.
// Random damage is the icon fuzzer's (its corpus is replayed by every
// build); here each case guards one check.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "platform/platform.h"
#include "support/icon_samples.h"

namespace {

using feroq::platform::IconExtractResult;
using feroq::platform::kIconUnreadable;
using feroq::platform::kIconNotAnIconFile;
using feroq::platform::kIconOk;
using namespace feroq::testing;

constexpr BYTE kUntouched = 0xA5;

// Extracts from `file` and checks the contract that holds for any input.
IconExtractResult ExtractChecked(const Bytes& file, LONG index = 0) {
  BYTE mask[128];
  BYTE colors[512];
  std::memset(mask, kUntouched, sizeof(mask));
  std::memset(colors, kUntouched, sizeof(colors));
  // A copy of exactly the input's size, so that AddressSanitizer sees any
  // read past its end.
  Bytes exact(file);
  const IconExtractResult result =
      feroq::platform::ExtractIcon32FromBytes(exact.data(), exact.size(), index, mask, colors);
  EXPECT_TRUE(result == kIconOk || result == kIconNotAnIconFile || result == kIconUnreadable) << result;
  if (result != kIconOk) {
    bool untouched = true;
    for (BYTE b : mask) untouched = untouched && b == kUntouched;
    for (BYTE b : colors) untouched = untouched && b == kUntouched;
    EXPECT_TRUE(untouched) << "output written on failure";
  }
  return result;
}

Bytes SampleIco() {
  return MakeIco({DibImage(16, 16, 8, PatternPicture(1)), DibImage(32, 32, 4, PatternPicture(2)),
                  PngImage(32, 32, PatternPicture(3)), DibImage(48, 48, 32, PatternPicture(4))});
}

Bytes SamplePe(bool pe32_plus) {
  return MakePe(pe32_plus, {IconGroup{u"MAIN", 0, {DibImage(32, 32, 24, PatternPicture(1))}},
                            IconGroup{u"", 2, {DibImage(16, 16, 1, [](int x, int) {
                                                 return x % 2 ? StandardColor(0) : StandardColor(15);
                                               }),
                                               PngImage(32, 32, PatternPicture(2))}}});
}

// Damage to a file: `bytes` written at `at`, and the result it must give.
struct Damage {
  const char* what;
  std::size_t at;
  Bytes bytes;
  IconExtractResult expected = kIconUnreadable;
  LONG index = 0;
};

void ExpectDamage(const Bytes& good, const Damage& damage) {
  SCOPED_TRACE(damage.what);
  Bytes file = good;
  std::copy(damage.bytes.begin(), damage.bytes.end(), file.begin() + static_cast<std::ptrdiff_t>(damage.at));
  EXPECT_EQ(ExtractChecked(file, damage.index), damage.expected);
}

TEST(HostileIconTest, TruncationAtEveryLength) {
  for (const Bytes& whole : {SampleIco(), SamplePe(false), SamplePe(true)}) {
    ASSERT_EQ(ExtractChecked(whole, 0), kIconOk);
    for (std::size_t length = 0; length < whole.size(); ++length) {
      SCOPED_TRACE(length);
      const IconExtractResult result = ExtractChecked(Bytes(whole.begin(), whole.begin() + length), 0);
      if (length < 2) {
        EXPECT_EQ(result, kIconNotAnIconFile) << "too short to tell the kind of file";
      }
      if (::testing::Test::HasFailure()) return;
    }
  }
}

TEST(HostileIconTest, IcoDirectoriesAndBitmapHeadersThatLie) {
  constexpr std::size_t kHeader = 22;  // the bitmap header of the only image
  const Damage damages[] = {
      {"image offset beyond the file", 18, {0xF0, 0xFF, 0xFF, 0x7F}},
      {"image count beyond the directory", 4, {0xFF, 0xFF}},
      {"image size beyond the file: cut at its end", 14, {0xFF, 0xFF, 0xFF, 0xFF}, kIconOk},
      {"zero width", kHeader + 4, {0, 0, 0, 0}},
      {"width beyond the largest side", kHeader + 4, {0xA0, 0x86, 0x01, 0}},
      {"height of one row (half is 0)", kHeader + 8, {1, 0, 0, 0}},
      {"huge height", kHeader + 8, {0xFE, 0xFF, 0xFF, 0x7F}},
      {"top-down height", kHeader + 8, {0xC0, 0xFF, 0xFF, 0xFF}},
      {"header size beyond the image", kHeader, {0, 0, 1, 0}},
      {"header size too small", kHeader, {12, 0, 0, 0}},
      {"palette of 2^32 entries", kHeader + 32, {0xFF, 0xFF, 0xFF, 0xFF}},
      {"16 bits per pixel", kHeader + 14, {16, 0}},
  };
  const Bytes good = MakeIco({DibImage(32, 32, 8, PatternPicture(1))});
  for (const Damage& damage : damages) ExpectDamage(good, damage);
  // A damaged image is passed over for another of the file.
  ExpectDamage(MakeIco({DibImage(32, 32, 8, PatternPicture(1)), DibImage(64, 64, 8, PatternPicture(1))}),
               {"zero width, beside a good image", 38 + 4, {0, 0, 0, 0}, kIconOk});
}

TEST(HostileIconTest, DamagedPngStreams) {
  const Bytes png = MakePng(32, 32, PatternPicture(1));
  const std::size_t image = 22;  // where the icon file holds the stream
  const std::size_t in_data = png.size() - 20;
  const Damage damages[] = {
      {"compressed data that fail their CRC", image + in_data, {static_cast<BYTE>(png[in_data] ^ 0x40)}},
      // Refused before anything is allocated (the header's CRC is wrong too).
      {"width 0x100000", image + 16, {0x00, 0x10}},
      {"unknown colour type", image + 25, {5}},
  };
  for (const Damage& damage : damages) ExpectDamage(MakeIco({IconImage{32, 32, 32, png}}), damage);
}

class HostilePeTest : public ::testing::TestWithParam<bool> {
 protected:
  Bytes Pe() const { return MakePe(GetParam(), {IconGroup{u"", 1, {DibImage(32, 32, 4, PatternPicture(1))}}}); }
  static constexpr std::size_t kFileHeader = kPeHeaderOffset + 4;
  // Offsets in the resource tree of Pe(): the root's entries, the group
  // directory, its entry.
  static constexpr std::size_t kRootGroupTarget = kPeResourceOffset + 28;
  static constexpr std::size_t kGroupDirectory = kPeResourceOffset + 32 + 16 + 8;
  static constexpr std::size_t kGroupEntryTarget = kGroupDirectory + 16 + 4;
};

TEST_P(HostilePeTest, ResourceTreesAndHeadersThatLie) {
  // The section's raw data said to reach beyond the file: the data still lie inside it.
  const std::size_t section = kPeHeaderOffset + 24 + (GetParam() ? 240 : 224);
  const BYTE group_directory = static_cast<BYTE>(kGroupDirectory - kPeResourceOffset);
  const Damage damages[] = {
      {"the group type's directory is the root", kRootGroupTarget, {0, 0, 0, 0x80}},
      {"a group entry pointing at its own directory", kGroupEntryTarget, {group_directory, 0, 0, 0x80}},
      {"a group entry beyond the tree", kGroupEntryTarget, {0xF0, 0xFF, 0xFF, 0xFF}},
      {"65535 sections", kFileHeader + 2, {0xFF, 0xFF}},
      {"unknown optional header", kFileHeader + 20, {0x07}},
      {"PE header offset beyond the file", 0x3C, {0xFE, 0xFF, 0xFF, 0xFF}, kIconNotAnIconFile},
      {"65535 groups", kGroupDirectory + 14, {0xFF, 0xFF}},
      {"65535 groups, counted", kGroupDirectory + 14, {0xFF, 0xFF}, kIconUnreadable, -1},
      {"raw size beyond the file", section + 16, {0xFF, 0xFF, 0xFF, 0x7F}, kIconOk},
      {"raw size short of the last resource", section + 16, {0x8E, 0x03, 0, 0}},
      {"raw offset beyond the file", section + 20, {0x00, 0xFF, 0xFF, 0xFF}},
  };
  const Bytes pe = Pe();
  ASSERT_EQ(ExtractChecked(pe), kIconOk);
  for (const Damage& damage : damages) ExpectDamage(pe, damage);
}

INSTANTIATE_TEST_SUITE_P(Pe32AndPe32Plus, HostilePeTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Pe32Plus" : "Pe32"; });

}  // namespace
