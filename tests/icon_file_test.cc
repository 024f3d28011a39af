// The icon operations of ZQWinAppObject: the icon record (GetIcon, SetIcon),
// the ICO file written by GetIconFile, and SetIconFile reading an icon back
// from icon files and executables.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "feroq/app_icon.h"
#include "feroq/services/farm_admin.h"
#include "feroq/farm_object.h"
#include "feroq/services/service_codes.h"
#include "feroq/zqwinapp_object.h"
#include "platform/platform.h"
#include "services/service_faults.h"
#include "support/farm_builder.h"
#include "support/icon_samples.h"
#include "support/handles.h"

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

std::uint32_t U32At(const Bytes& bytes, std::size_t at) {
  return bytes[at] | (bytes[at + 1] << 8) | (bytes[at + 2] << 16) | (static_cast<std::uint32_t>(bytes[at + 3]) << 24);
}
std::uint16_t U16At(const Bytes& bytes, std::size_t at) {
  return static_cast<std::uint16_t>(bytes[at] | (bytes[at + 1] << 8));
}

class IconFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("FEROQ_FARM", "memory:", 1);
    ASSERT_EQ(feroq::admin::ResetMemoryFarm(""), 0u);
    farm_ = std::make_unique<FarmObject>();
    app_ = OpenApp(u"Editor");
    ASSERT_NE(app_, nullptr);
    char pattern[] = "/tmp/feroq-icons-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    feroq::services::ClearServiceFaults();
    feroq::platform::ClearAllocationFailure();
    for (ZQWinAppObject* app : opened_) {
      CommonObject* object = app;
      farm_->FreeObject(object);
    }
    for (const char* name : {"a.ico", "b.ico", "c.dll", "text.txt"}) unlink(Path(name).c_str());
    rmdir(dir_.c_str());
  }

  ZQWinAppObject* OpenApp(const std::u16string& name) {
    FarmBuilder build(*farm_);
    ULONG64 id = build.App(name);
    ZQWinAppObject* app = nullptr;
    EXPECT_EQ(farm_->CreateWinAppFromID(id, &app), S_OK);
    if (app == nullptr) return nullptr;
    opened_.push_back(app);
    EXPECT_EQ(app->Load(), S_OK);
    return app;
  }
  std::string Path(const char* name) const { return dir_ + "/" + name; }
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
  std::vector<ZQWinAppObject*> opened_;
  std::string dir_;
};

TEST_F(IconFileTest, IcoFileLayout) {
  _ZQWinAppIcon icon = RowIcon();
  ASSERT_EQ(app_->SetIcon(&icon), S_OK);
  ASSERT_EQ(WriteIcon(app_, Path("a.ico")), S_OK);
  const Bytes file = feroq::testing::ReadBytes(Path("a.ico"));
  ASSERT_EQ(file.size(), kIcoBytes);

  // Header and directory entry.
  EXPECT_EQ((Bytes{file.begin(), file.begin() + 4}), (Bytes{0, 0, 1, 0}));
  EXPECT_EQ(U16At(file, 4), 1);
  EXPECT_EQ((Bytes{file.begin() + 6, file.begin() + 14}), (Bytes{32, 32, 16, 0, 0, 0, 0, 0}));
  EXPECT_EQ(U32At(file, 14), 744u);
  EXPECT_EQ(U32At(file, 18), 22u);
  // Bitmap header.
  EXPECT_EQ(U32At(file, 22), 40u);
  EXPECT_EQ(U32At(file, 26), 32u);
  EXPECT_EQ(U32At(file, 30), 64u);
  EXPECT_EQ(U16At(file, 34), 1);
  EXPECT_EQ(U16At(file, 36), 4);
  EXPECT_EQ(U32At(file, 38), 0u);
  EXPECT_EQ(U32At(file, 42), 640u);
  for (std::size_t at = 46; at < kPaletteAt; ++at) EXPECT_EQ(file[at], 0) << "offset " << at;
  // Palette: blue, green, red, 0 for each standard colour in order.
  EXPECT_EQ((Bytes{file.begin() + kPaletteAt, file.begin() + kPaletteAt + 8}), (Bytes{0, 0, 0, 0, 0, 0, 128, 0}));
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

TEST_F(IconFileTest, TopMaskRowIsStoredLast) {
  _ZQWinAppIcon icon{};
  icon.mask[0] = 0x80;
  ASSERT_EQ(app_->SetIcon(&icon), S_OK);
  ASSERT_EQ(WriteIcon(app_, Path("a.ico")), S_OK);
  const Bytes file = feroq::testing::ReadBytes(Path("a.ico"));
  ASSERT_EQ(file.size(), kIcoBytes);
  for (std::size_t at = kMaskRowsAt; at < kIcoBytes; ++at) {
    EXPECT_EQ(file[at], at == 762 ? 0x80 : 0) << "offset " << at;
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
}

TEST_F(IconFileTest, SetIconMapsStoreRefusals) {
  _ZQWinAppIcon original = RowIcon();
  ASSERT_EQ(app_->SetIcon(&original), S_OK);
  _ZQWinAppIcon other{};
  other.colors[0] = 0x12;
  EXPECT_EQ(app_->SetIcon(nullptr), E_INVALIDARG);
  feroq::services::InjectServiceFault("ZQApp::SetIcon", feroq::ZQAPP_E_READ_ONLY);
  EXPECT_EQ(app_->SetIcon(&other), E_ACCESSDENIED);
  feroq::services::InjectServiceFault("ZQApp::SetIcon", 0x80000003u);
  EXPECT_EQ(app_->SetIcon(&other), E_FAIL);
  EXPECT_EQ(IconOf(app_), BytesOf(original));
}

TEST_F(IconFileTest, RoundTripThroughAnIcoFile) {
  _ZQWinAppIcon icon = RowIcon();
  ASSERT_EQ(app_->SetIcon(&icon), S_OK);
  ASSERT_EQ(WriteIcon(app_, Path("a.ico")), S_OK);
  ZQWinAppObject* viewer = OpenApp(u"Viewer");
  ASSERT_NE(viewer, nullptr);
  ASSERT_EQ(ReadIcon(viewer, Path("a.ico"), 0), S_OK);
  EXPECT_EQ(IconOf(viewer), BytesOf(icon));
  // Saved with the application.
  ASSERT_EQ(viewer->Save(), S_OK);
  ASSERT_EQ(viewer->Load(), S_OK);
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
  // An icon file whose only image is damaged.
  Bytes damaged = feroq::testing::MakeIco({feroq::testing::DibImage(32, 32, 4, feroq::testing::PatternPicture(1))});
  damaged[22 + 4] = 0;  // width 0
  ASSERT_TRUE(feroq::testing::WriteBytes(Path("b.ico"), damaged));
  EXPECT_EQ(ReadIcon(app_, Path("b.ico"), 0), E_FAIL);
  // A read-only record refuses the new icon.
  ASSERT_TRUE(feroq::testing::WriteBytes(Path("a.ico"), feroq::testing::MakeIco(
                                                         {feroq::testing::DibImage(32, 32, 4, feroq::testing::PatternPicture(2))})));
  feroq::services::InjectServiceFault("ZQApp::SetIcon", feroq::ZQAPP_E_READ_ONLY);
  EXPECT_EQ(ReadIcon(app_, Path("a.ico"), 0), E_ACCESSDENIED);
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
