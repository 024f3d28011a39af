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

// The record's texts, byte values and words, each with its getter and setter.
struct TextField {
  void (ZQApp::*get)(VORNString&);
  VSTATUS (ZQApp::*set)(VORNString&);
};
constexpr TextField kTexts[] = {
    {&ZQApp::GetBrowserName, &ZQApp::SetBrowserName},   {&ZQApp::GetDefaultInitialProgram, &ZQApp::SetDefaultInitialProgram},
    {&ZQApp::GetDefaultWorkDirectory, &ZQApp::SetDefaultWorkDirectory}, {&ZQApp::GetDescription, &ZQApp::SetDescription},
    {&ZQApp::GetFriendlyName, &ZQApp::SetFriendlyName}, {&ZQApp::GetFolder, &ZQApp::SetFolder},
};
struct ByteField {
  void (ZQApp::*get)(BYTE&);
  VSTATUS (ZQApp::*set)(BYTE);
};
constexpr ByteField kBytes[] = {
    {&ZQApp::GetDefaultEncryptionLevel, &ZQApp::SetDefaultEncryptionLevel},
    {&ZQApp::GetDefaultSoundType, &ZQApp::SetDefaultSoundType}, {&ZQApp::GetDefaultWindowColor, &ZQApp::SetDefaultWindowColor},
    {&ZQApp::GetDefaultWindowScale, &ZQApp::SetDefaultWindowScale}, {&ZQApp::GetDefaultWindowType, &ZQApp::SetDefaultWindowType},
    {&ZQApp::GetDesktopIntegrate, &ZQApp::SetDesktopIntegrate}, {&ZQApp::GetDefaultVideoType, &ZQApp::SetDefaultVideoType},
};
struct WordField {
  void (ZQApp::*get)(ULONG&);
  VSTATUS (ZQApp::*set)(ULONG);
};
constexpr WordField kWords[] = {
    {&ZQApp::GetDefaultWindowHeight, &ZQApp::SetDefaultWindowHeight},
    {&ZQApp::GetDefaultWindowWidth, &ZQApp::SetDefaultWindowWidth}, {&ZQApp::GetZQAttributes, &ZQApp::SetZQAttributes},
    {&ZQApp::GetWLAttributes, &ZQApp::SetWLAttributes}, {&ZQApp::GetPublishingFlags, &ZQApp::SetPublishingFlags},
};

// Everything a record holds, read through its public accessors.
struct RecordView {
  std::vector<std::u16string> texts;
  std::vector<BYTE> bytes;
  std::vector<ULONG> words;
  BYTE read_only = 0;
  ULONG version = 0;
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
  for (const TextField& f : kTexts) v.texts.push_back(Read(app, f.get));
  for (const ByteField& f : kBytes) (app.*f.get)(v.bytes.emplace_back());
  for (const WordField& f : kWords) (app.*f.get)(v.words.emplace_back());
  v.read_only = app.IsReadOnly();
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
  v.texts.resize(std::size(kTexts));
  v.bytes.resize(std::size(kBytes));
  v.words.resize(std::size(kWords));
  v.version = version;
  v.icon.assign(sizeof(_WLICON_V1), 0);
  return v;
}

// Gives every property of `app` a value derived from `seed`.
void Fill(ZQApp& app, int seed) {
  const std::u16string tag(1, static_cast<char16_t>(u'a' + seed));
  int n = 0;
  for (const TextField& f : kTexts) {
    VORNString text((u"text " + std::u16string(1, static_cast<char16_t>(u'0' + n++)) + tag).c_str());
    ASSERT_EQ((app.*f.set)(text), feroq::VORN_OK);
  }
  for (const ByteField& f : kBytes) ASSERT_EQ((app.*f.set)(static_cast<BYTE>(seed + n++)), feroq::VORN_OK);
  for (const WordField& f : kWords) ASSERT_EQ((app.*f.set)(0x100u * seed + n++), feroq::VORN_OK);
  ASSERT_EQ(app.SetCommonAppFolder(feroq::MakeObjectId(feroq::kObjectKindFolder, 100 + seed)), feroq::VORN_OK);
  _WLICON_V1 icon;
  std::memset(icon.mask, 0xF0 + seed, sizeof(icon.mask));
  std::memset(icon.colors, 0x11 * seed, sizeof(icon.colors));
  ASSERT_EQ(app.SetIcon(icon), feroq::VORN_OK);
  for (const char16_t* user : {u"cn=first-", u"cn=second-"}) {
    VORNString dn((user + tag).c_str());
    ASSERT_EQ(app.AddUser(dn), feroq::VORN_OK);
  }
  _ZQAPP_SERVER_CONFIG config;
  config.flags = feroq::kServerConfigHasInitialProgram;
  config.initialProgram = (u"d:\\" + tag + u".exe").c_str();
  ASSERT_EQ(app.AddServer(feroq::MakeObjectId(feroq::kObjectKindServer, seed), config), feroq::VORN_OK);
  config.flags = feroq::kServerConfigHasWorkDirectory;
  config.initialProgram = u"";
  config.workDirectory = (u"e:\\" + tag).c_str();
  ASSERT_EQ(app.AddServer(feroq::MakeObjectId(feroq::kObjectKindServer, seed + 50), config), feroq::VORN_OK);
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
  std::vector<std::function<VSTATUS()>> changes = {
      [&] { return app.SetCommonAppFolder(9); },
      [&] { return app.SetIcon(icon); },
      [&] { return app.AddUser(text); },
      [&] { return app.RemoveUser(text); },
      [&] { return app.AddServer(77, config); },
      [&] { return app.RemoveServer(feroq::MakeObjectId(feroq::kObjectKindServer, 1)); },
  };
  for (const TextField& f : kTexts) changes.push_back([&, f] { return (app.*f.set)(text); });
  for (const ByteField& f : kBytes) changes.push_back([&, f] { return (app.*f.set)(9); });
  for (const WordField& f : kWords) changes.push_back([&, f] { return (app.*f.set)(9); });
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

  InjectServiceFault("ZQApp::new", feroq::VORN_E_OUTOFMEMORY);  // a record is not made
  EXPECT_EQ(new (std::nothrow) ZQApp, nullptr);
}

TEST_F(ZQAppRecordTest, InitializeStartsABlankRecordOfAKnownVersion) {
  ZQApp app;
  EXPECT_EQ(View(app), BlankView(0));
  Fill(app, 2);
  EXPECT_EQ(app.Initialize(0), feroq::VORN_E_INVALIDVALUE);
  EXPECT_EQ(app.Initialize(feroq::kZQAppCurrentVersion + 1), feroq::VORN_E_INVALIDVALUE);
  EXPECT_EQ(View(app).texts[4], u"text 4c") << "a refused version changes nothing";

  feroq::services::RecordAccess::SetStoredReadOnly(app, 1);
  ASSERT_EQ(app.Initialize(feroq::kZQAppCurrentVersion), feroq::VORN_OK);
  EXPECT_EQ(View(app), BlankView(feroq::kZQAppCurrentVersion));
}

// ---- Copies ----------------------------------------------------------------------

// The lists' size totals, which a view cannot see.
void ExpectSameTotals(ZQApp& a, ZQApp& b) {
  using feroq::services::RecordAccess;
  EXPECT_EQ(RecordAccess::Users(a).SizeOfUsers(), RecordAccess::Users(b).SizeOfUsers());
  EXPECT_EQ(RecordAccess::Servers(a).SizeOfServers(), RecordAccess::Servers(b).SizeOfServers());
}

TEST_F(ZQAppRecordTest, CopiesAndAssignmentsCarryEveryMember) {
  ZQApp source;
  Fill(source, 4);
  feroq::services::RecordAccess::SetStoredReadOnly(source, 1);
  ZQApp copy(source);
  EXPECT_EQ(View(copy), View(source));
  ExpectSameTotals(copy, source);

  ZQApp target;
  Fill(target, 6);
  ZQApp& result = (target = source);
  EXPECT_EQ(&result, &target);
  EXPECT_EQ(View(target), View(source));
  ExpectSameTotals(target, source);
  target.ResetReadOnly();
  VORNString text(u"only the target");
  ASSERT_EQ(target.SetDescription(text), feroq::VORN_OK);
  EXPECT_NE(View(source).texts[3], u"only the target");
  ZQApp blank;
  target = blank;  // the target's icon goes too
  EXPECT_EQ(View(target), BlankView(0));

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

void FillExtras(ZQApp2& app, ULONG base) {
  std::tie(app.extra1, app.extra2, app.extra3, app.extra4) = std::make_tuple(base + 1, base + 2, base + 3, base + 4);
  app.extraText = base == 0 ? u"extra zero" : u"extra other";
  std::tie(app.extraByte1, app.extraByte2) = std::make_tuple(BYTE(base + 5), BYTE(base + 6));
}

auto Extras(const ZQApp2& app) {
  return std::make_tuple(app.extra1, app.extra2, app.extra3, app.extra4, std::u16string(app.extraText.c_str()),
                         app.extraByte1, app.extraByte2);
}

TEST_F(ZQAppRecordTest, LaterVersionCopiesCarryTheirOwnMembersAndBaseAssignmentsTheBase) {
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

  // Assigned to a base, a later version gives the base its members only;
  // assigned through its base, it keeps its own class and members.
  ZQApp base;
  base = source;
  EXPECT_EQ(typeid(base), typeid(ZQApp));
  EXPECT_EQ(View(base), View(source));
  ZQApp plain;
  Fill(plain, 10);
  const auto extras_before = Extras(target);
  static_cast<ZQApp&>(target) = plain;
  ZQApp& as_base = target;
  EXPECT_EQ(typeid(as_base), typeid(ZQApp2)) << "the target keeps its own class";
  EXPECT_EQ(View(target), View(plain));
  EXPECT_EQ(Extras(target), extras_before);
}

}  // namespace
