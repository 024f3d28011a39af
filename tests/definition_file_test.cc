// The application definition file: a fully featured application against a
// golden file written from the format's description, the lines left out
// for empty or failing getters, numbers, window type 8, the options record
// (icon blocks or an ICO file beside the definition file), text-mode line
// ends and running out of memory.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "farm/object_access.h"
#include "feroq/app_export.h"
#include "feroq/farm_object.h"
#include "feroq/services/zqapp.h"
#include "feroq/zqwinapp_object.h"
#include "services/record_access.h"
#include "services/service_faults.h"
#include "support/app_object_fixture.h"
#include "support/definition_samples.h"
#include "support/handles.h"
#include "support/temp_files.h"

namespace {

using feroq::testing::ReadWholeFile;
using feroq::testing::ScratchDir;
using feroq::testing::W;
using feroq::testing::WithCrLf;

std::string DataFile(const std::string& name) { return std::string(FEROQ_TEST_DATA_DIR) + "/definition/" + name; }

// The golden files are kept with LF line ends; the file the library writes
// has CR LF for each of them.

// The icon of the golden file: mask byte i is i, colour byte i is 5i+3.
_ZQWinAppIcon GoldenIcon() {
  _ZQWinAppIcon icon{};
  for (int i = 0; i < 128; ++i) icon.mask[i] = static_cast<BYTE>(i);
  for (int i = 0; i < 512; ++i) icon.colors[i] = static_cast<BYTE>(i * 5 + 3);
  return icon;
}

class DefinitionFileTest : public feroq::testing::AppObjectTest {
 protected:
  void SetUp() override {
    AppObjectTest::SetUp();
    alpha_ = AddServer(u"ALPHA");
    beta_ = AddServer(u"BETA");
    gamma_ = AddServer(u"GAMMA");
    AddAccount(u"OFFICE", u"alice", 0, u"CN=alice,OU=Office");
    AddAccount(u"OFFICE", u"staff", 1, u"CN=staff,OU=Office");
    office_ = AddFolder(u"Office");
    OpenFarm();
  }
  // An application with every property set: all flag lists, three servers
  // (none, both and only one own string), two users and an icon.
  ZQWinAppObject* FullApp() {
    feroq::testing::AppSeed seed;
    seed.browser_name = u"WordPad";
    seed.folder = office_;
    ZQWinAppObject* app = Open(AddApplication(seed));
    if (app == nullptr) return nullptr;
    _ZQWinAppIcon icon = GoldenIcon();
    const HRESULT results[] = {
        app->SetObjectName(W(u"Word Pad")), app->SetDescription(W(u"Edits \"rich\" text documents")),
        app->SetDefaultInitialProgram(W(u"\"C:\\Program Files\\Word Pad\\wordpad.exe\" /safe")),
        app->SetDefaultWorkingDirectory(W(u"C:\\Documents")), app->SetWLFolder(W(u"B\u00FCro Tools")),
        app->SetDefaultEncryptionLevel(ZQEncryptionRC5_128Bit), app->SetDefaultSoundType(ZQSoundBasic),
        app->SetDefaultWindowColor(ZQWindowColor256), app->SetDefaultWindowHeight(600),
        app->SetDefaultWindowWidth(800), app->SetDefaultWindowScale(75), app->SetDefaultWindowType(ZQWindow800x600),
        app->SetDesktopIntegrate(3), app->SetZQAttributes(3), app->SetWLAttributes(63), app->SetPublishingFlags(7),
        app->SetIcon(&icon)};
    for (HRESULT result : results) EXPECT_EQ(result, S_OK);
    AddServerTo(app, u"ALPHA", nullptr, nullptr);
    AddServerTo(app, u"BETA", u"\"D:\\wp.exe\" /x", u"D:\\work");
    AddServerTo(app, u"GAMMA", nullptr, u"E:\\data");
    AddUserTo(app, u"OFFICE", u"alice");
    AddUserTo(app, u"OFFICE", u"staff");
    return app;
  }

  void AddServerTo(ZQWinAppObject* app, const char16_t* name, const char16_t* program, const char16_t* directory) {
    feroq::testing::TextPool texts;
    _ZQServerConfig config{0, texts(name), program ? texts(program) : nullptr, directory ? texts(directory) : nullptr};
    EXPECT_EQ(app->AddServer(&config), S_OK);
  }
  void AddUserTo(ZQWinAppObject* app, std::u16string domain, std::u16string account) {
    _UserAccountInfo user{0, feroq::kUserAuthorityWindowsDomain, 0, domain.data(), account.data()};
    EXPECT_EQ(app->AddUser(&user), S_OK);
  }

  // Exports `app` as a definition file; the file's bytes, or "" when none.
  std::string Export(ZQWinAppObject* app, _DefinitionFileOptions* options, HRESULT expected = S_OK,
                     const std::string& name = "app.txt") {
    std::u16string path = dir_.WideFile(name);
    EXPECT_EQ(app->ExportFile(ZQWinAppDefinitionFile, nullptr, path.data(), options), expected);
    return ReadWholeFile(dir_.File(name)).value_or("");
  }

  ScratchDir dir_;
  ULONG64 alpha_ = 0;
  ULONG64 beta_ = 0;
  ULONG64 gamma_ = 0;
  ULONG64 office_ = 0;
};

TEST_F(DefinitionFileTest, FullyFeaturedApplicationMatchesTheGoldenFileByteForByte) {
  ZQWinAppObject* app = FullApp();
  ASSERT_NE(app, nullptr);
  // The golden lists the servers in the order the record's server table
  // hands them out (its own order, not the order they were added in).
  const std::optional<std::string> golden = ReadWholeFile(DataFile("full_app.txt"));
  ASSERT_TRUE(golden.has_value());
  _DefinitionFileOptions no_icon_file{nullptr};
  EXPECT_EQ(Export(app, &no_icon_file), WithCrLf(*golden));
  // Null options write the icon into the file as a null icon file name does.
  EXPECT_EQ(Export(app, nullptr, S_OK, "without_options.txt"), WithCrLf(*golden));
}

TEST_F(DefinitionFileTest, IconFileNameWritesTheIcoBesideAndNoIconBlocks) {
  ZQWinAppObject* app = FullApp();
  ASSERT_NE(app, nullptr);
  std::u16string ico = dir_.WideFile("app.ico");
  _DefinitionFileOptions options{ico.data()};
  const std::string written = Export(app, &options);
  EXPECT_EQ(written.find("IconMask"), std::string::npos);
  EXPECT_EQ(written.find("IconData"), std::string::npos);
  // The users block (and its empty line) is followed directly by the end.
  EXPECT_NE(written.find("    # 2 users found\r\n\r\n\r\nEndApplication\r\n"), std::string::npos);

  const std::optional<std::string> icon_file = ReadWholeFile(dir_.File("app.ico"));
  ASSERT_TRUE(icon_file.has_value());
  ASSERT_EQ(icon_file->size(), 766u);
  // Same bytes as the icon operation writes, and the top mask row stored last.
  std::u16string reference = dir_.WideFile("reference.ico");
  ASSERT_EQ(app->GetIconFile(IconFileFormatICO, reference.data()), S_OK);
  EXPECT_EQ(*icon_file, ReadWholeFile(dir_.File("reference.ico")).value_or(""));
  EXPECT_EQ(icon_file->substr(762, 4), std::string("\x00\x01\x02\x03", 4));
}

TEST_F(DefinitionFileTest, EmptyValuesLeaveTheirLinesOutButTheWorkingDirectoryLeavesAnEmptyLine) {
  // An application whose texts are all empty but its browser name.
  ZQWinAppObject* app = Open(AddApplication(u"Bare"));
  ASSERT_NE(app, nullptr);
  ASSERT_EQ(app->SetObjectName(W(u"")), S_OK);
  ASSERT_EQ(app->SetDefaultInitialProgram(W(u"")), S_OK);
  const std::string written = Export(app, nullptr);
  // No display name, description, initial program or folder line; the empty
  // working directory stands as an empty line. Unknown stored encryption,
  // colour and window type bytes (0) leave their lines out too.
  EXPECT_NE(written.find("BeginApplication\r\n\r\n"
                         "    ObjectName = \"Bare\"\r\n"
                         "\r\n"
                         "    DefaultSoundType = NoSound\r\n"
                         "    DefaultVideoType = NoVideo\r\n"
                         "    DefaultWindowHeight = 0\r\n"
                         "    DefaultWindowWidth = 0\r\n"
                         "    DefaultWindowScale = 0\r\n"
                         "    DefaultDesktopIntegrate = \"\".\r\n"
                         "    ZQAttributes = \"\".\r\n"
                         "    WLAttributes = \"\".\r\n"
                         "    PublishingFlags = \"\".\r\n"),
            std::string::npos)
      << written;
  for (const char* key : {"DisplayName", "Description", "DefaultInitialProgram", "DefaultWorkingDirectory",
                          "WLFolder", "DefaultEncryptionLevel", "DefaultWindowColor", "DefaultWindowType"}) {
    EXPECT_EQ(written.find(key), std::string::npos) << key;
  }
  EXPECT_NE(written.find("\r\n    # Number of servers: 0\r\n    ServerList =\r\n    # 0 servers found\r\n"),
            std::string::npos);
  EXPECT_NE(written.find("\r\n    # Number of users: 0\r\n    UserList =.\r\n    # 0 users found\r\n\r\n"),
            std::string::npos);
}

TEST_F(DefinitionFileTest, StoredValuesTheGettersRefuseLeaveTheirLinesOut) {
  ZQWinAppObject* app = FullApp();
  ASSERT_NE(app, nullptr);
  ZQApp* record = feroq::ObjectAccess::Record(*app);
  ASSERT_EQ(record->SetZQAttributes(5), 0u);          // bit 4 has no word: E_NOTIMPL
  ASSERT_EQ(record->SetDefaultEncryptionLevel(9), 0u);  // no public value
  ASSERT_EQ(record->SetDefaultWindowColor(3), 0u);      // no public value
  feroq::services::RecordAccess::SetStoredReadOnly(*record, 1);
  const std::string written = Export(app, nullptr);
  EXPECT_EQ(written.find("ZQAttributes"), std::string::npos);
  EXPECT_EQ(written.find("DefaultEncryptionLevel"), std::string::npos);
  EXPECT_EQ(written.find("DefaultWindowColor"), std::string::npos);
  EXPECT_NE(written.find("                              \"Desktop\".\r\n    WLAttributes = "), std::string::npos);
  EXPECT_NE(written.find("# Application is read-only\r\n"), std::string::npos);
}

TEST_F(DefinitionFileTest, NumbersAreSignedAndEnumsAreWords) {
  ZQWinAppObject* app = FullApp();
  ASSERT_NE(app, nullptr);
  ASSERT_EQ(app->SetDefaultWindowHeight(-5), S_OK);
  ASSERT_EQ(app->SetDefaultWindowWidth(static_cast<LONG>(0x80000000u)), S_OK);
  ASSERT_EQ(app->SetDefaultWindowScale(300), S_OK);  // the low byte, 44
  // No word for window type 8: no line at all.
  ASSERT_EQ(app->SetDefaultWindowType(ZQWindowType9), S_OK);
  std::string written = Export(app, nullptr);
  EXPECT_NE(written.find("    DefaultWindowHeight = -5\r\n"
                         "    DefaultWindowWidth = -2147483648\r\n"
                         "    DefaultWindowScale = 44\r\n"
                         "    DefaultDesktopIntegrate = \"StartMenu\",\r\n"),
            std::string::npos);

  const std::pair<_ZQWindowColor, const char*> colors[] = {
      {ZQWindowColor16, "16"}, {ZQWindowColorHigh15Bit, "32768"}, {ZQWindowColorHigh, "32768"},
      {ZQWindowColorTrue, "0x1000000"}};
  for (const auto& [color, word] : colors) {
    ASSERT_EQ(app->SetDefaultWindowColor(color), S_OK);
    EXPECT_NE(Export(app, nullptr).find(std::string("    DefaultWindowColor = ") + word + "\r\n"), std::string::npos) << word;
  }
  const std::pair<_ZQWindowType, const char*> types[] = {
      {ZQWindow640x480, "640X480"},     {ZQWindow1024x768, "1024X768"}, {ZQWindow1280x1024, "1280X1024"},
      {ZQWindow1600x1200, "1600X1200"}, {ZQWindowCustom, "Custom"},     {ZQWindowPercent, "Percent"}};
  for (const auto& [type, word] : types) {
    ASSERT_EQ(app->SetDefaultWindowType(type), S_OK);
    EXPECT_NE(Export(app, nullptr).find(std::string("    DefaultWindowType = \"") + word + "\"\r\n"), std::string::npos)
        << word;
  }
  for (const auto& [level, word] : {std::pair{ZQEncryptionBasic, "Basic"}, std::pair{ZQEncryptionRC5_56Bit, "RC5_56Bit"}}) {
    ASSERT_EQ(app->SetDefaultEncryptionLevel(level), S_OK);
    EXPECT_NE(Export(app, nullptr).find(std::string("    DefaultEncryptionLevel = ") + word + "\r\n"), std::string::npos)
        << word;
  }
}

TEST_F(DefinitionFileTest, FailingListCallsEndTheListAndTheCommentCountsWhatWasWritten) {
  ZQWinAppObject* app = FullApp();
  ASSERT_NE(app, nullptr);
  feroq::services::InjectServiceFault("ZQApp::GetNextServer", feroq::VORN_E_FAILURE);
  feroq::services::InjectServiceFault("ZQApp::GetFirstUser", feroq::VORN_E_FAILURE);
  const std::string written = Export(app, nullptr);
  EXPECT_NE(written.find("    # Number of servers: 3\r\n"
                         "    ServerList =\r\n"
                         "        \"GAMMA\",, \"E:\\data\".\r\n"
                         "    # 1 servers found\r\n"),
            std::string::npos)
      << written;
  EXPECT_NE(written.find("    # Number of users: 2\r\n    UserList =.\r\n    # 0 users found\r\n"),
            std::string::npos);
}

TEST_F(DefinitionFileTest, AFileThatCannotBeCreatedFailsBeforeAnythingIsWritten) {
  ZQWinAppObject* app = FullApp();
  ASSERT_NE(app, nullptr);
  std::u16string ico = dir_.WideFile("beside.ico");
  _DefinitionFileOptions options{ico.data()};
  std::u16string path = dir_.WideFile("missing/app.txt");
  EXPECT_EQ(app->ExportFile(ZQWinAppDefinitionFile, nullptr, path.data(), &options), E_FAIL);
  EXPECT_FALSE(ReadWholeFile(dir_.File("beside.ico")).has_value());
}

}  // namespace
