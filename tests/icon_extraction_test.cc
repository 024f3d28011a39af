// Reading application icons from icon files and executables: one case per
// decoding branch, the choice among an icon's images, scaling and colour
// matching, icon groups of PE32 and PE32+ files, and the file-level cases.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/platform.h"
#include "support/icon_samples.h"
#include "support/temp_files.h"

namespace {

using feroq::platform::IconExtractResult;
using feroq::platform::kIconFailed;
using feroq::platform::kIconUnreadable;
using feroq::platform::kIconNotAnIconFile;
using feroq::platform::kIconOk;
using namespace feroq::testing;

struct Extracted {
  IconExtractResult result = kIconUnreadable;
  BYTE mask[128];
  BYTE colors[512];

  bool Transparent(int x, int y) const { return (mask[y * 4 + x / 8] & (0x80 >> (x % 8))) != 0; }
  int ColorIndex(int x, int y) const { return (colors[y * 16 + x / 2] >> (x % 2 == 0 ? 4 : 0)) & 0x0F; }
};

Extracted Extract(const Bytes& file, LONG index = 0) {
  Extracted out;
  std::memset(out.mask, 0xA5, sizeof(out.mask));
  out.result = feroq::platform::ExtractIcon32FromBytes(file.data(), file.size(), index, out.mask, out.colors);
  return out;
}

int StandardIndex(const Color& color) {
  for (int i = 0; i < 16; ++i) {
    const Color c = StandardColor(i);
    if (c.red == color.red && c.green == color.green && c.blue == color.blue) return i;
  }
  return -1;
}

// Expects `picture` (of standard colours; alpha below 128 is transparent),
// each source pixel `scale` x `scale` output pixels.
void ExpectPicture(const Extracted& icon, const Picture& picture, int scale = 1) {
  ASSERT_EQ(icon.result, kIconOk);
  for (int y = 0; y < 32; ++y) {
    for (int x = 0; x < 32; ++x) {
      const Color expected = picture(x / scale, y / scale);
      ASSERT_EQ(icon.ColorIndex(x, y), StandardIndex(expected)) << "pixel (" << x << "," << y << ")";
      ASSERT_EQ(icon.Transparent(x, y), expected.alpha < 128) << "pixel (" << x << "," << y << ")";
    }
  }
}

Picture Uniform(Color color) {
  return [color](int, int) { return color; };
}
Picture Uniform(int index) { return Uniform(StandardColor(index)); }

// ---- Image kinds ------------------------------------------------------------

TEST(IconImageTest, EveryDepthAndTransparencySourceIsReadPixelForPixel) {
  const Picture two_colours = [](int x, int y) {
    Color c = (x + y) % 3 == 0 ? StandardColor(4) : StandardColor(15);
    c.alpha = x == y ? 0 : 255;
    return c;
  };
  const Picture opaque = [](int x, int y) {
    Color c = PatternPicture(9)(x, y);
    c.alpha = 255;
    return c;
  };
  struct Case {
    const char* what;
    IconImage image;
    Picture expected;
  };
  const Case cases[] = {
      {"1 bpp", DibImage(32, 32, 1, two_colours), two_colours},
      {"4 bpp", DibImage(32, 32, 4, PatternPicture(1)), PatternPicture(1)},
      {"8 bpp", DibImage(32, 32, 8, PatternPicture(2)), PatternPicture(2)},
      {"24 bpp", DibImage(32, 32, 24, PatternPicture(3)), PatternPicture(3)},
      {"32 bpp, AND mask and alpha", DibImage(32, 32, 32, PatternPicture(4)), PatternPicture(4)},
      {"32 bpp, alpha only", DibImage(32, 32, 32, PatternPicture(5), MaskKind::kNoAndMask), PatternPicture(5)},
      {"32 bpp, alpha, zero AND mask", DibImage(32, 32, 32, PatternPicture(6), MaskKind::kZeroAndMask),
       PatternPicture(6)},
      {"32 bpp, AND mask, no alpha", DibImage(32, 32, 32, PatternPicture(7), MaskKind::kNoAlpha), PatternPicture(7)},
      {"32 bpp, neither: opaque", DibImage(32, 32, 32, PatternPicture(9), MaskKind::kNoAlphaNoAndMask), opaque},
      {"PNG", PngImage(32, 32, PatternPicture(8)), PatternPicture(8)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ExpectPicture(Extract(MakeIco({c.image})), c.expected);
  }
}

TEST(IconImageTest, AnAndMaskWithBitsSetWinsOverAnOpaqueAlphaChannel) {
  Bytes ico = MakeIco({DibImage(32, 32, 32, PatternPicture(4))});
  for (std::size_t pixel = 0; pixel < 32 * 32; ++pixel) ico[22 + 40 + pixel * 4 + 3] = 255;
  ExpectPicture(Extract(ico), PatternPicture(4));
}

TEST(IconImageTest, PaletteIndexBeyondThePaletteShowsBlack) {
  Bytes ico = MakeIco({DibImage(32, 32, 4, Uniform(15))});
  // One palette entry (white, index 0); the top row is stored last.
  ico[22 + 40 + 4 + 31 * 16] = 0x50;  // pixel (0,0): index 5, pixel (1,0): index 0
  const Extracted icon = Extract(ico);
  ASSERT_EQ(icon.result, kIconOk);
  EXPECT_EQ(icon.ColorIndex(0, 0), 0);
  EXPECT_EQ(icon.ColorIndex(1, 0), 15);
}

TEST(IconImageTest, ColoursMatchTheNearestPaletteEntryLowerIndexOnTies) {
  struct Sample {
    Color color;
    int index;
  };
  const Sample samples[] = {
      {{200, 200, 200}, 8},  // light grey
      {{100, 0, 0}, 1},      // nearer dark red than black
      {{160, 160, 160}, 7},  // as far from grey as from light grey: grey
      {{64, 0, 0}, 0},       // as far from black as from dark red: black
  };
  const Picture picture = [&](int x, int) { return samples[x % 4].color; };
  const Extracted icon = Extract(MakeIco({DibImage(32, 32, 24, picture)}));
  ASSERT_EQ(icon.result, kIconOk);
  for (int x = 0; x < 4; ++x) EXPECT_EQ(icon.ColorIndex(x, 5), samples[x].index) << "column " << x;
}

// ---- Choice of image, scaling -------------------------------------------------

TEST(IconChoiceTest, ExactSizeWithTheDeepestColourWinsThenTheNearestAndLargerSize) {
  ExpectPicture(Extract(MakeIco({DibImage(16, 16, 8, PatternPicture(1)), DibImage(32, 32, 4, PatternPicture(2)),
                                 DibImage(32, 32, 32, PatternPicture(3)), DibImage(32, 32, 8, PatternPicture(4)),
                                 DibImage(48, 48, 32, PatternPicture(5))})),
                PatternPicture(3));
  // 16 is nearer to 32 than 64: the 16 x 16 image is enlarged pixel for pixel.
  ExpectPicture(Extract(MakeIco({DibImage(64, 64, 32, PatternPicture(1)), DibImage(16, 16, 8, PatternPicture(2))})),
                PatternPicture(2), 2);
  // 16 and 48 are as near: the larger one.
  ExpectPicture(Extract(MakeIco({DibImage(16, 16, 32, Uniform(9)), DibImage(48, 48, 4, Uniform(12))})), Uniform(12));
}

TEST(IconChoiceTest, UnreadableImagesArePassedOver) {
  Bytes broken = MakeDib(32, 32, 32, PatternPicture(1));
  broken[16] = 1;  // run-length compression: not read
  ExpectPicture(Extract(MakeIco({IconImage{32, 32, 32, broken}, DibImage(16, 16, 4, PatternPicture(2))})),
                PatternPicture(2), 2);
  EXPECT_EQ(Extract(MakeIco({IconImage{32, 32, 32, broken}})).result, kIconUnreadable);
}

TEST(IconScalingTest, ShrinkingAveragesEachBoxWeightedByAlpha) {
  ExpectPicture(Extract(MakeIco({DibImage(64, 64, 32, PatternPicture(7, 2))})), PatternPicture(7));
  // A black and white checkerboard averages to grey, which nearest-neighbour
  // would not give.
  ExpectPicture(Extract(MakeIco({DibImage(64, 64, 1, [](int x, int y) {
                  return (x + y) % 2 == 0 ? StandardColor(0) : StandardColor(15);
                })})),
                Uniform(7));
  // In each 2 x 2 box one transparent cyan pixel and three opaque red ones:
  // weighted by alpha the box is red (a plain average would be dark red).
  ExpectPicture(Extract(MakeIco({DibImage(64, 64, 32, [](int x, int y) {
                  return x % 2 == 0 && y % 2 == 0 ? Color{0, 255, 255, 0} : Color{255, 0, 0, 255};
                }, MaskKind::kNoAndMask)})),
                Uniform(9));
  // Two of four transparent: the box's mean alpha is below half.
  ExpectPicture(Extract(MakeIco({PngImage(64, 64, [](int x, int) {
                  return Color{0, 0, 255, static_cast<BYTE>(x % 2 == 0 ? 0 : 255)};
                })})),
                Uniform(Color{0, 0, 255, 0}));
}

// ---- Icon files and executables -----------------------------------------------

TEST(IconFileIndexTest, AnIconFileHoldsOnlyIconZero) {
  const Bytes ico = MakeIco({DibImage(32, 32, 4, PatternPicture(1))});
  ExpectPicture(Extract(ico, 0), PatternPicture(1));
  for (LONG index : {1, -1}) {
    SCOPED_TRACE(index);
    const Extracted icon = Extract(ico, index);
    EXPECT_EQ(icon.result, kIconNotAnIconFile);
    EXPECT_EQ(icon.mask[0], 0xA5);  // untouched
  }
}

class PeIconTest : public ::testing::TestWithParam<bool> {
 protected:
  Bytes OneGroup() const { return MakePe(GetParam(), {IconGroup{u"", 1, {DibImage(32, 32, 4, PatternPicture(1))}}}); }
};

TEST_P(PeIconTest, IndexCountsGroupsNamedFirstAndNegativeIndexSelectsByNumber) {
  // Named group "APP" (two sizes), then groups 5 and 9.
  const Bytes pe = MakePe(GetParam(), {IconGroup{u"APP", 0, {DibImage(16, 16, 8, PatternPicture(9)),
                                                             DibImage(32, 32, 4, PatternPicture(1))}},
                                       IconGroup{u"", 5, {DibImage(32, 32, 32, PatternPicture(2))}},
                                       IconGroup{u"", 9, {PngImage(32, 32, PatternPicture(3))}}});
  ExpectPicture(Extract(pe, 0), PatternPicture(1));
  ExpectPicture(Extract(pe, 1), PatternPicture(2));
  ExpectPicture(Extract(pe, 2), PatternPicture(3));
  ExpectPicture(Extract(pe, -9), PatternPicture(3));
  const LONG missing_indexes[] = {3, -6, -2, static_cast<LONG>(0x80000000u)};
  for (LONG missing : missing_indexes) {
    SCOPED_TRACE(missing);
    EXPECT_EQ(Extract(pe, missing).result, kIconNotAnIconFile);
  }
  // -1 asks for the number of icons, which is no icon.
  EXPECT_EQ(Extract(pe, -1).result, kIconFailed);
  EXPECT_EQ(Extract(OneGroup(), -1).result, kIconNotAnIconFile);
}

TEST_P(PeIconTest, ExecutablesWithoutIconsHaveNone) {
  EXPECT_EQ(Extract(MakePe(GetParam(), {}), 0).result, kIconNotAnIconFile);
  // No resource directory at all.
  Bytes bare = OneGroup();
  std::memset(bare.data() + kPeHeaderOffset + 24 + (GetParam() ? 112 : 96) + 16, 0, 8);
  EXPECT_EQ(Extract(bare, 0).result, kIconNotAnIconFile);
  // "MZ" without a PE header (a DOS program).
  bare[kPeHeaderOffset] = 'N';
  EXPECT_EQ(Extract(bare, 0).result, kIconNotAnIconFile);
}

TEST_P(PeIconTest, GroupWhoseIconsAreMissingCannotBeRead) {
  Bytes pe = OneGroup();
  pe[kPeResourceOffset + 32 + 16] = 77;  // renumbers icon 1, the icon directory's first entry
  EXPECT_EQ(Extract(pe, 0).result, kIconUnreadable);
}

INSTANTIATE_TEST_SUITE_P(Pe32AndPe32Plus, PeIconTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Pe32Plus" : "Pe32"; });

// ---- Files on disk --------------------------------------------------------------
// On Windows ExtractIcon32 is the shell's ExtractIconW with the icon's
// bitmaps read back through GetIconInfo and GetDIBits; the same files give
// the same icons and the same answers as the portable readers on POSIX.

Extracted ExtractFile(const ScratchDir& dir, const std::string& name, LONG index = 0) {
  Extracted icon;
  std::memset(icon.mask, 0xA5, sizeof(icon.mask));
  icon.result = feroq::platform::ExtractIcon32(dir.WideFile(name).c_str(), index, icon.mask, icon.colors);
  return icon;
}

TEST(IconFileOnDiskTest, IconFilesExecutablesAndFilesWithoutIcons) {
  ScratchDir dir;
  ASSERT_TRUE(WriteBytes(dir.File("icon.ico"), MakeIco({DibImage(32, 32, 4, PatternPicture(1))})));
  ExpectPicture(ExtractFile(dir, "icon.ico"), PatternPicture(1));
  EXPECT_EQ(ExtractFile(dir, "icon.ico", -1).result, kIconNotAnIconFile);
  // Groups 5 and 9 of a PE32+ file: by position, by resource number, and
  // the count request.
  ASSERT_TRUE(WriteBytes(dir.File("tool.exe"),
                         MakePe(true, {IconGroup{u"", 5, {DibImage(32, 32, 4, PatternPicture(2))}},
                                       IconGroup{u"", 9, {DibImage(32, 32, 4, PatternPicture(3))}}})));
  ExpectPicture(ExtractFile(dir, "tool.exe", 1), PatternPicture(3));
  ExpectPicture(ExtractFile(dir, "tool.exe", -5), PatternPicture(2));
  EXPECT_EQ(ExtractFile(dir, "tool.exe", -1).result, kIconFailed);
  ASSERT_TRUE(WriteBytes(dir.File("text.txt"), Bytes{'h', 'e', 'l', 'l', 'o', '\n'}));
  for (const char* name : {"text.txt", "missing.ico", ""}) {  // "": the directory
    EXPECT_EQ(ExtractFile(dir, name).result, kIconNotAnIconFile) << name;
  }
  BYTE mask[128];
  BYTE colors[512];
  EXPECT_EQ(feroq::platform::ExtractIcon32(nullptr, 0, mask, colors), kIconNotAnIconFile);
}

#if !defined(_WIN32)
// The portable readers' own bounds on what they read (the shell sets its own).
TEST(IconFileOnDiskTest, ReadsRegularFilesUpToTheSizeLimitOnly) {
  ScratchDir dir;
  ASSERT_TRUE(WriteBytes(dir.File("icon.ico"), MakeIco({DibImage(32, 32, 4, PatternPicture(1))})));
  ASSERT_EQ(mkfifo(dir.File("pipe").c_str(), 0600), 0);
  EXPECT_EQ(ExtractFile(dir, "pipe").result, kIconNotAnIconFile) << "refused without waiting for a writer";

  // A sparse file that starts as an icon file.
  const auto limit = static_cast<off_t>(feroq::platform::kMaxIconSourceBytes);
  ASSERT_EQ(truncate(dir.File("icon.ico").c_str(), limit + 1), 0);
  EXPECT_EQ(ExtractFile(dir, "icon.ico").result, kIconUnreadable);
  ASSERT_EQ(truncate(dir.File("icon.ico").c_str(), limit), 0);
  EXPECT_EQ(ExtractFile(dir, "icon.ico").result, kIconOk);
}
#endif

}  // namespace
