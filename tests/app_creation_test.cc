// Publishing a new application from a description, validation, and the
// character checks.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "feroq/app_data.h"
#include "feroq/app_folder_object.h"
#include "feroq/farm_object.h"
#include "feroq/services/zqapp.h"
#include "feroq/zqwinapp_object.h"
#include "platform/platform.h"
#include "services/service_faults.h"
#include "support/farm_builder.h"
#include "support/farm_fixture.h"
#include "support/handles.h"

namespace {

using feroq::testing::W;
using feroq::testing::ReleaseObject;

class AppCreationTest : public feroq::testing::FarmTest {
 protected:
  void SetUp() override {
    FarmTest::SetUp();
    AddServer(u"SRV1");
    AddServer(u"SRV2");
    AddAccount(u"CORP", u"alice", 0, u"CN=alice,DC=corp");
    office_ = AddFolder(u"Office");
    farm_ = std::make_unique<FarmObject>();
    data_ = std::make_unique<_ZQWinAppData>();
    std::memset(data_.get(), 0, sizeof(*data_));
    data_->version = feroq::kZQAppCurrentVersion;
    data_->objectName = const_cast<WCHAR*>(u"Editor");
    data_->browserName = const_cast<WCHAR*>(u"editor");
    data_->defaultInitialProgram = const_cast<WCHAR*>(u"C:\\Apps\\editor.exe");
    data_->defaultWindowColor = ZQWindowColor256;
    data_->defaultWindowType = ZQWindow800x600;
  }
  void TearDown() override {
    farm_.reset();
    FarmTest::TearDown();
  }
  ULONG StoredApplications() {
    ULONG64* ids = nullptr;
    ULONG count = 0;
    ZQAppSAL store(subsystem());
    EXPECT_EQ(store.EnumApps(&ids, count, 0), 0u);
    ::operator delete(ids);
    return count;
  }
  // Publishes data_; on success checks the object and returns its record.
  HRESULT Publish(ZQWinAppObject** app) { return farm_->CreateZQWinApp(data_.get(), app); }

  ULONG64 office_ = 0;
  std::unique_ptr<FarmObject> farm_;
  std::unique_ptr<_ZQWinAppData> data_;
};

TEST_F(AppCreationTest, PublishesEveryPropertyAndList) {
  _ZQServerConfigBlock second{};
  second.servers[0].serverName = const_cast<WCHAR*>(u"SRV2");
  second.servers[0].workingDirectory = const_cast<WCHAR*>(u"D:\\Work");
  second.count = 1;
  _ZQServerConfigBlock first{};
  first.count = -2;  // no servers from this block; the walk goes on
  first.next = &second;
  _UserAccountInfoBlock users{};
  users.users[0] = _UserAccountInfo{0, 0, 0, W(u"CORP"), W(u"alice")};
  users.count = 1;
  data_->servers = &first;
  data_->users = &users;
  data_->parentFolder = const_cast<WCHAR*>(u"\\Applications\\Office");
  data_->desktopIntegrate = 7;    // bit 4 is not defined: stored as 3
  data_->defaultWindowScale = 256;  // non-zero, so the setter is called, with 0
  data_->useIcon = 1;
  data_->icon.mask[0] = 0x80;

  feroq::services::StartServiceCallLog();
  ZQWinAppObject* app = nullptr;
  ASSERT_EQ(Publish(&app), S_OK);
  feroq::services::StopServiceCallLog();
  const auto log = feroq::services::ServiceCallLog();
  EXPECT_NE(std::find(log.begin(), log.end(), "ZQApp::SetDefaultWindowScale"), log.end());
  EXPECT_EQ(app->GetRefCount(), 1u);

  LONG value = 0;
  EXPECT_EQ(app->GetDesktopIntegrate(&value), S_OK);
  EXPECT_EQ(value, 3);
  EXPECT_EQ(app->GetDefaultWindowScale(&value), S_OK);
  EXPECT_EQ(value, 0);
  EXPECT_EQ(app->GetServerCount(&value), S_OK);
  EXPECT_EQ(value, 1);
  EXPECT_EQ(app->GetUserCount(&value), S_OK);
  EXPECT_EQ(value, 1);
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
  WCHAR* dn = nullptr;
  ASSERT_EQ(app->GetDistinguishedName(&dn), S_OK);
  EXPECT_EQ(std::u16string(dn), u"\\Applications\\Office\\Editor");
  farm_->FreeMemory(dn);
  _ZQWinAppIcon* icon = nullptr;
  ASSERT_EQ(app->GetIcon(icon), S_OK);
  EXPECT_EQ(icon->mask[0], 0x80);
  farm_->FreeMemory(icon);
  ReleaseObject(*farm_, app);
}

TEST_F(AppCreationTest, OutOfRangeValuesAreRefusedBeforeAnythingIsWritten) {
  struct Case {
    void (*change)(_ZQWinAppData&);
    HRESULT code;
  };
  const Case cases[] = {
      {[](_ZQWinAppData& d) { d.defaultWindowColor = ZQWindowColorHigh15Bit; },
       feroq::ZQ_CREATE_E_WINDOW_COLOR},
      {[](_ZQWinAppData& d) { d.defaultWindowType = ZQWindowFullScreen; },
       feroq::ZQ_CREATE_E_WINDOW_TYPE},
      {[](_ZQWinAppData& d) { d.defaultWindowType = static_cast<_ZQWindowType>(9); },
       feroq::ZQ_CREATE_E_WINDOW_TYPE},
      {[](_ZQWinAppData& d) { d.defaultEncryptionLevel = ZQEncryptionNotSupported; },
       feroq::ZQ_CREATE_E_ENCRYPTION_LEVEL},
      {[](_ZQWinAppData& d) { d.defaultEncryptionLevel = static_cast<_ZQEncryptionLevel>(-1); },
       feroq::ZQ_CREATE_E_ENCRYPTION_LEVEL},
      {[](_ZQWinAppData& d) { d.defaultSoundType = ZQSoundNotSupported; },
       feroq::ZQ_CREATE_E_SOUND_TYPE},
      {[](_ZQWinAppData& d) { d.defaultVideoType = 2; }, feroq::ZQ_CREATE_E_VIDEO_TYPE},
      {[](_ZQWinAppData& d) { d.version = 0; }, feroq::ZQ_CREATE_E_VERSION},
      {[](_ZQWinAppData& d) { d.parentFolder = const_cast<WCHAR*>(u"\\Applications\\Nowhere"); },
       feroq::ZQ_CREATE_E_PARENT_NOT_FOUND},
      // A line break in any text would start a new line of the definition
      // file: the name below would export a working directory of its own.
      {[](_ZQWinAppData& d) {
         d.objectName = const_cast<WCHAR*>(u"Harmless\"\n    DefaultWorkingDirectory = \"D:evil");
       },
       feroq::ZQ_CREATE_E_OBJECT_NAME},
      {[](_ZQWinAppData& d) { d.defaultInitialProgram = const_cast<WCHAR*>(u"C:\\a.exe\r"); },
       feroq::ZQ_CREATE_E_INITIAL_PROGRAM},
      {[](_ZQWinAppData& d) { d.wlFolder = const_cast<WCHAR*>(u"Office\r\nTools"); }, feroq::ZQ_CREATE_E_WL_FOLDER},
      {[](_ZQWinAppData& d) {
         static _ZQServerConfigBlock servers{};
         servers.servers[0] = _ZQServerConfig{0, W(u"SRV1"), W(u"a\nb"), nullptr};
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

TEST_F(AppCreationTest, ListFailuresGiveTheirCodes) {
  _ZQServerConfigBlock servers{};
  servers.servers[0].serverName = const_cast<WCHAR*>(u"NOSUCHSERVER");
  servers.count = 1;
  data_->servers = &servers;
  ZQWinAppObject* app = nullptr;
  EXPECT_EQ(Publish(&app), feroq::ZQ_CREATE_E_SERVER);

  data_->servers = nullptr;
  _UserAccountInfoBlock users{};
  users.users[0] = _UserAccountInfo{0, 0, 0, W(u"CORP"), W(u"mallory")};
  users.count = 1;
  data_->users = &users;
  EXPECT_EQ(Publish(&app), feroq::ZQ_CREATE_E_USER);
  EXPECT_EQ(StoredApplications(), 0u);
}

TEST_F(AppCreationTest, StoreRefusalsAreMapped) {
  ZQWinAppObject* app = nullptr;
  feroq::services::InjectServiceFault("ZQAppSAL::Write", feroq::ZQAPP_E_CHECKS_FAILED);
  EXPECT_EQ(Publish(&app), E_FAIL);  // refused without details
  feroq::services::InjectServiceFault("ZQAppSAL::Write", feroq::VORN_E_ACCESSDENIED);
  EXPECT_EQ(Publish(&app), E_FAIL);
  feroq::services::InjectServiceFault("ZQApp::SetBrowserName", feroq::ZQAPP_E_BROWSER_NAME);
  EXPECT_EQ(Publish(&app), feroq::ZQ_CREATE_E_BROWSER_NAME);
  feroq::services::InjectServiceFault("ZQApp::SetPublishingFlags", feroq::VORN_E_INVALIDVALUE);
  EXPECT_EQ(Publish(&app), feroq::ZQ_CREATE_E_PUBLISHING_FLAGS);
  EXPECT_EQ(StoredApplications(), 0u);

  // A browser name another application already has: the store's checks.
  ASSERT_EQ(Publish(&app), S_OK);
  ReleaseObject(*farm_, app);
  EXPECT_NE(Publish(&app), S_OK);
  EXPECT_EQ(StoredApplications(), 1u);
}

TEST_F(AppCreationTest, AllocationFailuresLeaveTheFarmUnchanged) {
  const auto live = feroq::platform::LiveHeapBlocks();
  std::uint64_t points = 0;
  for (std::uint64_t n = 1;; ++n) {
    ZQWinAppObject* app = nullptr;
    feroq::platform::FailAllocationAt(n);
    HRESULT hr = Publish(&app);
    const bool reached = feroq::platform::AllocationFailureTriggered();
    feroq::platform::ClearAllocationFailure();
    if (hr == S_OK) {
      ULONG64 id = 0;
      app->GetObjectID(id);
      ReleaseObject(*farm_, app);
      EXPECT_EQ(StoredApplications(), 1u);
      ZQAppSAL(subsystem()).Delete(id);
      if (!reached) break;
      continue;  // the failure hit an allocation a record absorbs
    }
    ++points;
    EXPECT_EQ(StoredApplications(), 0u) << "failure point " << n << " result " << std::hex << hr;
    EXPECT_EQ(feroq::platform::LiveHeapBlocks(), live) << "failure point " << n;
  }
  EXPECT_GT(points, 5u);
}

TEST_F(AppCreationTest, ValidationResults) {
  ZQWinAppObject* app = nullptr;
  ASSERT_EQ(Publish(&app), S_OK);
  const struct {
    VSTATUS code;
    HRESULT result;
  } cases[] = {{feroq::VORN_E_ACCESSDENIED, E_ACCESSDENIED},
               {feroq::VORN_E_REFUSED, E_ACCESSDENIED},
               {feroq::VORN_E_OUTOFMEMORY, E_OUTOFMEMORY},
               {feroq::VORN_E_INVALIDVALUE, E_NOTIMPL},
               {feroq::ZQAPP_E_NOT_SUPPORTED, E_NOTIMPL},
               {feroq::ZQAPP_E_CHECKS_FAILED, E_INVALIDARG},
               {0x80001234u, E_FAIL}};
  for (const auto& c : cases) {
    feroq::services::InjectServiceFault("ZQAppSAL::ValidateOldApp", c.code);
    EXPECT_EQ(app->Validate(), c.result) << std::hex << c.code;
  }
  ASSERT_EQ(app->Delete(), S_OK);
  EXPECT_EQ(app->Validate(), E_UNEXPECTED);
  ReleaseObject(*farm_, app);
}

TEST(CharacterChecksTest, WorkingDirectories) {
  VORNString drive(u"C:\\Program Files\\App");
  VORNString bar(u"C:\\a|b");
  VORNString slash(u"C:/a");
  VORNString empty;
  EXPECT_EQ(FHasInvalidWorkDirectoryChars(drive), 0);
  EXPECT_EQ(FHasInvalidWorkDirectoryChars(bar), 1);
  EXPECT_EQ(FHasInvalidWorkDirectoryChars(slash), 1);
  EXPECT_EQ(FHasInvalidWorkDirectoryChars(empty), 0);
}

TEST(CharacterChecksTest, BrowserNames) {
  VORNString leading(u" name");
  VORNString inner(u"my name");
  VORNString stop(u"name.exe");
  VORNString hash(u"a#b");
  VORNString empty;
  EXPECT_EQ(FHasInvalidBrNameChars(leading), 1);
  EXPECT_EQ(FHasInvalidBrNameChars(inner), 0);
  EXPECT_EQ(FHasInvalidBrNameChars(stop), 1);
  EXPECT_EQ(FHasInvalidBrNameChars(hash), 1);
  EXPECT_EQ(FHasInvalidBrNameChars(empty), 0);
  for (char16_t c : std::u16string(u"\\/;:.*?=<>|[]()'\"#")) {
    VORNString one(std::u16string(1, c).c_str());
    EXPECT_EQ(FHasInvalidBrNameChars(one), 1) << static_cast<int>(c);
  }
}

}  // namespace
