// The icon operations of ZQWinAppObject: the icon record (GetIcon, SetIcon),
// the ICO file written by GetIconFile, and SetIconFile reading an icon back
// from icon files and executables.
#include <sys/stat.h>

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
#include "support/farm_builder.h"
#include "support/icon_samples.h"
#include "support/farm_fixture.h"
#include "support/handles.h"
#include "support/temp_files.h"

namespace {

using feroq::testing::W;
using feroq::testing::Bytes;
using feroq::testing::FarmBuilder;

constexpr std::size_t kIcoBytes = 766;
constexpr std::size_t kPaletteAt = 62;
constexpr std::size_t kColorRowsAt = 126;
constexpr std::size_t kMaskRowsAt = 638;

// An icon whose every byte differs from its neighbours' and whose rows are
// told apart by their first byte.
_ZQWinAppIcon RowIcon() {
  _ZQWinAppIcon icon{};
  for (int row = 0; row < 32; ++row) {
    for (int i = 0; i < 4; ++i) icon.mask[row * 4 + i] = static_cast<BYTE>(row * 4 + i);
    for (int i = 0; i < 16; ++i) icon.colors[row * 16 + i] = static_cast<BYTE>(row * 7 + i + 1);
  }
  return icon;
}

class IconFileTest : public feroq::testing::FarmTest {
 protected:
  void SetUp() override {
    FarmTest::SetUp();
    farm_ = std::make_unique<FarmObject>();
    app_ = OpenApp(u"Editor");
    ASSERT_NE(app_, nullptr);
  }
  void TearDown() override {
    opened_.clear();
    farm_.reset();
    FarmTest::TearDown();
  }

  ZQWinAppObject* OpenApp(const std::u16string& name) {
    FarmBuilder build(*farm_);
    ULONG64 id = build.App(name);
    feroq::testing::Ref<ZQWinAppObject> app(*farm_);
    EXPECT_EQ(farm_->CreateWinAppFromID(id, &app.out()), S_OK);
    if (!app) return nullptr;
    EXPECT_EQ(app->Load(), S_OK);
    return opened_.emplace_back(std::move(app)).get();
  }
  std::string Path(const char* name) const { return dir_.File(name); }
  static std::u16string Wide(const std::string& text) { return std::u16string(text.begin(), text.end()); }

  // The icon `app` holds, as 640 bytes.
  std::array<BYTE, 640> IconOf(ZQWinAppObject* app) {
    std::array<BYTE, 640> bytes{};
    _ZQWinAppIcon* icon = nullptr;
    EXPECT_EQ(app->GetIcon(icon), S_OK);
    if (icon != nullptr) std::memcpy(bytes.data(), icon, bytes.size());
    farm_->FreeMemory(icon);
    return bytes;
  }
  static std::array<BYTE, 640> BytesOf(const _ZQWinAppIcon& icon) {
    std::array<BYTE, 640> bytes{};
    std::memcpy(bytes.data(), &icon, bytes.size());
    return bytes;
  }
  HRESULT WriteIcon(ZQWinAppObject* app, const std::string& path, _IconFileFormat format = IconFileFormatICO) {
    std::u16string wide = Wide(path);
    return app->GetIconFile(format, wide.data());
  }
  HRESULT ReadIcon(ZQWinAppObject* app, const std::string& path, LONG index,
                   _IconFileFormat format = IconFileFormatICO) {
    std::u16string wide = Wide(path);
    return app->SetIconFile(format, wide.data(), index);
  }

  std::unique_ptr<FarmObject> farm_;
  ZQWinAppObject* app_ = nullptr;
  std::vector<feroq::testing::Ref<ZQWinAppObject>> opened_;
  feroq::testing::ScratchDir dir_;
};

TEST_F(IconFileTest, IcoFileLayout) {
  _ZQWinAppIcon icon = RowIcon();
  ASSERT_EQ(app_->SetIcon(&icon), S_OK);
  ASSERT_EQ(WriteIcon(app_, Path("a.ico")), S_OK);
  const Bytes file = feroq::testing::ReadBytes(Path("a.ico"));
  ASSERT_EQ(file.size(), kIcoBytes);
  // Header, directory entry (32 x 32, 16 colours, 744 bytes at 22) and
  // bitmap header (40 bytes, 32 x 64, one plane, 4 bits, 640 image bytes).
  const Bytes head = {0, 0, 1, 0, 1, 0, 32, 32, 16, 0, 0, 0, 0, 0, 0xE8, 2, 0, 0, 22, 0, 0, 0,
                      40, 0, 0, 0, 32, 0, 0, 0, 64, 0, 0, 0, 1, 0, 4, 0, 0, 0, 0, 0, 0x80, 2, 0, 0,
                      0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(Bytes(file.begin(), file.begin() + kPaletteAt), head);
  // Palette: blue, green, red, 0 for each standard colour in order.
  for (int index = 0; index < 16; ++index) {
    const feroq::testing::Color c = feroq::testing::StandardColor(index);
    const std::size_t at = kPaletteAt + 4 * index;
    EXPECT_EQ((Bytes{file.begin() + at, file.begin() + at + 4}), (Bytes{c.blue, c.green, c.red, 0})) << index;
  }
  // Rows bottom first: file row k is record row 31 - k.
  for (int k = 0; k < 32; ++k) {
    EXPECT_EQ(0, std::memcmp(file.data() + kColorRowsAt + 16 * k, icon.colors + 16 * (31 - k), 16)) << "colour row " << k;
    EXPECT_EQ(0, std::memcmp(file.data() + kMaskRowsAt + 4 * k, icon.mask + 4 * (31 - k), 4)) << "mask row " << k;
  }
}

TEST_F(IconFileTest, GetIconFileChecksFormatThenName) {
  EXPECT_EQ(app_->GetIconFile(static_cast<_IconFileFormat>(1), W(u"")), E_NOTIMPL);
  EXPECT_EQ(app_->GetIconFile(static_cast<_IconFileFormat>(1), nullptr), E_NOTIMPL);
  EXPECT_EQ(app_->GetIconFile(IconFileFormatICO, W(u"")), E_INVALIDARG);
  EXPECT_EQ(app_->GetIconFile(IconFileFormatICO, nullptr), E_INVALIDARG);
  // A file that cannot be created.
  EXPECT_EQ(WriteIcon(app_, Path("no-such-dir/a.ico")), E_FAIL);
  // An existing file is replaced.
  ASSERT_TRUE(feroq::testing::WriteBytes(Path("a.ico"), Bytes(5000, 0xEE)));
  EXPECT_EQ(WriteIcon(app_, Path("a.ico")), S_OK);
  EXPECT_EQ(feroq::testing::ReadBytes(Path("a.ico")).size(), kIcoBytes);
}

TEST_F(IconFileTest, RecordOperationsWithoutARecord) {
  ZQWinAppObject detached(static_cast<WCHAR*>(nullptr), nullptr, nullptr, nullptr);
  const std::int64_t live = feroq::platform::LiveHeapBlocks();
  const std::uint64_t attempts = feroq::platform::AllocationAttempts();
  _ZQWinAppIcon sentinel{};
  _ZQWinAppIcon* out = &sentinel;  // must stay as it is
  EXPECT_EQ(detached.GetIcon(out), E_UNEXPECTED);
  EXPECT_EQ(out, &sentinel);
  EXPECT_EQ(feroq::platform::LiveHeapBlocks(), live);
  EXPECT_EQ(feroq::platform::AllocationAttempts(), attempts);
  _ZQWinAppIcon icon{};
  EXPECT_EQ(detached.SetIcon(&icon), E_UNEXPECTED);
  EXPECT_EQ(detached.SetIcon(nullptr), E_UNEXPECTED);
  EXPECT_EQ(detached.GetIconFile(static_cast<_IconFileFormat>(1), nullptr), E_UNEXPECTED);
  EXPECT_EQ(detached.SetIconFile(IconFileFormatICO, nullptr, 0), E_UNEXPECTED);
}

TEST_F(IconFileTest, GetIconHandsOutAHeapCopy) {
  _ZQWinAppIcon icon = RowIcon();
  ASSERT_EQ(app_->SetIcon(&icon), S_OK);
  _ZQWinAppIcon* out = nullptr;
  ASSERT_EQ(app_->GetIcon(out), S_OK);
  ASSERT_NE(out, nullptr);
  EXPECT_EQ(feroq::platform::HeapBlockSize(out), sizeof(_ZQWinAppIcon));
  EXPECT_EQ(0, std::memcmp(out, &icon, sizeof(icon)));
  out->mask[0] ^= 0xFF;  // the caller's copy: the application keeps its icon
  EXPECT_EQ(IconOf(app_), BytesOf(icon));
  farm_->FreeMemory(out);

  feroq::platform::FailAllocationAt(1);
  out = reinterpret_cast<_ZQWinAppIcon*>(&icon);
  EXPECT_EQ(app_->GetIcon(out), E_OUTOFMEMORY);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(app_->SetIcon(nullptr), E_INVALIDARG);
}

TEST_F(IconFileTest, RoundTripThroughAnIcoFile) {
  _ZQWinAppIcon icon = RowIcon();
  ASSERT_EQ(app_->SetIcon(&icon), S_OK);
  ASSERT_EQ(WriteIcon(app_, Path("a.ico")), S_OK);
  ZQWinAppObject* viewer = OpenApp(u"Viewer");
  ASSERT_NE(viewer, nullptr);
  ASSERT_EQ(ReadIcon(viewer, Path("a.ico"), 0), S_OK);
  EXPECT_EQ(IconOf(viewer), BytesOf(icon));
}

TEST_F(IconFileTest, SetIconFileIgnoresTheFormat) {
  ASSERT_TRUE(feroq::testing::WriteBytes(
      Path("c.dll"), feroq::testing::MakePe(false, {feroq::testing::IconGroup{
                                                       u"", 4, {feroq::testing::DibImage(32, 32, 8, feroq::testing::PatternPicture(3))}}})));
  ZQWinAppObject* second = OpenApp(u"Second");
  ASSERT_NE(second, nullptr);
  ASSERT_EQ(ReadIcon(app_, Path("c.dll"), -4, IconFileFormatICO), S_OK);
  ASSERT_EQ(ReadIcon(second, Path("c.dll"), -4, static_cast<_IconFileFormat>(5)), S_OK);
  EXPECT_EQ(IconOf(app_), IconOf(second));
  // The pattern's top-left pixel.
  EXPECT_EQ(IconOf(app_)[128] >> 4, feroq::testing::PatternIndex(0, 0, 3));
  EXPECT_EQ(ReadIcon(second, Path("c.dll"), 1, static_cast<_IconFileFormat>(5)), E_INVALIDARG);
}

TEST_F(IconFileTest, SetIconFileFailuresLeaveTheIconAlone) {
  _ZQWinAppIcon icon = RowIcon();
  ASSERT_EQ(app_->SetIcon(&icon), S_OK);
  ASSERT_TRUE(feroq::testing::WriteBytes(Path("text.txt"), Bytes{'n', 'o', 't', ' ', 'a', 'n', ' ', 'i', 'c', 'o', 'n'}));
  EXPECT_EQ(ReadIcon(app_, Path("text.txt"), 0), E_INVALIDARG);
  EXPECT_EQ(ReadIcon(app_, Path("missing.ico"), 0), E_INVALIDARG);
  EXPECT_EQ(app_->SetIconFile(IconFileFormatICO, nullptr, 0), E_INVALIDARG);
  // Damaged files yield no icon: E_INVALIDARG, as for a file of no icons.
  const Bytes ico = feroq::testing::MakeIco({feroq::testing::DibImage(32, 32, 4, feroq::testing::PatternPicture(1))});
  Bytes zero_width = ico;
  zero_width[22 + 4] = 0;  // the image's width
  Bytes past_the_end = ico;
  past_the_end[20] = 0x10;  // the directory entry's image offset, 1 MiB beyond the file
  Bytes pe = feroq::testing::MakePe(
      false, {feroq::testing::IconGroup{u"", 1, {feroq::testing::DibImage(32, 32, 4, feroq::testing::PatternPicture(1))}}});
  pe.resize(pe.size() - 200);  // the icon's resource data cut off
  for (const Bytes& damaged : {zero_width, past_the_end, pe}) {
    ASSERT_TRUE(feroq::testing::WriteBytes(Path("b.ico"), damaged));
    EXPECT_EQ(ReadIcon(app_, Path("b.ico"), 0), E_INVALIDARG);
  }
  EXPECT_EQ(IconOf(app_), BytesOf(icon));
}

TEST_F(IconFileTest, IcotoolSeesOneSixteenColourImage) {
  if (std::system("command -v icotool >/dev/null 2>&1") != 0) {
    GTEST_SKIP() << "icotool (Debian package icoutils) is not installed";
  }
  _ZQWinAppIcon icon = RowIcon();
  ASSERT_EQ(app_->SetIcon(&icon), S_OK);
  ASSERT_EQ(WriteIcon(app_, Path("a.ico")), S_OK);
  const std::string command = "icotool -l '" + Path("a.ico") + "' 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string listing;
  char buffer[256];
  while (fgets(buffer, sizeof(buffer), pipe) != nullptr) listing += buffer;
  ASSERT_EQ(pclose(pipe), 0) << listing;
  // One line: --icon --index=1 --width=32 --height=32 --bit-depth=4 --palette-size=16
  EXPECT_EQ(listing.find('\n'), listing.size() - 1) << listing;
  EXPECT_NE(listing.find("--index=1"), std::string::npos) << listing;
  EXPECT_NE(listing.find("--width=32"), std::string::npos) << listing;
  EXPECT_NE(listing.find("--height=32"), std::string::npos) << listing;
  EXPECT_NE(listing.find("--bit-depth=4"), std::string::npos) << listing;
}

}  // namespace
