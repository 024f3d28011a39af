// The icon operations of ZQWinAppObject: the icon record (GetIcon, SetIcon),
// the ICO file written by GetIconFile, and SetIconFile reading an icon back
// from icon files and executables.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "feroq/app_icon.h"
#include "feroq/farm_object.h"
#include "feroq/services/service_codes.h"
#include "feroq/zqwinapp_object.h"
#include "platform/platform.h"
#include "support/app_object_fixture.h"
#include "support/handles.h"
#include "support/icon_samples.h"
#include "support/temp_files.h"

namespace {

using namespace feroq::testing;
using IconBytes = std::array<BYTE, sizeof(_ZQWinAppIcon)>;

constexpr std::size_t kIcoBytes = 766;
constexpr std::size_t kPaletteAt = 62;
constexpr std::size_t kColorRowsAt = 126;
constexpr std::size_t kMaskRowsAt = 638;

// An icon whose rows are told apart by their first byte.
_ZQWinAppIcon RowIcon() {
  _ZQWinAppIcon icon{};
  for (int i = 0; i < 128; ++i) icon.mask[i] = static_cast<BYTE>(i);
  for (int i = 0; i < 512; ++i) icon.colors[i] = static_cast<BYTE>(i / 16 * 7 + i % 16 + 1);
  return icon;
}

IconBytes BytesOf(const _ZQWinAppIcon& icon) {
  IconBytes bytes{};
  std::memcpy(bytes.data(), &icon, bytes.size());
  return bytes;
}

class IconFileTest : public AppObjectTest {
 protected:
  void SetUp() override {
    AppObjectTest::SetUp();
    OpenApplication(AddApplication(u"Editor"));
    _ZQWinAppIcon icon = icon_;
    ASSERT_EQ(app_->SetIcon(&icon), S_OK);
  }
  IconBytes IconOf(ZQWinAppObject* app) {
    HeapBlock<_ZQWinAppIcon> icon(*farm_);
    EXPECT_EQ(app->GetIcon(icon.out()), S_OK);
    return icon ? BytesOf(*icon.get()) : IconBytes{};
  }
  HRESULT WriteIcon(const std::string& name) { return app_->GetIconFile(IconFileFormatICO, W(dir_.WideFile(name))); }
  HRESULT ReadIcon(ZQWinAppObject* app, const std::string& name, LONG index,
                   _IconFileFormat format = IconFileFormatICO) {
    return app->SetIconFile(format, W(dir_.WideFile(name)), index);
  }

  ScratchDir dir_;
  const _ZQWinAppIcon icon_ = RowIcon();
};

TEST_F(IconFileTest, IcoFileLayout) {
  // An existing file is replaced.
  ASSERT_TRUE(WriteBytes(dir_.File("a.ico"), Bytes(5000, 0xEE)));
  ASSERT_EQ(WriteIcon("a.ico"), S_OK);
  const Bytes file = ReadBytes(dir_.File("a.ico"));
  ASSERT_EQ(file.size(), kIcoBytes);
  // Header, directory entry (32 x 32, 16 colours, 744 bytes at 22) and
  // bitmap header (40 bytes, 32 x 64, one plane, 4 bits, 640 image bytes).
  const Bytes head = {0, 0, 1, 0, 1, 0, 32, 32, 16, 0, 0, 0, 0, 0, 0xE8, 2, 0, 0, 22, 0, 0, 0,
                      40, 0, 0, 0, 32, 0, 0, 0, 64, 0, 0, 0, 1, 0, 4, 0, 0, 0, 0, 0, 0x80, 2, 0, 0,
                      0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(Bytes(file.begin(), file.begin() + kPaletteAt), head);
  // Palette: blue, green, red, 0 for each standard colour in order.
  for (int index = 0; index < 16; ++index) {
    const Color c = StandardColor(index);
    const auto at = file.begin() + static_cast<std::ptrdiff_t>(kPaletteAt + 4 * index);
    EXPECT_EQ(Bytes(at, at + 4), (Bytes{c.blue, c.green, c.red, 0})) << index;
  }
  // Rows bottom first: file row k is record row 31 - k.
  for (int k = 0; k < 32; ++k) {
    EXPECT_EQ(0, std::memcmp(file.data() + kColorRowsAt + 16 * k, icon_.colors + 16 * (31 - k), 16)) << k;
    EXPECT_EQ(0, std::memcmp(file.data() + kMaskRowsAt + 4 * k, icon_.mask + 4 * (31 - k), 4)) << k;
  }
}

TEST_F(IconFileTest, RefusalsCheckTheFormatThenTheName) {
  EXPECT_EQ(app_->GetIconFile(static_cast<_IconFileFormat>(1), nullptr), E_NOTIMPL);
  EXPECT_EQ(app_->GetIconFile(IconFileFormatICO, W(u"")), E_INVALIDARG);
  EXPECT_EQ(app_->GetIconFile(IconFileFormatICO, nullptr), E_INVALIDARG);
  EXPECT_EQ(WriteIcon("no-such-dir/a.ico"), E_FAIL);
  EXPECT_EQ(app_->SetIcon(nullptr), E_INVALIDARG);
  EXPECT_EQ(app_->SetIconFile(IconFileFormatICO, nullptr, 0), E_INVALIDARG);
}

TEST_F(IconFileTest, GetIconHandsOutAHeapCopy) {
  HeapBlock<_ZQWinAppIcon> out(*farm_);
  ASSERT_EQ(app_->GetIcon(out.out()), S_OK);
  EXPECT_EQ(feroq::platform::HeapBlockSize(out.get()), sizeof(_ZQWinAppIcon));
  EXPECT_EQ(BytesOf(*out.get()), BytesOf(icon_));
  out.get()->mask[0] ^= 0xFF;  // the caller's copy: the application keeps its icon
  EXPECT_EQ(IconOf(app_), BytesOf(icon_));

  _ZQWinAppIcon* none = out.get();
  feroq::platform::FailAllocationAt(1);
  EXPECT_EQ(app_->GetIcon(none), E_OUTOFMEMORY);
  EXPECT_EQ(none, nullptr) << "a failed copy hands out no pointer";
}

TEST_F(IconFileTest, IconsComeBackFromIconFilesAndExecutablesWhateverTheFormat) {
  ASSERT_EQ(WriteIcon("a.ico"), S_OK);
  ZQWinAppObject* viewer = Open(AddApplication(u"Viewer"));
  ASSERT_NE(viewer, nullptr);
  ASSERT_EQ(ReadIcon(viewer, "a.ico", 0), S_OK);
  EXPECT_EQ(IconOf(viewer), BytesOf(icon_));

  ASSERT_TRUE(WriteBytes(dir_.File("c.dll"), MakePe(false, {IconGroup{u"", 4, {DibImage(32, 32, 8, PatternPicture(3))}}})));
  ASSERT_EQ(ReadIcon(viewer, "c.dll", -4, static_cast<_IconFileFormat>(5)), S_OK);
  EXPECT_EQ(IconOf(viewer)[128] >> 4, PatternIndex(0, 0, 3)) << "the pattern's top-left pixel";
  EXPECT_EQ(ReadIcon(viewer, "c.dll", 1), E_INVALIDARG);
}

// A file that yields no icon (no icon file, none there, damaged: the
// readers' own cases) is E_INVALIDARG and leaves the icon alone.
TEST_F(IconFileTest, SetIconFileFailuresLeaveTheIconAlone) {
  Bytes pe = MakePe(false, {IconGroup{u"", 1, {DibImage(32, 32, 4, PatternPicture(1))}}});
  pe.resize(pe.size() - 200);  // the icon's resource data cut off
  ASSERT_TRUE(WriteBytes(dir_.File("cut.dll"), pe));
  ASSERT_TRUE(WriteBytes(dir_.File("text.txt"), Bytes{'n', 'o', 't', ' ', 'a', 'n', ' ', 'i', 'c', 'o', 'n'}));
  for (const char* name : {"text.txt", "missing.ico", "cut.dll"}) EXPECT_EQ(ReadIcon(app_, name, 0), E_INVALIDARG) << name;
  EXPECT_EQ(IconOf(app_), BytesOf(icon_));
}

TEST_F(IconFileTest, IcotoolSeesOneSixteenColourImage) {
  if (std::system("command -v icotool >/dev/null 2>&1") != 0) {
    GTEST_SKIP() << "icotool (Debian package icoutils) is not installed";
  }
  ASSERT_EQ(WriteIcon("a.ico"), S_OK);
  FILE* pipe = popen(("icotool -l '" + dir_.File("a.ico") + "' 2>&1").c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string listing;
  char buffer[256];
  while (fgets(buffer, sizeof(buffer), pipe) != nullptr) listing += buffer;
  ASSERT_EQ(pclose(pipe), 0) << listing;
  // One line: --icon --index=1 --width=32 --height=32 --bit-depth=4 --palette-size=16
  EXPECT_EQ(listing.find('\n'), listing.size() - 1) << listing;
  for (const char* part : {"--index=1", "--width=32", "--height=32", "--bit-depth=4"}) {
    EXPECT_NE(listing.find(part), std::string::npos) << listing;
  }
}

}  // namespace
