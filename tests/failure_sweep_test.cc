// Failure sweeps over the published application's operations: publishing,
// loading, saving and every property, the server and user lists, export and
// icons (the farm-wide operations are swept in failure_sweep_farm_test.cc).
// Each allocation is failed in turn, and each service call made to answer
// each service code in turn (see support/failure_sweep.h for what every run
// checks).
//
// Every operation runs on its own, after its setup, in a fresh farm (the
// farm of feroq::testing::FailureSweepTest). The service tables give, for each
// call an operation makes, the result the operation owes for each code the
// call answers.
#include "support/failure_sweep.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "feroq/app_data.h"
#include "feroq/app_folder_object.h"
#include "feroq/services/directory_services.h"
#include "feroq/services/farm_admin.h"
#include "feroq/farm_object.h"
#include "feroq/services/zqapp.h"
#include "feroq/zqwinapp_object.h"
#include "services/service_faults.h"
#include "support/farm_fixture.h"
#include "support/handles.h"
#include "support/icon_samples.h"
#include "support/temp_files.h"

namespace {

using feroq::testing::Always;
using feroq::testing::Holdings;
using feroq::testing::Map;
using feroq::testing::ServiceTable;
using feroq::testing::SweptOperation;
using feroq::testing::TextPool;
using feroq::testing::W;
using feroq::testing::ToolState;
using namespace feroq::testing::mapping;  // NOLINT: the tables read as the mappings they state

class FailureSweepTest : public feroq::testing::FailureSweepTest {
 protected:
  void SetUp() override {
    feroq::testing::FailureSweepTest::SetUp();
    icon_file_ = dir_.WideFile("sample.ico");
    ASSERT_TRUE(feroq::testing::WriteBytes(
        dir_.File("sample.ico"),
        feroq::testing::MakeIco({feroq::testing::DibImage(32, 32, 4, feroq::testing::PatternPicture(3))})));
  }

  feroq::testing::ScratchDir dir_;
  std::u16string icon_file_;
};

TEST_F(FailureSweepTest, PublishWithServersUsersAndIcon) {
  SweptOperation publish;
  publish.name = "CreateZQWinApp";
  publish.makes_records = true;
  publish.run = [](ToolState& t, Holdings& out) {
    TextPool texts;
    _ZQServerConfigBlock servers{};
    servers.servers[0] = {0, texts(u"SRV1"), texts(u"C:\\Own\\pub.exe"), nullptr};
    servers.servers[1] = {0, texts(u"SRV2"), nullptr, texts(u"D:\\Work")};
    servers.count = 2;
    _UserAccountInfoBlock users{};
    users.users[0] = {0, 0, 0, texts(u"CORP"), texts(u"alice")};
    users.users[1] = {0, 0, 1, texts(u"CORP"), texts(u"bob")};
    users.count = 2;
    auto data = feroq::testing::AppData(texts, u"Publisher", u"publisher", u"\\Applications\\Office\\Tools");
    data->defaultInitialProgram = texts(u"C:\\Apps\\pub.exe");
    data->defaultWorkingDirectory = texts(u"C:\\Apps");
    data->description = texts(u"Publishes");
    data->wlFolder = texts(u"Desk");
    data->defaultWindowType = ZQWindowCustom;
    data->defaultWindowHeight = 600;
    data->defaultWindowWidth = 800;
    data->defaultWindowScale = 50;
    data->desktopIntegrate = 3;
    data->servers = &servers;
    data->users = &users;
    data->useIcon = 1;
    data->icon.mask[5] = 0xF0;
    data->icon.colors[17] = 0x9C;
    ZQWinAppObject* app = nullptr;
    const HRESULT result = t.farm->CreateZQWinApp(data.get(), &app);
    if (result == S_OK) {
      out.Object(app);
      LONG count = 0;
      if (app->GetServerCount(&count) != S_OK || count != 2) return kWrongOutput;
      if (app->GetUserCount(&count) != S_OK || count != 2) return kWrongOutput;
    }
    return result;
  };
  // The parent folder's lookup: any failure means not found.
  publish.services = With(RecordFilling(), {{"VORNCommonApplicationSAL::GetRootFolderID", Always(feroq::ZQ_CREATE_E_PARENT_NOT_FOUND)},
                                            {"feroq::FindChildrenByName", Always(feroq::ZQ_CREATE_E_PARENT_NOT_FOUND)},
                                            {"VORNCommonApplicationSAL::GetFolderName", Always(feroq::ZQ_CREATE_E_PARENT_NOT_FOUND)}});
  Sweep("publish", {publish});
}

TEST_F(FailureSweepTest, LoadAndSetEveryProperty) {
  std::vector<SweptOperation> ops;
  SweptOperation load =
      OnApp("Load", [](ZQWinAppObject* app, Holdings&) { return app->Load(); }, {{"ZQAppSAL::Read", kLoad}});
  load.makes_records = true;  // the store starts the record again from a blank one
  ops.push_back(load);
  SweptOperation save =
      OnApp("Save", [](ZQWinAppObject* app, Holdings&) { return app->Save(); }, {{"ZQAppSAL::Write", kSave}});
  save.setup = [this](ToolState& t) {
    t.app = HoldApp(t, editor_);
    EXPECT_EQ(t.app->SetDescription(W(u"Changed")), S_OK);
  };
  ops.push_back(save);

  struct StringGetter {
    const char* name;
    HRESULT (*get)(ZQWinAppObject*, char16_t**);
    HRESULT expected = S_OK;
  };
  const StringGetter getters[] = {
      {"GetBrowserName", [](ZQWinAppObject* a, char16_t** s) { return a->GetBrowserName(s); }},
      {"GetDefaultInitialProgram", [](ZQWinAppObject* a, char16_t** s) { return a->GetDefaultInitialProgram(s); }},
      {"GetDefaultWorkingDirectory",
       [](ZQWinAppObject* a, char16_t** s) { return a->GetDefaultWorkingDirectory(*s); }},
      {"GetDescription", [](ZQWinAppObject* a, char16_t** s) { return a->GetDescription(s); }},
      {"GetObjectName", [](ZQWinAppObject* a, char16_t** s) { return a->GetObjectName(s); }},
      {"GetWLFolder (empty)", [](ZQWinAppObject* a, char16_t** s) { return a->GetWLFolder(*s); }, S_FALSE},
  };
  for (const StringGetter& getter : getters) {
    ops.push_back(OnApp(getter.name, [getter](ZQWinAppObject* app, Holdings& out) {
      return out.Out<char16_t>([&](auto text) { return getter.get(app, text); });
    }, {}, getter.expected));
  }
  SweptOperation scalar_getters = OnApp("scalar getters", [](ZQWinAppObject* app, Holdings&) {
    _ZQEncryptionLevel level;
    _ZQSoundType sound;
    _ZQWindowColor color;
    _ZQWindowType type;
    LONG value = 0;
    int flag = 0;
    const HRESULT results[] = {app->GetDefaultEncryptionLevel(&level),
                               app->GetDefaultSoundType(&sound),
                               app->GetDefaultWindowColor(&color),
                               app->GetDefaultWindowType(&type),
                               app->GetDefaultWindowHeight(&value),
                               app->GetDefaultWindowWidth(&value),
                               app->GetDefaultWindowScale(&value),
                               app->GetDesktopIntegrate(&value),
                               app->GetZQAttributes(&value),
                               app->GetWLAttributes(&value),
                               app->GetPublishingFlags(&value),
                               app->GetEnabled(&flag),
                               app->GetReadOnly(&flag),
                               app->GetVersion(&value),
                               app->GetServerCount(&value),
                               app->GetUserCount(&value)};
    for (HRESULT result : results) {
      if (result != S_OK) return result;
    }
    return S_OK;
  });
  scalar_getters.setup = [this](ToolState& t) {
    t.app = HoldApp(t, editor_);
    EXPECT_EQ(t.app->SetDefaultEncryptionLevel(ZQEncryptionBasic), S_OK);
    EXPECT_EQ(t.app->SetDefaultWindowColor(ZQWindowColor256), S_OK);
    EXPECT_EQ(t.app->SetDefaultWindowType(ZQWindow800x600), S_OK);
  };
  ops.push_back(scalar_getters);

  struct StringSetter {
    const char* call;
    HRESULT (ZQWinAppObject::*setter)(char16_t*);
  };
  const StringSetter setters[] = {
      {"ZQApp::SetBrowserName", &ZQWinAppObject::SetBrowserName},
      {"ZQApp::SetDefaultInitialProgram", &ZQWinAppObject::SetDefaultInitialProgram},
      {"ZQApp::SetDefaultWorkDirectory", &ZQWinAppObject::SetDefaultWorkingDirectory},
      {"ZQApp::SetDescription", &ZQWinAppObject::SetDescription},
      {"ZQApp::SetFriendlyName", &ZQWinAppObject::SetObjectName},
      {"ZQApp::SetFolder", &ZQWinAppObject::SetWLFolder},
  };
  for (const StringSetter& s : setters) {
    const bool browser = std::string(s.call) == "ZQApp::SetBrowserName";
    ops.push_back(OnApp(
        s.call,
        [s](ZQWinAppObject* app, Holdings&) { return (app->*s.setter)(W(u"NewValue")); },
        {{s.call, browser ? kBrowserNameSet : kStringSet}}));
  }
  struct ScalarSetter {
    const char* call;
    std::function<HRESULT(ZQWinAppObject*)> set;
    feroq::testing::CodeMapping mapping;
  };
  const ScalarSetter scalars[] = {
      {"ZQApp::SetDefaultEncryptionLevel",
       [](ZQWinAppObject* a) { return a->SetDefaultEncryptionLevel(ZQEncryptionRC5_56Bit); }, kEnumSet},
      {"ZQApp::SetDefaultSoundType", [](ZQWinAppObject* a) { return a->SetDefaultSoundType(ZQSoundBasic); },
       kEnumSet},
      {"ZQApp::SetDefaultWindowType",
       [](ZQWinAppObject* a) { return a->SetDefaultWindowType(ZQWindowPercent); }, kEnumSet},
      {"ZQApp::SetDesktopIntegrate", [](ZQWinAppObject* a) { return a->SetDesktopIntegrate(3); }, kEnumSet},
      {"ZQApp::SetZQAttributes", [](ZQWinAppObject* a) { return a->SetZQAttributes(2); }, kEnumSet},
      {"ZQApp::SetWLAttributes", [](ZQWinAppObject* a) { return a->SetWLAttributes(0x22); }, kEnumSet},
      {"ZQApp::SetWLAttributes", [](ZQWinAppObject* a) { return a->SetEnabled(0); }, kEnumSet},
      {"ZQApp::SetDefaultWindowColor",
       [](ZQWinAppObject* a) { return a->SetDefaultWindowColor(ZQWindowColorTrue); }, kColorSet},
      {"ZQApp::SetDefaultWindowHeight", [](ZQWinAppObject* a) { return a->SetDefaultWindowHeight(480); },
       kNumberSet},
      {"ZQApp::SetDefaultWindowWidth", [](ZQWinAppObject* a) { return a->SetDefaultWindowWidth(640); },
       kNumberSet},
      {"ZQApp::SetDefaultWindowScale", [](ZQWinAppObject* a) { return a->SetDefaultWindowScale(75); },
       kNumberSet},
      {"ZQApp::SetPublishingFlags", [](ZQWinAppObject* a) { return a->SetPublishingFlags(5); }, kNumberSet},
  };
  for (const ScalarSetter& s : scalars) {
    auto set = s.set;
    ops.push_back(
        OnApp(s.call, [set](ZQWinAppObject* app, Holdings&) { return set(app); }, {{s.call, s.mapping}}));
  }
  ops.push_back(OnApp("SetReadOnly(0)", [](ZQWinAppObject* app, Holdings&) { return app->SetReadOnly(0); }));
  Sweep("properties", ops);
}

TEST_F(FailureSweepTest, ServerAndUserLists) {
  const ServiceTable lookup = {{"VORN_ZQServerSAL::GetUIDByName", kOomElseFail}};
  const ServiceTable names = {{"VORN_ZQServerSAL::GetNameByUID", kOomElseFail}};
  // Account name to DN: the authority record's type and instance are set
  // without looking at the result (the user service then finds no account).
  const ServiceTable resolve = {{"UM_AcctAuthInfo::SetType", Always(E_FAIL)},
                                {"UM_AcctAuthInfo::SetInstance", Always(E_FAIL)},
                                {"UM_AcctAuthInfo::GetType", Always(E_FAIL)},
                                {"UM_AcctAuthInfo::GetInstance", Always(E_FAIL)},
                                {"VORN_UserMgmt_SAL::ResolveAccountNameToDN", kOomElseFail}};
  // DN to account: the user service's own failures (its authority record
  // included) as mapped; the library's reads of type and instance: E_FAIL.
  const ServiceTable account = {{"VORN_UserMgmt_SAL::ResolveDNToAccountName", kOomElseFail},
                                {"UM_AcctAuthInfo::SetType", kOomElseFail},
                                {"UM_AcctAuthInfo::SetInstance", kOomElseFail},
                                {"UM_AcctAuthInfo::GetType", Always(E_FAIL)},
                                {"UM_AcctAuthInfo::GetInstance", Always(E_FAIL)}};
  auto server = [](ZQWinAppObject* app, Holdings& out, bool first) {
    _ZQServerConfig config{};
    const HRESULT result = first ? app->GetFirstServer(&config) : app->GetNextServer(&config);
    out.Memory(config.serverName);
    out.Memory(config.initialProgram);
    out.Memory(config.workingDirectory);
    return result;
  };
  auto user = [](ZQWinAppObject* app, Holdings& out, bool first) {
    _UserAccountInfo info{};
    const HRESULT result = first ? app->GetFirstUser(&info) : app->GetNextUser(&info);
    out.Memory(info.domain);
    out.Memory(info.accountName);
    return result;
  };
  std::vector<SweptOperation> ops;
  ops.push_back(OnApp(
      "AddServer",
      [](ZQWinAppObject* app, Holdings&) {
        TextPool texts;
        _ZQServerConfig config{0, texts(u"SRV2"), texts(u"C:\\x.exe"), texts(u"C:\\")};
        return app->AddServer(&config);
      },
      With(lookup, {{"ZQApp::AddServer", kServerChange}})));
  ops.push_back(OnApp(
      "RemoveServer",
      [](ZQWinAppObject* app, Holdings&) { return app->RemoveServer(W(u"SRV1")); },
      With(lookup, {{"ZQApp::RemoveServer", kServerChange}})));
  ops.push_back(OnApp(
      "GetFirstServer", [server](ZQWinAppObject* app, Holdings& out) { return server(app, out, true); },
      With(names, {{"ZQApp::GetFirstServer", kServerStep}})));
  SweptOperation next_server = OnApp(
      "GetNextServer", [server](ZQWinAppObject* app, Holdings& out) { return server(app, out, false); },
      With(names, {{"ZQApp::GetNextServer", kServerStep}}));
  next_server.setup = [this, server](ToolState& t) {
    t.app = HoldApp(t, editor_);
    Holdings first(*t.farm);
    EXPECT_EQ(server(t.app, first, true), S_OK);
  };
  ops.push_back(next_server);
  ops.push_back(OnApp(
      "AddUser",
      [](ZQWinAppObject* app, Holdings&) {
        TextPool texts;
        _UserAccountInfo info{0, 0, 0, texts(u"CORP"), texts(u"alice")};
        return app->AddUser(&info);
      },
      With(resolve, {{"ZQApp::AddUser", Always(E_FAIL)}})));
  ops.push_back(OnApp(
      "RemoveUser",
      [](ZQWinAppObject* app, Holdings&) {
        TextPool texts;
        _UserAccountInfo info{0, 0, 1, texts(u"corp"), texts(u"BOB")};
        return app->RemoveUser(&info);
      },
      With(resolve, {{"ZQApp::RemoveUser", Always(E_FAIL)}})));
  ops.push_back(OnApp(
      "GetFirstUser", [user](ZQWinAppObject* app, Holdings& out) { return user(app, out, true); },
      With(account, {{"ZQApp::GetFirstUser", kFirstUser}})));
  SweptOperation next_user = OnApp(
      "GetNextUser", [user](ZQWinAppObject* app, Holdings& out) { return user(app, out, false); },
      With(account, {{"ZQApp::GetNextUser", kNextUser}}));
  next_user.setup = [this, user](ToolState& t) {
    t.app = HoldApp(t, editor_);
    Holdings first(*t.farm);
    EXPECT_EQ(user(t.app, first, true), S_OK);
  };
  ops.push_back(next_user);
  ops.push_back(OnApp("Validate", [](ZQWinAppObject* app, Holdings&) { return app->Validate(); },
                      {{"ZQAppSAL::ValidateOldApp", kValidate}}));
  Sweep("server and user lists", ops);
}

TEST_F(FailureSweepTest, ExportOfAllFourKindsAndIcons) {
  const std::u16string path = dir_.WideFile("export.out");
  const std::u16string icon_path = dir_.WideFile("export.ico");
  auto export_file = [path](_ZQWinAppFileType type, void* options) {
    return [path, type, options](ZQWinAppObject* app, Holdings&) {
      std::u16string name = path;
      return app->ExportFile(type, W(u"english"), name.data(), options);
    };
  };
  static TextPool texts;
  static _LaunchFileOptions launch{800, 600, 0, 8, ZQEncryptionRC5_56Bit, 0, 0, 1, 1, texts(u"SRV2"), 1494, 0};
  static _HTMLFileOptions html{640, 0, 0, 1, 1, 1};
  std::vector<SweptOperation> ops;
  ops.push_back(OnApp("ExportFile (launch file)", export_file(ZQWinAppLaunchFile, &launch),
                      {{"ZQAppSAL::CreateOBRFile", kFileRequest}}));
  ops.push_back(OnApp("ExportFile (HTML page)", export_file(ZQWinAppHTMLFile, &html),
                      {{"ZQAppSAL::CreateHTMLFile", kFileRequest}}));
  // A getter or list step that fails leaves its line out: the result stays.
  ops.push_back(OnApp("ExportFile (definition file)", export_file(ZQWinAppDefinitionFile, nullptr),
                      {{"*", Always(S_OK)}}));
  ops.back().absorbs = {S_OK};
  ops.push_back(OnApp("GetIconFile", [icon_path](ZQWinAppObject* app, Holdings&) {
    std::u16string name = icon_path;
    return app->GetIconFile(IconFileFormatICO, name.data());
  }));
  ops.push_back(OnApp("GetIcon", [](ZQWinAppObject* app, Holdings& out) {
    return out.Out<_ZQWinAppIcon>([&](auto icon) { return app->GetIcon(*icon); });
  }));
  ops.push_back(OnApp("SetIcon",
                      [](ZQWinAppObject* app, Holdings&) {
                        _ZQWinAppIcon icon{};
                        icon.mask[0] = 0x81;
                        return app->SetIcon(&icon);
                      },
                      {{"ZQApp::SetIcon", kIconSet}}));
  const std::u16string sample = icon_file_;
  ops.push_back(OnApp("SetIconFile",
                      [sample](ZQWinAppObject* app, Holdings&) {
                        std::u16string name = sample;
                        return app->SetIconFile(IconFileFormatICO, name.data(), 0);
                      },
                      {{"ZQApp::SetIcon", kIconSet}}));
  Sweep("export", ops);
}

}  // namespace
