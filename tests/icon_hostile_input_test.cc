// Damaged and hostile icon sources: every one gives a failure code (or, where
// the damage leaves a readable icon, success), never a crash, a read outside
// the input, a huge allocation or a hang; the output stays untouched unless
// the result is kIconOk. Run under AddressSanitizer and UBSan as well.
// Random damage is the icon fuzzer's (its corpus is replayed by every
// build); here each case guards one check.
#include <gtest/gtest.h>

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

void PutU32(Bytes& bytes, std::size_t at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<BYTE>(value >> (8 * i));
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

TEST(HostileIconTest, IcoDirectoriesThatLie) {
  const Bytes good = MakeIco({DibImage(32, 32, 4, PatternPicture(1))});
  Bytes offset_beyond = good;
  PutU32(offset_beyond, 18, 0x7FFFFFF0u);
  EXPECT_EQ(ExtractChecked(offset_beyond), kIconUnreadable);
  Bytes huge_count = good;
  huge_count[4] = 0xFF;
  huge_count[5] = 0xFF;
  EXPECT_EQ(ExtractChecked(huge_count), kIconUnreadable);
  Bytes huge_size = good;
  PutU32(huge_size, 14, 0xFFFFFFFFu);  // cut at the end of the file: still readable
  EXPECT_EQ(ExtractChecked(huge_size), kIconOk);
}

TEST(HostileIconTest, BitmapHeadersThatLie) {
  struct Damage {
    const char* what;
    std::size_t at;  // in the bitmap header
    std::uint32_t value;
  };
  const Damage damages[] = {
      {"zero width", 4, 0},
      {"width beyond the largest side", 4, 100000},
      {"height of one row (half is 0)", 8, 1},
      {"huge height", 8, 0x7FFFFFFEu},
      {"top-down height", 8, 0xFFFFFFC0u},
      {"header size beyond the image", 0, 0x10000},
      {"header size too small", 0, 12},
      {"palette of 2^32 entries", 32, 0xFFFFFFFFu},
      {"16 bits per pixel", 14, 16},
  };
  for (const Damage& d : damages) {
    SCOPED_TRACE(d.what);
    Bytes ico = MakeIco({DibImage(32, 32, 8, PatternPicture(1))});
    if (d.at == 14) {
      ico[22 + 14] = static_cast<BYTE>(d.value);
      ico[22 + 15] = 0;
    } else {
      PutU32(ico, 22 + d.at, d.value);
    }
    EXPECT_EQ(ExtractChecked(ico), kIconUnreadable);
  }
}

TEST(HostileIconTest, DamagedPngStreams) {
  const Bytes png = MakePng(32, 32, PatternPicture(1));
  Bytes bad_crc = png;
  bad_crc[png.size() - 20] ^= 0x40;  // inside the compressed data
  EXPECT_EQ(ExtractChecked(MakeIco({IconImage{32, 32, 32, bad_crc}})), kIconUnreadable);
  // A header promising a huge image is refused before anything is allocated.
  Bytes huge = png;
  huge[16] = 0x00;
  huge[17] = 0x10;  // width 0x100000 (the header's CRC is now wrong too)
  EXPECT_EQ(ExtractChecked(MakeIco({IconImage{32, 32, 32, huge}})), kIconUnreadable);
  Bytes bad_type = png;
  bad_type[25] = 5;
  EXPECT_EQ(ExtractChecked(MakeIco({IconImage{32, 32, 32, bad_type}})), kIconUnreadable);
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

TEST_P(HostilePeTest, ResourceTreesThatPointBackIntoThemselves) {
  Bytes pe = Pe();
  ASSERT_EQ(ExtractChecked(pe), kIconOk);
  Bytes loop = pe;
  PutU32(loop, kRootGroupTarget, 0x80000000u);  // the group type's directory is the root
  EXPECT_EQ(ExtractChecked(loop), kIconUnreadable);
  Bytes self = pe;
  PutU32(self, kGroupEntryTarget, 0x80000000u | static_cast<std::uint32_t>(kGroupDirectory - kPeResourceOffset));
  EXPECT_EQ(ExtractChecked(self), kIconUnreadable);
  Bytes beyond = pe;
  PutU32(beyond, kGroupEntryTarget, 0xFFFFFFF0u);
  EXPECT_EQ(ExtractChecked(beyond), kIconUnreadable);
}

TEST_P(HostilePeTest, HeadersThatLie) {
  const Bytes pe = Pe();
  Bytes sections = pe;
  sections[kFileHeader + 2] = 0xFF;
  sections[kFileHeader + 3] = 0xFF;
  EXPECT_EQ(ExtractChecked(sections), kIconUnreadable);
  Bytes magic = pe;
  magic[kFileHeader + 20] = 0x07;
  EXPECT_EQ(ExtractChecked(magic), kIconUnreadable);
  Bytes pe_offset = pe;
  PutU32(pe_offset, 0x3C, 0xFFFFFFFEu);
  EXPECT_EQ(ExtractChecked(pe_offset), kIconNotAnIconFile);
  Bytes group_count = pe;
  group_count[kGroupDirectory + 14] = 0xFF;
  group_count[kGroupDirectory + 15] = 0xFF;
  EXPECT_EQ(ExtractChecked(group_count), kIconUnreadable);
  EXPECT_EQ(ExtractChecked(group_count, -1), kIconUnreadable);
  // The section's raw data said to reach beyond the file.
  const std::size_t section = kPeHeaderOffset + 24 + (GetParam() ? 240 : 224);
  Bytes raw_size = pe;
  PutU32(raw_size, section + 16, 0x7FFFFFFFu);
  EXPECT_EQ(ExtractChecked(raw_size), kIconOk);  // the data still lie inside the file
  Bytes raw_offset = pe;
  PutU32(raw_offset, section + 20, 0xFFFFFF00u);
  EXPECT_EQ(ExtractChecked(raw_offset), kIconUnreadable);
}

INSTANTIATE_TEST_SUITE_P(Pe32AndPe32Plus, HostilePeTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Pe32Plus" : "Pe32"; });

}  // namespace
