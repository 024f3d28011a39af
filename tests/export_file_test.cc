// ZQWinAppObject::ExportFile: the argument checks in their order, the
// request records the store receives for the launch file and the HTML page,
// the mapping of the store's answers, and the writing of the store's lines
// (CR LF, up to the first empty line).
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "feroq/app_export.h"
#include "feroq/farm_object.h"
#include "feroq/services/zqapp.h"
#include "feroq/zqwinapp_object.h"
#include "services/app_files/app_files.h"
#include "services/service_faults.h"
#include "support/farm_fixture.h"
#include "support/temp_files.h"

namespace {

using feroq::services::LastReceivedFileRequests;
using feroq::services::ReceivedFileRequests;
using feroq::testing::ReadWholeFile;
using feroq::testing::ScratchDir;

constexpr _ZQWinAppFileType kAllTypes[] = {ZQWinAppLaunchFile, ZQWinAppHTMLFile, ZQWinAppDefinitionFile};

class ExportFileTest : public feroq::testing::FarmTest {
 protected:
  void SetUp() override {
    FarmTest::SetUp();
    ASSERT_FALSE(dir_.path().empty());
    feroq::services::ClearReceivedFileRequests();
    AddServer(u"ALPHA");
    OpenFarm();
    ULONG64 id = AddApplication(u"Editor");
    ASSERT_EQ(farm_->CreateWinAppFromID(id, &app_), S_OK);
    ASSERT_EQ(app_->Load(), S_OK);
    path_ = dir_.WideFile("out.txt");
  }
  void TearDown() override {
    feroq::services::OverrideComposedLinesForTest(std::nullopt);
    CommonObject* object = app_;
    if (object != nullptr) farm_->FreeObject(object);
    FarmTest::TearDown();
  }

  // Valid options for `type`.
  void* OptionsFor(_ZQWinAppFileType type) {
    switch (type) {
      case ZQWinAppLaunchFile: return &launch_;
      case ZQWinAppHTMLFile: return &html_;
      default: return &definition_;
    }
  }
  HRESULT Export(_ZQWinAppFileType type, const char16_t* language, void* options) {
    std::u16string lang = language != nullptr ? language : u"";
    return app_->ExportFile(type, language != nullptr ? lang.data() : nullptr, path_.data(), options);
  }
  std::optional<std::string> Written() { return ReadWholeFile(dir_.File("out.txt")); }

  ScratchDir dir_;
  ZQWinAppObject* app_ = nullptr;
  std::u16string path_;
  _LaunchFileOptions launch_{};
  _HTMLFileOptions html_{};
  _DefinitionFileOptions definition_{};
};

TEST_F(ExportFileTest, ArgumentChecksComeInTheirOrder) {
  std::u16string bad_language = u"Klingon";
  std::u16string empty;
  // 1. The file type, even with every other argument valid.
  for (int type : {3, -1, 100}) {
    EXPECT_EQ(app_->ExportFile(static_cast<_ZQWinAppFileType>(type), nullptr, path_.data(), &html_), E_INVALIDARG);
  }
  // 2. The file name, before the language is looked at.
  EXPECT_EQ(app_->ExportFile(ZQWinAppHTMLFile, bad_language.data(), empty.data(), &html_), E_INVALIDARG);
  EXPECT_EQ(app_->ExportFile(ZQWinAppHTMLFile, bad_language.data(), nullptr, &html_), E_INVALIDARG);
  // 3. The language.
  for (const char16_t* refused : {u"Klingon", u"", u"Englis", u"English "}) {
    EXPECT_EQ(Export(ZQWinAppHTMLFile, refused, &html_), E_INVALIDARG) << feroq::testing::Utf8(refused);
  }
  EXPECT_FALSE(Written().has_value());
  for (const char16_t* accepted : {u"English", u"french", u"GERMAN", u"german", u"Japanese", u"sPANISH"}) {
    EXPECT_EQ(Export(ZQWinAppHTMLFile, accepted, &html_), S_OK) << feroq::testing::Utf8(accepted);
  }
  EXPECT_EQ(Export(ZQWinAppHTMLFile, nullptr, &html_), S_OK);
}

TEST_F(ExportFileTest, NullOptionsAndAMissingRecordComeAfterTheArgumentChecks) {
  feroq::services::StartServiceCallLog();
  EXPECT_EQ(Export(ZQWinAppLaunchFile, nullptr, nullptr), E_INVALIDARG);
  EXPECT_EQ(Export(ZQWinAppHTMLFile, nullptr, nullptr), E_INVALIDARG);
  feroq::services::StopServiceCallLog();
  EXPECT_TRUE(feroq::services::ServiceCallLog().empty());
  EXPECT_FALSE(Written().has_value());
  EXPECT_EQ(Export(ZQWinAppDefinitionFile, nullptr, nullptr), S_OK);  // the definition file needs none

  ASSERT_EQ(app_->Delete(), S_OK);
  for (_ZQWinAppFileType type : kAllTypes) {
    EXPECT_EQ(Export(type, u"English", OptionsFor(type)), E_UNEXPECTED) << type;
    EXPECT_EQ(Export(type, u"Latin", OptionsFor(type)), E_INVALIDARG) << type;
  }
}

TEST_F(ExportFileTest, TheHTMLRequestCarriesTheOptionsAtTheirOffsets) {
  html_ = _HTMLFileOptions{1000, 30, 0x01020304, 5, 0, -1};
  ASSERT_EQ(Export(ZQWinAppHTMLFile, nullptr, &html_), S_OK);
  const ReceivedFileRequests received = LastReceivedFileRequests();
  ASSERT_TRUE(received.has_html);
  // 1000; fields 4 and 5 as flags (5: 1, 0: 0); 30; 0x01020304; field 6 (-1) as a flag.
  const BYTE expected[20] = {0xE8, 3, 0, 0, 1, 0, 0, 0, 30, 0, 0, 0, 4, 3, 2, 1, 1, 0, 0, 0};
  EXPECT_EQ(0, std::memcmp(received.html, expected, sizeof(expected)));
}

TEST_F(ExportFileTest, TheLaunchRequestCarriesTheOptionsAtTheirOffsets) {
  std::u16string server = u"ALPHA";
  launch_ = _LaunchFileOptions{1024, 768, 0x100, 0x118, ZQEncryptionRC5_56Bit, 0xAAAA, 0xBBBB, 7, 0,
                               server.data(), 3389, 0xCCCC};
  ASSERT_EQ(Export(ZQWinAppLaunchFile, nullptr, &launch_), S_OK);
  ReceivedFileRequests received = LastReceivedFileRequests();
  ASSERT_TRUE(received.has_launch);
  // Field 3 not zero: not windowed; 768; 1024; the low bytes of 0x100 and
  // 0x118; RC5 56-bit as the store's byte (4); fields 8 and 9 as flags.
  const BYTE expected[20] = {0, 0, 0, 0, 0, 3, 0, 0, 0, 4, 0, 0, 0x00, 0x18, 4, 0, 1, 0, 0, 0};
  EXPECT_EQ(0, std::memcmp(received.launch_head, expected, sizeof(expected)));
  EXPECT_EQ(received.launch_preferred_server, u"ALPHA");
  EXPECT_EQ(received.launch_port, 3389);

  launch_ = _LaunchFileOptions{};
  ASSERT_EQ(Export(ZQWinAppLaunchFile, nullptr, &launch_), S_OK);
  received = LastReceivedFileRequests();
  EXPECT_EQ(received.launch_head[0], 1);  // field 3 zero: windowed
  EXPECT_EQ(received.launch_head[12], 0);
  EXPECT_EQ(received.launch_preferred_server, u"");
}

TEST_F(ExportFileTest, TheEncryptionOptionBecomesTheStoresByte) {
  const std::pair<int, BYTE> cases[] = {{0, 1}, {1, 2}, {2, 3}, {3, 4}, {4, 5}, {5, 1}, {7, 1}, {-1, 1}};
  for (const auto& [level, byte] : cases) {
    launch_.encryptionLevel = static_cast<_ZQEncryptionLevel>(level);
    ASSERT_EQ(Export(ZQWinAppLaunchFile, nullptr, &launch_), S_OK);
    EXPECT_EQ(LastReceivedFileRequests().launch_head[14], byte) << level;
  }
}

TEST_F(ExportFileTest, LinesAreWrittenWithCrLfUpToTheFirstEmptyLine) {
  feroq::services::OverrideComposedLinesForTest(
      std::vector<std::u16string>{u"first", u"se\ncond \u00E9", u"", u"after the empty line"});
  for (_ZQWinAppFileType type : {ZQWinAppLaunchFile, ZQWinAppHTMLFile}) {
    ASSERT_EQ(Export(type, nullptr, OptionsFor(type)), S_OK);
    EXPECT_EQ(Written().value_or(""), "first\r\nse\r\ncond \xC3\xA9\r\n") << type;
  }
  feroq::services::OverrideComposedLinesForTest(std::vector<std::u16string>{});
  ASSERT_EQ(Export(ZQWinAppHTMLFile, nullptr, &html_), S_OK);
  EXPECT_EQ(Written().value_or("missing"), "");
}

TEST_F(ExportFileTest, AFileThatCannotBeCreatedFailsAfterTheStoreComposedIt) {
  std::u16string path = dir_.WideFile("no/such/dir.html");
  feroq::services::StartServiceCallLog();
  EXPECT_EQ(app_->ExportFile(ZQWinAppHTMLFile, nullptr, path.data(), &html_), E_FAIL);
  EXPECT_EQ(app_->ExportFile(ZQWinAppLaunchFile, nullptr, path.data(), &launch_), E_FAIL);
  const std::vector<std::string> calls = feroq::services::ServiceCallLog();
  feroq::services::StopServiceCallLog();
  EXPECT_EQ(calls, (std::vector<std::string>{"ZQAppSAL::CreateHTMLFile", "ZQAppSAL::CreateOBRFile"}));
}

}  // namespace
