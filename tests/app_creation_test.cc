// Publishing a new application from a description, validation, and the
// character checks.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>

#include "feroq/app_data.h"
#include "feroq/farm_object.h"
#include "feroq/services/zqapp.h"
#include "feroq/zqwinapp_object.h"
#include "platform/platform.h"
#include "services/service_faults.h"
#include "support/farm_builder.h"
#include "support/farm_fixture.h"
#include "support/handles.h"
#include "support/temp_files.h"

namespace {

using feroq::testing::ReleaseObject;

class AppCreationTest : public feroq::testing::FarmTest {
 protected:
  void SetUp() override {
    FarmTest::SetUp();
    AddServer(u"SRV1");
    AddServer(u"SRV2");
    AddAccount(u"CORP", u"alice", 0, u"CN=alice,DC=corp");
    office_ = AddFolder(u"Office");
    OpenFarm();
    data_ = std::make_unique<_ZQWinAppData>();
    std::memset(data_.get(), 0, sizeof(*data_));
    data_->version = feroq::kZQAppCurrentVersion;
    data_->objectName = texts_(u"Editor");
    data_->browserName = texts_(u"editor");
    data_->defaultInitialProgram = texts_(u"C:\\Apps\\editor.exe");
    data_->defaultWindowColor = ZQWindowColor256;
    data_->defaultWindowType = ZQWindow800x600;
  }
  ULONG StoredApplications() {
    ULONG64* ids = nullptr;
    ULONG count = 0;
    ZQAppSAL store(subsystem());
    EXPECT_EQ(store.EnumApps(&ids, count, 0), 0u);
    ::operator delete(ids);
    return count;
  }

  ULONG64 office_ = 0;
  std::unique_ptr<_ZQWinAppData> data_;
  feroq::testing::TextPool texts_;
};

TEST_F(AppCreationTest, PublishesEveryPropertyAndList) {
  _ZQServerConfigBlock second{};
  second.servers[0].serverName = texts_(u"SRV2");
  second.servers[0].workingDirectory = texts_(u"D:\\Work");
  second.count = 1;
  _ZQServerConfigBlock first{};
  first.count = -2;  // no servers from this block; the walk goes on
  first.next = &second;
  _UserAccountInfoBlock users{};  // a full block
  users.users[0] = _UserAccountInfo{0, 0, 0, texts_(u"CORP"), texts_(u"alice")};
  for (char16_t i = 1; i < 32; ++i) {
    const std::u16string name = std::u16string(u"user") + static_cast<char16_t>(u'@' + i);
    AddAccount(u"CORP", name, 0, u"CN=" + name);
    users.users[i] = _UserAccountInfo{0, 0, 0, texts_(u"CORP"), texts_(name)};
  }
  users.count = 32;
  data_->servers = &first;
  data_->users = &users;
  data_->parentFolder = texts_(u"\\Applications\\Office");
  data_->desktopIntegrate = 7;    // bit 4 is not defined: stored as 3
  data_->wlAttributes = 0xFF;     // six defined bits
  data_->defaultWindowScale = 256;  // non-zero, so the setter is called, with 0
  data_->useIcon = 1;
  data_->icon.mask[0] = 0x80;

  feroq::services::StartServiceCallLog();
  ZQWinAppObject* app = nullptr;
  ASSERT_EQ(farm_->CreateZQWinApp(data_.get(), &app), S_OK);
  feroq::services::StopServiceCallLog();
  EXPECT_TRUE(feroq::testing::ServiceWasCalled("ZQApp::SetDefaultWindowScale"));
  EXPECT_EQ(app->GetRefCount(), 1u);

  const std::pair<HRESULT (ZQWinAppObject::*)(LONG*), LONG> stored[] = {
      {&ZQWinAppObject::GetDesktopIntegrate, 3}, {&ZQWinAppObject::GetWLAttributes, 0x3F},
      {&ZQWinAppObject::GetDefaultWindowScale, 0}, {&ZQWinAppObject::GetServerCount, 1},
      {&ZQWinAppObject::GetUserCount, 32}};
  for (const auto& [get, expected] : stored) {
    LONG value = -1;
    EXPECT_EQ((app->*get)(&value), S_OK);
    EXPECT_EQ(value, expected);
  }
  FolderObject* parent = nullptr;
  ASSERT_EQ(app->GetParentFolder(&parent), S_OK);
  ULONG64 parent_id = 0;
  parent->GetObjectID(parent_id);
  EXPECT_EQ(parent_id, office_);
  EXPECT_EQ(parent->GetChildCount(), 1);

  // What was written is what the store gives back.
  ULONG64 id = 0;
  app->GetObjectID(id);
  ReleaseObject(*farm_, app);
  ASSERT_EQ(farm_->CreateWinAppFromID(id, &app), S_OK);
  ASSERT_EQ(app->Load(), S_OK);
  feroq::testing::HeapText dn(*farm_);
  ASSERT_EQ(app->GetDistinguishedName(&dn.out()), S_OK);
  EXPECT_EQ(dn.str(), u"\\Applications\\Office\\Editor");
  feroq::testing::HeapBlock<_ZQWinAppIcon> icon(*farm_);
  ASSERT_EQ(app->GetIcon(icon.out()), S_OK);
  EXPECT_EQ(icon.get()->mask[0], 0x80);
  ReleaseObject(*farm_, app);
}

TEST_F(AppCreationTest, OutOfRangeValuesAreRefusedBeforeAnythingIsWritten) {
  struct Case {
    std::function<void(_ZQWinAppData&)> change;
    HRESULT code;
  };
  const Case cases[] = {
      {[&](_ZQWinAppData& d) { d.defaultWindowColor = ZQWindowColorHigh15Bit; }, feroq::ZQ_CREATE_E_WINDOW_COLOR},
      {[&](_ZQWinAppData& d) { d.defaultWindowType = ZQWindowFullScreen; }, feroq::ZQ_CREATE_E_WINDOW_TYPE},
      {[&](_ZQWinAppData& d) { d.defaultWindowType = static_cast<_ZQWindowType>(9); }, feroq::ZQ_CREATE_E_WINDOW_TYPE},
      {[&](_ZQWinAppData& d) { d.defaultEncryptionLevel = ZQEncryptionNotSupported; },
       feroq::ZQ_CREATE_E_ENCRYPTION_LEVEL},
      {[&](_ZQWinAppData& d) { d.defaultEncryptionLevel = static_cast<_ZQEncryptionLevel>(-1); },
       feroq::ZQ_CREATE_E_ENCRYPTION_LEVEL},
      {[&](_ZQWinAppData& d) { d.defaultSoundType = ZQSoundNotSupported; }, feroq::ZQ_CREATE_E_SOUND_TYPE},
      {[&](_ZQWinAppData& d) { d.defaultVideoType = 2; }, feroq::ZQ_CREATE_E_VIDEO_TYPE},
      {[&](_ZQWinAppData& d) { d.version = 0; }, feroq::ZQ_CREATE_E_VERSION},
      {[&](_ZQWinAppData& d) { d.parentFolder = texts_(u"\\Applications\\Nowhere"); }, feroq::ZQ_CREATE_E_PARENT_NOT_FOUND},
      // A line break in any text would start a new line of the definition
      // file: the name below would export a working directory of its own.
      {[&](_ZQWinAppData& d) { d.objectName = texts_(u"Harmless\"\n    DefaultWorkingDirectory = \"D:evil"); },
       feroq::ZQ_CREATE_E_OBJECT_NAME},
      {[&](_ZQWinAppData& d) { d.defaultInitialProgram = texts_(u"C:\\a.exe\r"); }, feroq::ZQ_CREATE_E_INITIAL_PROGRAM},
      {[&](_ZQWinAppData& d) { d.wlFolder = texts_(u"Office\r\nTools"); }, feroq::ZQ_CREATE_E_WL_FOLDER},
      {[&](_ZQWinAppData& d) {
         static _ZQServerConfigBlock servers{};
         servers.servers[0] = _ZQServerConfig{0, texts_(u"SRV1"), texts_(u"a\nb"), nullptr};
         servers.count = 1;
         d.servers = &servers;
       },
       feroq::ZQ_CREATE_E_SERVER},
  };
  const auto live = feroq::platform::LiveHeapBlocks();
  for (const Case& c : cases) {
    auto data = *data_;
    c.change(data);
    ZQWinAppObject* app = reinterpret_cast<ZQWinAppObject*>(0x8);
    EXPECT_EQ(farm_->CreateZQWinApp(&data, &app), c.code);
    EXPECT_EQ(app, reinterpret_cast<ZQWinAppObject*>(0x8));  // untouched
  }
  EXPECT_EQ(StoredApplications(), 0u);
  EXPECT_EQ(feroq::platform::LiveHeapBlocks(), live);
}

TEST(CharacterChecksTest, WorkingDirectoriesAndBrowserNames) {
  const std::pair<const char16_t*, int> directories[] = {
      {u"C:\\Program Files\\App", 0}, {u"C:\\a|b", 1}, {u"C:/a", 1}, {u"", 0}};
  for (const auto& [text, invalid] : directories) {
    VORNString directory(text);
    EXPECT_EQ(FHasInvalidWorkDirectoryChars(directory), invalid) << feroq::testing::Utf8(text);
  }
  for (const auto& [text, invalid] : {std::pair{u" name", 1}, std::pair{u"my name", 0}, std::pair{u"", 0}}) {
    VORNString name(text);
    EXPECT_EQ(FHasInvalidBrNameChars(name), invalid) << feroq::testing::Utf8(text);
  }
  for (char16_t c : std::u16string(u"\\/;:.*?=<>|[]()'\"#")) {
    VORNString one((u"a" + std::u16string(1, c)).c_str());
    EXPECT_EQ(FHasInvalidBrNameChars(one), 1) << static_cast<int>(c);
  }
}

}  // namespace
