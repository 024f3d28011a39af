// Reading application icons from icon files and executables: decoding of
// every image kind, the choice among an icon's images, scaling and colour
// matching, icon groups of PE32 and PE32+ files, and the file-level cases.
#include <fcntl.h>
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
using feroq::testing::ScratchDir;

struct Extracted {
  IconExtractResult result = kIconUnreadable;
  BYTE mask[128];
  BYTE colors[512];

  bool Transparent(int x, int y) const { return (mask[y * 4 + x / 8] & (0x80 >> (x % 8))) != 0; }
  int ColorIndex(int x, int y) const {
    const BYTE byte = colors[y * 16 + x / 2];
    return x % 2 == 0 ? byte >> 4 : byte & 0x0F;
  }
};

Extracted Extract(const Bytes& file, LONG index = 0) {
  Extracted out;
  std::memset(out.mask, 0xA5, sizeof(out.mask));
  std::memset(out.colors, 0xA5, sizeof(out.colors));
  out.result = feroq::platform::ExtractIcon32FromBytes(file.data(), file.size(), index, out.mask, out.colors);
  return out;
}

// Expects the 32 x 32 pattern `seed`, each source pixel `scale` x `scale`
// output pixels.
void ExpectPattern(const Extracted& icon, int seed, int scale = 1) {
  ASSERT_EQ(icon.result, kIconOk);
  int wrong = 0;
  for (int y = 0; y < 32; ++y) {
    for (int x = 0; x < 32; ++x) {
      const bool ok = icon.ColorIndex(x, y) == PatternIndex(x / scale, y / scale, seed) &&
                      icon.Transparent(x, y) == PatternTransparent(x / scale, y / scale, seed);
      if (!ok && wrong++ < 3) {
        ADD_FAILURE() << "pixel (" << x << "," << y << "): index " << icon.ColorIndex(x, y) << " transparent "
                      << icon.Transparent(x, y) << ", expected " << PatternIndex(x / scale, y / scale, seed)
                      << " / " << PatternTransparent(x / scale, y / scale, seed);
      }
    }
  }
  EXPECT_EQ(wrong, 0);
}

// Expects every pixel to be palette `index` and opaque.
void ExpectUniform(const Extracted& icon, int index) {
  ASSERT_EQ(icon.result, kIconOk);
  for (int y = 0; y < 32; ++y) {
    for (int x = 0; x < 32; ++x) {
      ASSERT_EQ(icon.ColorIndex(x, y), index) << "pixel (" << x << "," << y << ")";
      ASSERT_FALSE(icon.Transparent(x, y)) << "pixel (" << x << "," << y << ")";
    }
  }
}

Picture Uniform(Color color) {
  return [color](int, int) { return color; };
}

// ---- Image kinds ------------------------------------------------------------

TEST(IconImageTest, BitmapsOfEveryDepthAndPngAreReadPixelForPixel) {
  struct Case {
    const char* what;
    IconImage image;
  };
  const Case cases[] = {
      {"4 bpp", DibImage(32, 32, 4, PatternPicture(1))},
      {"8 bpp", DibImage(32, 32, 8, PatternPicture(2))},
      {"24 bpp", DibImage(32, 32, 24, PatternPicture(3))},
      {"32 bpp with AND mask and alpha", DibImage(32, 32, 32, PatternPicture(4))},
      {"32 bpp, alpha only (no AND mask)", DibImage(32, 32, 32, PatternPicture(5), MaskKind::kNoAndMask)},
      {"32 bpp, alpha with an all-zero AND mask", DibImage(32, 32, 32, PatternPicture(6), MaskKind::kZeroAndMask)},
      {"32 bpp, AND mask with no alpha", DibImage(32, 32, 32, PatternPicture(7), MaskKind::kNoAlpha)},
      {"PNG", PngImage(32, 32, PatternPicture(8))},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const int seed = static_cast<int>(&c - cases) + 1;
    ExpectPattern(Extract(MakeIco({c.image})), seed);
  }
}

TEST(IconImageTest, OneBitImagesUseTheirTwoColourPalette) {
  const Picture picture = [](int x, int y) {
    Color c = (x + y) % 3 == 0 ? StandardColor(4) : StandardColor(15);
    c.alpha = x == y ? 0 : 255;
    return c;
  };
  const Extracted icon = Extract(MakeIco({DibImage(32, 32, 1, picture)}));
  ASSERT_EQ(icon.result, kIconOk);
  for (int y = 0; y < 32; ++y) {
    for (int x = 0; x < 32; ++x) {
      ASSERT_EQ(icon.ColorIndex(x, y), (x + y) % 3 == 0 ? 4 : 15) << x << "," << y;
      ASSERT_EQ(icon.Transparent(x, y), x == y) << x << "," << y;
    }
  }
}

TEST(IconImageTest, ThirtyTwoBitTransparencySources) {
  // Neither alpha nor AND mask: every pixel is opaque.
  Extracted icon = Extract(MakeIco({DibImage(32, 32, 32, PatternPicture(3), MaskKind::kNoAlphaNoAndMask)}));
  ASSERT_EQ(icon.result, kIconOk);
  for (int y = 0; y < 32; ++y) {
    for (int x = 0; x < 32; ++x) ASSERT_FALSE(icon.Transparent(x, y)) << x << "," << y;
  }

  // An AND mask with bits set wins over an alpha channel saying opaque.
  Bytes ico = MakeIco({DibImage(32, 32, 32, PatternPicture(4))});
  for (std::size_t pixel = 0; pixel < 32 * 32; ++pixel) ico[22 + 40 + pixel * 4 + 3] = 255;
  ExpectPattern(Extract(ico), 4);
}

TEST(IconImageTest, PaletteIndexBeyondThePaletteShowsBlack) {
  Bytes ico = MakeIco({DibImage(32, 32, 4, Uniform(StandardColor(15)))});
  // One palette entry (white, index 0); the top row is stored last.
  const std::size_t top_row = 22 + 40 + 4 + 31 * 16;
  ico[top_row] = 0x50;  // pixel (0,0): index 5, pixel (1,0): index 0
  const Extracted icon = Extract(ico);
  ASSERT_EQ(icon.result, kIconOk);
  EXPECT_EQ(icon.ColorIndex(0, 0), 0);
  EXPECT_EQ(icon.ColorIndex(1, 0), 15);
  EXPECT_EQ(icon.ColorIndex(0, 1), 15);
}

TEST(IconImageTest, ColoursMatchTheNearestPaletteEntryLowerIndexOnTies) {
  struct Sample {
    Color color;
    int index;
  };
  const Sample samples[] = {
      {{200, 200, 200}, 8},  // light grey
      {{100, 0, 0}, 1},      // nearer dark red than black
      {{250, 10, 10}, 9},    // red
      {{160, 160, 160}, 7},  // as far from grey as from light grey: grey
      {{64, 0, 0}, 0},       // as far from black as from dark red: black
      {{0, 0, 0}, 0},
      {{255, 255, 255}, 15},
      {{20, 240, 230}, 14},  // cyan
  };
  constexpr int kCount = sizeof(samples) / sizeof(samples[0]);
  const Picture picture = [&](int x, int) { return samples[x % kCount].color; };
  const Extracted icon = Extract(MakeIco({DibImage(32, 32, 24, picture)}));
  ASSERT_EQ(icon.result, kIconOk);
  for (int x = 0; x < 32; ++x) EXPECT_EQ(icon.ColorIndex(x, 5), samples[x % kCount].index) << "column " << x;
}

// ---- Choice of image, scaling -------------------------------------------------

TEST(IconChoiceTest, ExactSizeWithTheDeepestColourWins) {
  const Bytes ico = MakeIco({DibImage(16, 16, 8, PatternPicture(1)), DibImage(32, 32, 4, PatternPicture(2)),
                             DibImage(32, 32, 32, PatternPicture(3)), DibImage(32, 32, 8, PatternPicture(4)),
                             DibImage(48, 48, 32, PatternPicture(5))});
  ExpectPattern(Extract(ico), 3);
  const Bytes with_png = MakeIco({DibImage(32, 32, 8, PatternPicture(1)), PngImage(32, 32, PatternPicture(6))});
  ExpectPattern(Extract(with_png), 6);
}

TEST(IconChoiceTest, NearestSizeWinsAndTheLargerOneOnATie) {
  // 16 is nearer to 32 than 64: the 16 x 16 image is enlarged pixel for pixel.
  ExpectPattern(Extract(MakeIco({DibImage(64, 64, 32, PatternPicture(1)), DibImage(16, 16, 8, PatternPicture(2))})),
                2, 2);
  // 16 and 48 are as near: the larger one.
  ExpectUniform(Extract(MakeIco({DibImage(16, 16, 32, Uniform(StandardColor(9))),
                                 DibImage(48, 48, 4, Uniform(StandardColor(12)))})),
                12);
}

TEST(IconChoiceTest, UnreadableImagesArePassedOver) {
  Bytes broken = MakeDib(32, 32, 32, PatternPicture(1));
  broken[16] = 1;  // run-length compression: not read
  ExpectPattern(Extract(MakeIco({IconImage{32, 32, 32, broken}, DibImage(16, 16, 4, PatternPicture(2))})), 2, 2);
  EXPECT_EQ(Extract(MakeIco({IconImage{32, 32, 32, broken}})).result, kIconUnreadable);
}

TEST(IconScalingTest, ShrinkingAveragesEachBox) {
  // Blocks of 2 x 2 equal pixels shrink to the pattern itself.
  ExpectPattern(Extract(MakeIco({DibImage(64, 64, 32, PatternPicture(7, 2))})), 7);
  ExpectPattern(Extract(MakeIco({PngImage(64, 64, PatternPicture(8, 2))})), 8);
  // A black and white checkerboard averages to grey, which nearest-neighbour
  // would not give.
  ExpectUniform(Extract(MakeIco({DibImage(64, 64, 1, [](int x, int y) {
                  return (x + y) % 2 == 0 ? StandardColor(0) : StandardColor(15);
                })})),
                7);
}

TEST(IconScalingTest, AlphaWeightsColoursAndDecidesTransparency) {
  // In each 2 x 2 box one transparent cyan pixel and three opaque red ones:
  // weighted by alpha the box is red (a plain average would be dark red).
  const Picture one_clear = [](int x, int y) {
    return x % 2 == 0 && y % 2 == 0 ? Color{0, 255, 255, 0} : Color{255, 0, 0, 255};
  };
  ExpectUniform(Extract(MakeIco({DibImage(64, 64, 32, one_clear, MaskKind::kNoAndMask)})), 9);
  // Two of four transparent: the box's mean alpha is below half.
  const Picture half_clear = [](int x, int) {
    return x % 2 == 0 ? Color{0, 0, 255, 0} : Color{0, 0, 255, 255};
  };
  const Extracted icon = Extract(MakeIco({PngImage(64, 64, half_clear)}));
  ASSERT_EQ(icon.result, kIconOk);
  for (int y = 0; y < 32; ++y) {
    for (int x = 0; x < 32; ++x) {
      ASSERT_TRUE(icon.Transparent(x, y)) << x << "," << y;
      ASSERT_EQ(icon.ColorIndex(x, y), 12) << x << "," << y;
    }
  }
}

// ---- Icon files and executables -----------------------------------------------

TEST(IconFileIndexTest, AnIconFileHoldsOnlyIconZero) {
  const Bytes ico = MakeIco({DibImage(32, 32, 4, PatternPicture(1))});
  ExpectPattern(Extract(ico, 0), 1);
  for (LONG index : {1, 2, -1, -3}) {
    SCOPED_TRACE(index);
    const Extracted icon = Extract(ico, index);
    EXPECT_EQ(icon.result, kIconNotAnIconFile);
    EXPECT_EQ(icon.mask[0], 0xA5);  // untouched
  }
}

class PeIconTest : public ::testing::TestWithParam<bool> {
 protected:
  // Named group "APP" (two sizes), then groups 5 and 9.
  Bytes ThreeGroups() const {
    return MakePe(GetParam(), {IconGroup{u"APP", 0, {DibImage(16, 16, 8, PatternPicture(9)),
                                                     DibImage(32, 32, 4, PatternPicture(1))}},
                               IconGroup{u"", 5, {DibImage(32, 32, 32, PatternPicture(2))}},
                               IconGroup{u"", 9, {PngImage(32, 32, PatternPicture(3))}}});
  }
};

TEST_P(PeIconTest, IndexCountsGroupsNamedFirstAndNegativeIndexSelectsByNumber) {
  const Bytes pe = ThreeGroups();
  ExpectPattern(Extract(pe, 0), 1);
  ExpectPattern(Extract(pe, 1), 2);
  ExpectPattern(Extract(pe, 2), 3);
  ExpectPattern(Extract(pe, -5), 2);
  ExpectPattern(Extract(pe, -9), 3);
  for (LONG missing : {3, 100, -6, -2, static_cast<LONG>(0x80000000u)}) {
    SCOPED_TRACE(missing);
    EXPECT_EQ(Extract(pe, missing).result, kIconNotAnIconFile);
  }
}

TEST_P(PeIconTest, MinusOneAsksForTheCountWhichIsNoIcon) {
  EXPECT_EQ(Extract(ThreeGroups(), -1).result, kIconFailed);
  const Bytes one = MakePe(GetParam(), {IconGroup{u"", 1, {DibImage(32, 32, 4, PatternPicture(1))}}});
  EXPECT_EQ(Extract(one, -1).result, kIconNotAnIconFile);
  ExpectPattern(Extract(one, 0), 1);
}

TEST_P(PeIconTest, ExecutablesWithoutIconsHaveNone) {
  EXPECT_EQ(Extract(MakePe(GetParam(), {}), 0).result, kIconNotAnIconFile);
  // No resource directory at all.
  Bytes bare = MakePe(GetParam(), {IconGroup{u"", 1, {DibImage(32, 32, 4, PatternPicture(1))}}});
  const std::size_t directories = kPeHeaderOffset + 24 + (GetParam() ? 112 : 96);
  std::memset(bare.data() + directories + 16, 0, 8);
  EXPECT_EQ(Extract(bare, 0).result, kIconNotAnIconFile);
  // "MZ" without a PE header (a DOS program).
  Bytes dos = bare;
  dos[kPeHeaderOffset] = 'N';
  EXPECT_EQ(Extract(dos, 0).result, kIconNotAnIconFile);
}

TEST_P(PeIconTest, GroupWhoseIconsAreMissingCannotBeRead) {
  Bytes pe = MakePe(GetParam(), {IconGroup{u"", 1, {DibImage(32, 32, 4, PatternPicture(1))}}});
  // The icon directory holds icon 1 as its first entry; renumber it.
  pe[kPeResourceOffset + 32 + 16] = 77;
  EXPECT_EQ(Extract(pe, 0).result, kIconUnreadable);
}

INSTANTIATE_TEST_SUITE_P(Pe32AndPe32Plus, PeIconTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Pe32Plus" : "Pe32"; });

// ---- Files on disk --------------------------------------------------------------

class IconFileOnDiskTest : public ::testing::Test {
 protected:
  std::string Path(const char* name) const { return dir_.File(name); }
  static IconExtractResult ExtractPath(const std::string& path, LONG index = 0) {
    const std::u16string wide(path.begin(), path.end());
    BYTE mask[128];
    BYTE colors[512];
    return feroq::platform::ExtractIcon32(wide.c_str(), index, mask, colors);
  }

  ScratchDir dir_;
};

TEST_F(IconFileOnDiskTest, ReadsIconFilesAndLibraries) {
  ASSERT_TRUE(WriteBytes(Path("icon.ico"), MakeIco({DibImage(32, 32, 4, PatternPicture(1))})));
  Extracted from_file;
  from_file.result = feroq::platform::ExtractIcon32(dir_.WideFile("icon.ico").c_str(), 0, from_file.mask, from_file.colors);
  ExpectPattern(from_file, 1);
  ASSERT_TRUE(WriteBytes(Path("app.dll"), MakePe(true, {IconGroup{u"", 3, {PngImage(32, 32, PatternPicture(2))}}})));
  EXPECT_EQ(ExtractPath(Path("app.dll"), -3), kIconOk);
  EXPECT_EQ(ExtractPath(Path("app.dll"), 1), kIconNotAnIconFile);
}

TEST_F(IconFileOnDiskTest, WhatIsNoIconFile) {
  ASSERT_TRUE(WriteBytes(Path("text.txt"), Bytes{'h', 'e', 'l', 'l', 'o', '\n'}));
  EXPECT_EQ(ExtractPath(Path("text.txt")), kIconNotAnIconFile);
  EXPECT_EQ(ExtractPath(Path("missing.ico")), kIconNotAnIconFile);
  EXPECT_EQ(ExtractPath(dir_.path()), kIconNotAnIconFile);
  // A named pipe is refused without waiting for a writer.
  ASSERT_EQ(mkfifo(Path("pipe").c_str(), 0600), 0);
  EXPECT_EQ(ExtractPath(Path("pipe")), kIconNotAnIconFile);
  BYTE mask[128];
  BYTE colors[512];
  EXPECT_EQ(feroq::platform::ExtractIcon32(u"", 0, mask, colors), kIconNotAnIconFile);
  EXPECT_EQ(feroq::platform::ExtractIcon32(nullptr, 0, mask, colors), kIconNotAnIconFile);
}

TEST_F(IconFileOnDiskTest, RefusesSourcesBeyondTheSizeLimit) {
  // A sparse file that starts as an icon file.
  const Bytes ico = MakeIco({DibImage(32, 32, 4, PatternPicture(1))});
  ASSERT_TRUE(WriteBytes(Path("big.ico"), ico));
  ASSERT_EQ(truncate(Path("big.ico").c_str(), static_cast<off_t>(feroq::platform::kMaxIconSourceBytes) + 1), 0);
  EXPECT_EQ(ExtractPath(Path("big.ico")), kIconUnreadable);
  ASSERT_EQ(truncate(Path("big.ico").c_str(), static_cast<off_t>(feroq::platform::kMaxIconSourceBytes)), 0);
  EXPECT_EQ(ExtractPath(Path("big.ico")), kIconOk);
}

}  // namespace
