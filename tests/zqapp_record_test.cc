// ZQApp and ZQApp2: the store's rules in the setters, list operations,
// Initialize, the fault injection the sweeps rely on, and the copy
// operations.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <tuple>
#include <typeinfo>
#include <vector>

#include "feroq/services/zqapp.h"
#include "platform/platform.h"
#include "services/record_access.h"
#include "services/service_faults.h"

namespace {

using feroq::platform::ClearAllocationFailure;
using feroq::platform::FailAllocationAt;
using feroq::services::ClearServiceFaults;
using feroq::services::InjectServiceFault;

// Everything a record holds, read through its public accessors.
struct RecordView {
  std::u16string browser, program, directory, description, friendly, folder;
  BYTE encryption = 0, sound = 0, color = 0, scale = 0, type = 0, desktop = 0, read_only = 0;
  ULONG height = 0, width = 0, zq = 0, wl = 0, publishing = 0, version = 0;
  ULONG64 app_folder = 0;
  std::vector<BYTE> icon;
  std::vector<std::u16string> users;
  std::map<ULONG64, std::tuple<BYTE, std::u16string, std::u16string>> servers;

  bool operator==(const RecordView&) const = default;
};

std::u16string Read(ZQApp& app, void (ZQApp::*getter)(VORNString&)) {
  VORNString value;
  (app.*getter)(value);
  return value.c_str();
}

RecordView View(ZQApp& app) {
  RecordView v;
  v.browser = Read(app, &ZQApp::GetBrowserName);
  v.program = Read(app, &ZQApp::GetDefaultInitialProgram);
  v.directory = Read(app, &ZQApp::GetDefaultWorkDirectory);
  v.description = Read(app, &ZQApp::GetDescription);
  v.friendly = Read(app, &ZQApp::GetFriendlyName);
  v.folder = Read(app, &ZQApp::GetFolder);
  app.GetDefaultEncryptionLevel(v.encryption);
  app.GetDefaultSoundType(v.sound);
  app.GetDefaultWindowColor(v.color);
  app.GetDefaultWindowScale(v.scale);
  app.GetDefaultWindowType(v.type);
  app.GetDesktopIntegrate(v.desktop);
  v.read_only = app.IsReadOnly();
  app.GetDefaultWindowHeight(v.height);
  app.GetDefaultWindowWidth(v.width);
  app.GetZQAttributes(v.zq);
  app.GetWLAttributes(v.wl);
  app.GetPublishingFlags(v.publishing);
  v.version = app.GetVersion();
  app.GetCommonAppFolder(v.app_folder);
  _WLICON_V1 icon;
  app.GetIcon(icon);
  v.icon.assign(reinterpret_cast<BYTE*>(&icon), reinterpret_cast<BYTE*>(&icon) + sizeof(icon));
  VORNString dn;
  for (VSTATUS s = app.GetFirstUser(dn); s == feroq::VORN_OK; s = app.GetNextUser(dn))
    v.users.emplace_back(dn.c_str());
  ULONG64 uid = 0;
  _ZQAPP_SERVER_CONFIG config;
  for (VSTATUS s = app.GetFirstServer(uid, config); s == feroq::VORN_OK;
       s = app.GetNextServer(uid, config)) {
    v.servers[uid] = {config.flags, config.initialProgram.c_str(), config.workDirectory.c_str()};
  }
  return v;
}

// What a blank record of `version` reads as: empty texts and lists, zeros.
RecordView BlankView(ULONG version) {
  RecordView v;
  v.version = version;
  v.icon.assign(sizeof(_WLICON_V1), 0);
  return v;
}

// Gives every property of `app` a value derived from `seed`.
void Fill(ZQApp& app, int seed) {
  const std::u16string tag(1, static_cast<char16_t>(u'a' + seed));
  VORNString text;
  text = (u"browser-" + tag).c_str();
  ASSERT_EQ(app.SetBrowserName(text), feroq::VORN_OK);
  text = (u"c:\\apps\\" + tag + u".exe").c_str();
  ASSERT_EQ(app.SetDefaultInitialProgram(text), feroq::VORN_OK);
  text = (u"c:\\work\\" + tag).c_str();
  ASSERT_EQ(app.SetDefaultWorkDirectory(text), feroq::VORN_OK);
  text = (u"description " + tag).c_str();
  ASSERT_EQ(app.SetDescription(text), feroq::VORN_OK);
  text = (u"Friendly " + tag).c_str();
  ASSERT_EQ(app.SetFriendlyName(text), feroq::VORN_OK);
  text = (u"Folder " + tag).c_str();
  ASSERT_EQ(app.SetFolder(text), feroq::VORN_OK);
  const BYTE b = static_cast<BYTE>(seed);
  ASSERT_EQ(app.SetDefaultEncryptionLevel(b + 1), feroq::VORN_OK);
  ASSERT_EQ(app.SetDefaultSoundType(b + 2), feroq::VORN_OK);
  ASSERT_EQ(app.SetDefaultWindowColor(b + 3), feroq::VORN_OK);
  ASSERT_EQ(app.SetDefaultWindowScale(b + 4), feroq::VORN_OK);
  ASSERT_EQ(app.SetDefaultWindowType(b + 5), feroq::VORN_OK);
  ASSERT_EQ(app.SetDesktopIntegrate(b + 6), feroq::VORN_OK);
  ASSERT_EQ(app.SetDefaultVideoType(b + 7), feroq::VORN_OK);
  ASSERT_EQ(app.SetDefaultWindowHeight(600u + seed), feroq::VORN_OK);
  ASSERT_EQ(app.SetDefaultWindowWidth(800u + seed), feroq::VORN_OK);
  ASSERT_EQ(app.SetZQAttributes(0x10u + seed), feroq::VORN_OK);
  ASSERT_EQ(app.SetWLAttributes(0x20u + seed), feroq::VORN_OK);
  ASSERT_EQ(app.SetPublishingFlags(0x30u + seed), feroq::VORN_OK);
  ASSERT_EQ(app.SetCommonAppFolder(feroq::MakeObjectId(feroq::kObjectKindFolder, 100 + seed)),
            feroq::VORN_OK);
  _WLICON_V1 icon;
  std::memset(icon.mask, 0xF0 + seed, sizeof(icon.mask));
  std::memset(icon.colors, 0x11 * seed, sizeof(icon.colors));
  ASSERT_EQ(app.SetIcon(icon), feroq::VORN_OK);
  VORNString dn;
  dn = (u"cn=first-" + tag).c_str();
  ASSERT_EQ(app.AddUser(dn), feroq::VORN_OK);
  dn = (u"cn=second-" + tag).c_str();
  ASSERT_EQ(app.AddUser(dn), feroq::VORN_OK);
  _ZQAPP_SERVER_CONFIG config;
  config.flags = feroq::kServerConfigHasInitialProgram;
  config.initialProgram = (u"d:\\" + tag + u".exe").c_str();
  ASSERT_EQ(app.AddServer(feroq::MakeObjectId(feroq::kObjectKindServer, seed), config),
            feroq::VORN_OK);
  config.flags = feroq::kServerConfigHasWorkDirectory;
  config.initialProgram = u"";
  config.workDirectory = (u"e:\\" + tag).c_str();
  ASSERT_EQ(app.AddServer(feroq::MakeObjectId(feroq::kObjectKindServer, seed + 50), config),
            feroq::VORN_OK);
}

class ZQAppRecordTest : public ::testing::Test {
 protected:
  void TearDown() override {
    ClearServiceFaults();
    ClearAllocationFailure();
  }
};

TEST_F(ZQAppRecordTest, StringLengthRule) {
  ZQApp app;
  VORNString longest(std::u16string(259, u'x').c_str());
  VORNString too_long(std::u16string(260, u'x').c_str());
  EXPECT_EQ(app.SetDescription(longest), feroq::VORN_OK);
  EXPECT_EQ(app.SetDescription(too_long), feroq::ZQAPP_E_VALUE_REFUSED);
  EXPECT_EQ(Read(app, &ZQApp::GetDescription).size(), 259u) << "a refused text leaves the value";
  EXPECT_EQ(app.SetDefaultInitialProgram(too_long), feroq::ZQAPP_E_VALUE_REFUSED);
  EXPECT_EQ(app.SetBrowserName(longest), feroq::VORN_OK);
  EXPECT_EQ(app.SetBrowserName(too_long), feroq::ZQAPP_E_BROWSER_NAME);
  EXPECT_EQ(Read(app, &ZQApp::GetBrowserName).size(), 259u);
}

TEST_F(ZQAppRecordTest, ReadOnlyRecordRefusesEveryChange) {
  ZQApp app;
  Fill(app, 1);
  const RecordView before = View(app);
  feroq::services::RecordAccess::SetStoredReadOnly(app, 1);
  EXPECT_EQ(app.IsReadOnly(), 1);
  VORNString text(u"changed");
  _WLICON_V1 icon{};
  _ZQAPP_SERVER_CONFIG config;
  const std::vector<std::function<VSTATUS()>> changes = {
      [&] { return app.SetBrowserName(text); },
      [&] { return app.SetDefaultInitialProgram(text); },
      [&] { return app.SetDefaultWorkDirectory(text); },
      [&] { return app.SetDescription(text); },
      [&] { return app.SetFriendlyName(text); },
      [&] { return app.SetFolder(text); },
      [&] { return app.SetDefaultEncryptionLevel(9); },
      [&] { return app.SetDefaultSoundType(9); },
      [&] { return app.SetDefaultWindowColor(9); },
      [&] { return app.SetDefaultWindowScale(9); },
      [&] { return app.SetDefaultWindowType(9); },
      [&] { return app.SetDesktopIntegrate(9); },
      [&] { return app.SetDefaultVideoType(9); },
      [&] { return app.SetDefaultWindowHeight(9); },
      [&] { return app.SetDefaultWindowWidth(9); },
      [&] { return app.SetZQAttributes(9); },
      [&] { return app.SetWLAttributes(9); },
      [&] { return app.SetPublishingFlags(9); },
      [&] { return app.SetCommonAppFolder(9); },
      [&] { return app.SetIcon(icon); },
      [&] { return app.AddUser(text); },
      [&] { return app.RemoveUser(text); },
      [&] { return app.AddServer(77, config); },
      [&] { return app.RemoveServer(feroq::MakeObjectId(feroq::kObjectKindServer, 1)); },
  };
  for (size_t i = 0; i < changes.size(); ++i)
    EXPECT_EQ(changes[i](), feroq::ZQAPP_E_READ_ONLY) << "change " << i;
  RecordView expected = before;
  expected.read_only = 1;
  EXPECT_EQ(View(app), expected);

  feroq::services::RecordAccess::SetStoredReadOnly(app, 2);  // only the value 1 means read-only
  EXPECT_EQ(app.SetDescription(text), feroq::VORN_OK);
  feroq::services::RecordAccess::SetStoredReadOnly(app, 1);
  app.ResetReadOnly();
  EXPECT_EQ(app.IsReadOnly(), 0);
  EXPECT_EQ(app.SetFolder(text), feroq::VORN_OK);
}

TEST_F(ZQAppRecordTest, InjectedServiceCodesAnswerWithoutChanging) {
  ZQApp app;
  VORNString text(u"value");
  InjectServiceFault("ZQApp::SetDescription", feroq::VORN_E_INVALIDVALUE);
  EXPECT_EQ(app.SetDescription(text), feroq::VORN_E_INVALIDVALUE);
  EXPECT_EQ(Read(app, &ZQApp::GetDescription), u"");
  EXPECT_EQ(app.SetDescription(text), feroq::VORN_OK) << "a one-shot fault answers once";

  InjectServiceFault("ZQApp::AddUser", feroq::VORN_E_OUTOFMEMORY);
  EXPECT_EQ(app.AddUser(text), feroq::VORN_E_OUTOFMEMORY);
  EXPECT_EQ(app.GetUserCount(), 0);
  InjectServiceFault("ZQApp::SetDefaultWindowHeight", feroq::ZQAPP_E_READ_ONLY);
  EXPECT_EQ(app.SetDefaultWindowHeight(5), feroq::ZQAPP_E_READ_ONLY);
  ULONG height = 1;
  app.GetDefaultWindowHeight(height);
  EXPECT_EQ(height, 0u);
}

TEST_F(ZQAppRecordTest, InitializeStartsABlankRecordOfAKnownVersion) {
  ZQApp app;
  EXPECT_EQ(View(app), BlankView(0));
  Fill(app, 2);
  EXPECT_EQ(app.Initialize(0), feroq::VORN_E_INVALIDVALUE);
  EXPECT_EQ(app.Initialize(feroq::kZQAppCurrentVersion + 1), feroq::VORN_E_INVALIDVALUE);
  EXPECT_EQ(View(app).friendly, u"Friendly c") << "a refused version changes nothing";

  feroq::services::RecordAccess::SetStoredReadOnly(app, 1);
  ASSERT_EQ(app.Initialize(feroq::kZQAppCurrentVersion), feroq::VORN_OK);
  EXPECT_EQ(View(app), BlankView(feroq::kZQAppCurrentVersion));
}

TEST_F(ZQAppRecordTest, ListOperationsUseTheTablesCodes) {
  ZQApp app;
  Fill(app, 0);
  EXPECT_EQ(app.RemoveServer(12345), feroq::VORN_E_FAILURE);
  ULONG64 uid = 0;
  _ZQAPP_SERVER_CONFIG config;
  ASSERT_EQ(app.GetFirstServer(uid, config), feroq::VORN_OK);
  EXPECT_EQ(app.GetFirstServer(uid, config), feroq::ZQAPP_E_ITERATING);
  app.StopGetServer();
  EXPECT_EQ(app.GetNextServer(uid, config), feroq::ZQAPP_E_NOT_ITERATING);

  VORNString dn;
  ASSERT_EQ(app.GetFirstUser(dn), feroq::VORN_OK);
  EXPECT_EQ(app.GetFirstUser(dn), feroq::ZQAPP_E_ITERATING);
  app.StopGetUser();
  dn = u"CN=FIRST-A";
  EXPECT_EQ(app.RemoveUser(dn), feroq::VORN_OK);
  EXPECT_EQ(View(app).users, (std::vector<std::u16string>{u"cn=second-a"}));
  VORNString empty;
  EXPECT_EQ(app.AddUser(empty), feroq::VORN_E_FAILURE);
}

TEST_F(ZQAppRecordTest, AddUserReportsFailedGrowth) {
  ZQApp app;
  VORNString dn(u"cn=someone");
  for (int i = 0; i < 20; ++i) ASSERT_EQ(app.AddUser(dn), feroq::VORN_OK);
  FailAllocationAt(1);  // the doubled name storage
  EXPECT_EQ(app.AddUser(dn), feroq::VORN_E_FAILURE);
}

// ---- Copies ----------------------------------------------------------------------

TEST_F(ZQAppRecordTest, CopyConstructorCopiesEveryMember) {
  ZQApp source;
  Fill(source, 4);
  feroq::services::RecordAccess::SetStoredReadOnly(source, 1);
  ZQApp copy(source);
  EXPECT_EQ(View(copy), View(source));
  EXPECT_EQ(feroq::services::RecordAccess::Users(copy).SizeOfUsers(), feroq::services::RecordAccess::Users(source).SizeOfUsers());
  EXPECT_EQ(feroq::services::RecordAccess::Servers(copy).SizeOfServers(), feroq::services::RecordAccess::Servers(source).SizeOfServers());

  // A source whose server enumeration is open gives a copy without servers.
  ULONG64 uid = 0;
  _ZQAPP_SERVER_CONFIG config;
  ASSERT_EQ(source.GetFirstServer(uid, config), feroq::VORN_OK);
  ZQApp partial(source);
  source.StopGetServer();
  RecordView expected = View(source);
  expected.servers.clear();
  EXPECT_EQ(View(partial), expected);
}

TEST_F(ZQAppRecordTest, AssignmentReplacesEveryMember) {
  ZQApp source;
  Fill(source, 5);
  ZQApp target;
  Fill(target, 6);
  ZQApp& result = (target = source);
  EXPECT_EQ(&result, &target);
  EXPECT_EQ(View(target), View(source));
  EXPECT_EQ(feroq::services::RecordAccess::Servers(target).SizeOfServers(), feroq::services::RecordAccess::Servers(source).SizeOfServers());

  VORNString text(u"only the target");
  ASSERT_EQ(target.SetDescription(text), feroq::VORN_OK);
  EXPECT_NE(View(source).description, u"only the target");
}

void FillExtras(ZQApp2& app, ULONG base) {
  app.extra1 = base + 1;
  app.extra2 = base + 2;
  app.extra3 = base + 3;
  app.extra4 = base + 4;
  app.extraText = base == 0 ? u"extra zero" : u"extra other";
  app.extraByte1 = static_cast<BYTE>(base + 5);
  app.extraByte2 = static_cast<BYTE>(base + 6);
}

auto Extras(const ZQApp2& app) {
  return std::make_tuple(app.extra1, app.extra2, app.extra3, app.extra4, std::u16string(app.extraText.c_str()),
                         app.extraByte1, app.extraByte2);
}

TEST_F(ZQAppRecordTest, LaterVersionCopiesCarryTheirOwnMembers) {
  ZQApp2 source;
  Fill(source, 7);
  FillExtras(source, 0);

  ZQApp2 copy(source);
  EXPECT_EQ(View(copy), View(source));
  EXPECT_EQ(Extras(copy), Extras(source));

  ZQApp2 target;
  Fill(target, 8);
  FillExtras(target, 100);
  target = source;
  EXPECT_EQ(View(target), View(source));
  EXPECT_EQ(Extras(target), Extras(source));

  const ZQApp2 blank;
  EXPECT_EQ(Extras(blank), std::make_tuple(0u, 0u, 0u, 0u, std::u16string(), BYTE{0}, BYTE{0}));
}

TEST_F(ZQAppRecordTest, BaseAssignmentCopiesTheBaseOnly) {
  ZQApp2 derived;
  Fill(derived, 9);
  FillExtras(derived, 0);
  ZQApp base;
  base = derived;
  EXPECT_EQ(typeid(base), typeid(ZQApp));
  EXPECT_EQ(View(base), View(derived));

  ZQApp plain;
  Fill(plain, 10);
  ZQApp2 target;
  FillExtras(target, 100);
  const auto extras_before = Extras(target);
  static_cast<ZQApp&>(target) = plain;
  ZQApp& as_base = target;
  EXPECT_EQ(typeid(as_base), typeid(ZQApp2)) << "the target keeps its own class";
  EXPECT_EQ(View(target), View(plain));
  EXPECT_EQ(Extras(target), extras_before);
}

}  // namespace
