// Failure sweeps over the farm-wide operations: the folder tree, lookups by
// name, enumeration and events (the application object's operations are
// swept in failure_sweep_test.cc). Each allocation is failed in turn, and
// each service call made to answer each service code in turn (see
// support/failure_sweep.h for what every run checks).
//
// Every operation runs on its own, after its setup, in a fresh farm (the
// farm of feroq::testing::FailureSweepTest). The service tables give, for each
// call an operation makes, the result the operation owes for each code the
// call answers.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "feroq/app_folder_object.h"
#include "feroq/app_import.h"
#include "feroq/services/directory_services.h"
#include "feroq/farm_object.h"
#include "feroq/services/zqapp.h"
#include "feroq/zqwinapp_object.h"
#include "support/failure_sweep.h"
#include "support/handles.h"
#include "support/temp_files.h"

namespace {

using feroq::testing::Always;
using feroq::testing::FailureSweepTest;
using feroq::testing::Holdings;
using feroq::testing::Map;
using feroq::testing::ServiceTable;
using feroq::testing::SweptOperation;
using feroq::testing::ToolState;
using feroq::testing::W;
using feroq::ImportRequest;
using namespace feroq::testing::mapping;  // NOLINT: the tables read as the mappings they state

TEST_F(FailureSweepTest, FolderTreeOperations) {
  const ServiceTable parent = {{"VORNCommonApplicationSAL::GetFolderParent", kOomElseFail}};
  std::vector<SweptOperation> ops;
  ops.push_back(OnTools("CreateSubFolder",
                        [](AppFolderObject* tools, Holdings& out) {
                          return out.Out<FolderObject>([&](auto made) { return tools->CreateSubFolder(W(u"Fresh"), made); });
                        },
                        {{"VORNCommonApplicationSAL::CreateFolder", kOomElseFail}}));
  SweptOperation rename = OnTools("SetObjectName",
                                  [](AppFolderObject* tools, Holdings&) {
                                    return tools->SetObjectName(W(u"Utilities"));
                                  },
                                  {{"VORNCommonApplicationSAL::RenameFolder", kRename}});
  rename.absorbs = {S_OK};  // a name cache that cannot be had stays empty
  ops.push_back(rename);
  SweptOperation get_name = OnTools(
      "GetObjectName",
      [](AppFolderObject* tools, Holdings& out) {
        return out.Out<char16_t>([&](auto name) { return tools->GetObjectName(name); });
      },
      {{"VORNCommonApplicationSAL::GetFolderName", Always(S_OK)}});  // nothing cached: nothing written
  get_name.absorbs = {S_OK};
  ops.push_back(get_name);
  ops.push_back(OnTools(
      "GetParentFolder",
      [](AppFolderObject* tools, Holdings& out) {
        return out.Out<FolderObject>([&](auto found) { return tools->GetParentFolder(found); });
      },
      parent));
  // The folder's own parent first (any failure: E_FAIL), then the name
  // builder; its last name read is the folder's own, and a folder without a
  // name (none read, none cached) makes no name: E_OUTOFMEMORY.
  ops.push_back(OnTools(
      "GetDistinguishedName",
      [](AppFolderObject* tools, Holdings& out) {
        char16_t* dn = nullptr;
        const HRESULT result = tools->GetDistinguishedName(&dn);
        out.Memory(dn);
        if (result == S_OK && std::u16string(dn) != u"\\Applications\\Office\\Tools") return kWrongOutput;
        return result;
      },
      With(NameBuilder(), {{"VORNCommonApplicationSAL::GetFolderParent#0", Always(E_FAIL)},
                           {"VORNCommonApplicationSAL::GetFolderName#2", Always(E_OUTOFMEMORY)}})));
  ops.back().absorbs = {S_OK};  // the folder's name cache
  ops.push_back(
      OnTools("EnumerateChildren",
              [](AppFolderObject* tools, Holdings& out) {
                CommonObject** children = nullptr;
                LONG count = 0;
                const HRESULT result = tools->EnumerateChildren(&children, &count);
                out.Objects(children, static_cast<std::size_t>(count));
                return result;
              },
              {{"VORNCommonApplicationSAL::EnumerateFolder", kOomElseFail}, {"ZQApp::new", Always(S_OK)}}));
  ops.back().makes_records = true;
  // The root folder has no parent; it is the move target.
  SweptOperation move_folder =
      OnTools("AppFolderObject::SetParentFolder",
              [](AppFolderObject* tools, Holdings&) { return tools->SetParentFolder(nullptr); },
              {{"VORNCommonApplicationSAL::GetFolderParent", Always(E_ACCESSDENIED)},
               {"VORNCommonApplicationSAL::MoveFolder", kMoveRefusal}});
  move_folder.setup = [this](ToolState& t) {
    t.folder = HoldFolder(t, tools_);
    t.target = HoldRoot(t);
  };
  move_folder.run = [](ToolState& t, Holdings&) { return t.folder->SetParentFolder(t.target); };
  // The old parent's object is made after the move: its failure is
  // reported with the move standing.
  move_folder.failure_may_follow_change = true;
  ops.push_back(move_folder);
  SweptOperation delete_folder =
      OnTools("AppFolderObject::Delete", nullptr,
              With(parent, {{"VORNCommonApplicationSAL::DeleteFolder", kFolderDelete}}));
  delete_folder.setup = [this](ToolState& t) {
    ULONG64 scratch = 0;
    ChangeFarm([&](VORNCommonApplicationSAL& folders, ZQAppSAL&) {
      EXPECT_EQ(folders.CreateFolder(tools_, W(u"Scratch"), scratch), 0u);
    });
    t.folder = HoldFolder(t, scratch);
  };
  delete_folder.run = [](ToolState& t, Holdings&) { return t.folder->Delete(); };
  ops.push_back(delete_folder);

  // Moves through the farm object: refusals of the folder service count as
  // failures here.
  const auto move = Map({{kOutOfMemory, E_OUTOFMEMORY}}, E_FAIL);
  SweptOperation move_app =
      OnApp("MoveObject (application)", nullptr, {{"VORNCommonApplicationSAL::MoveApplication", move}});
  move_app.setup = [this](ToolState& t) {
    t.app = HoldApp(t, editor_);
    t.target = HoldFolder(t, office_);
  };
  move_app.run = [](ToolState& t, Holdings&) { return t.farm->MoveObject(t.app, t.target); };
  ops.push_back(move_app);
  SweptOperation move_tools = move_folder;
  move_tools.name = "MoveObject (folder)";
  move_tools.services = With(parent, {{"VORNCommonApplicationSAL::MoveFolder", move}});
  move_tools.run = [](ToolState& t, Holdings&) { return t.farm->MoveObject(t.folder, t.target); };
  move_tools.failure_may_follow_change = false;
  ops.push_back(move_tools);

  // The application's own folder operations.
  ops.push_back(OnApp("ZQWinAppObject::GetParentFolder", [](ZQWinAppObject* app, Holdings&) {
    FolderObject* cached = nullptr;  // the application's cache: no reference for the caller
    return app->GetParentFolder(&cached);
  }));
  SweptOperation app_parent =
      OnApp("ZQWinAppObject::SetParentFolder", nullptr, {{"ZQApp::SetCommonAppFolder", Always(E_FAIL)}});
  app_parent.setup = move_app.setup;
  app_parent.run = [](ToolState& t, Holdings&) { return t.app->SetParentFolder(t.target); };
  ops.push_back(app_parent);
  // Deleting destroys the record. A record's server table that cannot list
  // its entries while it is destroyed leaves them allocated, as its code
  // documents (containers/server_table.cc): the application deleted here
  // has no servers, so that every run can account for every block.
  ops.push_back(OnApp("ZQWinAppObject::Delete", [](ZQWinAppObject* app, Holdings&) { return app->Delete(); },
                      {{"ZQAppSAL::Delete", kAppDelete}}));
  ops.back().setup = [this](ToolState& t) { t.app = HoldApp(t, viewer_); };
  Sweep("folder tree", ops);
}

TEST_F(FailureSweepTest, LookupsByName) {
  // Every failure on the way down means the component is not found.
  const ServiceTable walk = {{"feroq::FindChildrenByName", Always(S_FALSE)},
                             {"VORNCommonApplicationSAL::GetFolderName", Always(S_FALSE)},
                             {"ZQApp::new", Always(S_FALSE)},
                             {"ZQAppSAL::Read", Always(S_FALSE)}};
  // The root folder is looked up first; without its identifier there is no
  // root folder, and that failure is returned as it is.
  const ServiceTable rooted = With(walk, {{"VORNCommonApplicationSAL::GetRootFolderID", Always(E_FAIL)}});
  auto by_dn = [](std::u16string dn, bool from_office) {
    return [dn, from_office](ToolState& t, Holdings& out) {
      std::u16string text = dn;
      return out.Out<CommonObject>(
          [&](auto found) { return t.farm->GetObjectByDN(from_office ? t.folder : nullptr, text.data(), found); });
    };
  };
  std::vector<SweptOperation> ops;
  ops.push_back(OnFarm("GetObjectByDN (folder)", nullptr, rooted));
  ops.back().run = by_dn(u"\\Applications\\Office\\Tools", false);
  ops.push_back(OnFarm("GetObjectByDN (application)", nullptr, rooted));
  ops.back().run = by_dn(u"/Applications/Office/Tools/Editor", false);
  SweptOperation relative = OnTools("GetObjectByDN (from a start folder)", nullptr, walk);
  relative.setup = [this](ToolState& t) { t.folder = HoldFolder(t, office_); };
  relative.run = by_dn(u"Tools\\Editor", true);
  ops.push_back(relative);
  for (std::size_t i = 0; i < ops.size(); ++i) {
    ops[i].absorbs = {S_FALSE, S_OK};  // the walk finds nothing; a folder's name cache
    ops[i].makes_records = i > 0;
  }
  // Every application is loaded and named: a failure of either is returned
  // as it is; an application not made is not found.
  SweptOperation by_name = OnFarm(
      "GetAppByDN",
      [](FarmObject* farm, Holdings& out) {
        return out.Out<ZQWinAppObject>(
            [&](auto app) { return farm->GetAppByDN(W(u"\\Applications\\Office\\Tools\\Editor"), app); });
      },
      With(NameBuilder(), {{"ZQAppSAL::EnumApps", kEnumApps},
                           {"ZQApp::new", Always(E_INVALIDARG)},
                           {"ZQAppSAL::Read", kLoad}}));
  by_name.absorbs = {E_INVALIDARG};
  by_name.makes_records = true;
  ops.push_back(by_name);
  ops.push_back(OnApp(
      "ZQWinAppObject::GetDistinguishedName",
      [](ZQWinAppObject* app, Holdings& out) {
        return out.Out<char16_t>([&](auto dn) { return app->GetDistinguishedName(dn); });
      },
      NameBuilder()));
  Sweep("lookups by name", ops);
}

// An import: whatever fails, all of it is taken back (the sweep checks that
// the farm is as it was). It goes into Office, which holds only a folder,
// and into a folder it creates there. (The published record carries no
// servers: a record with servers destroyed while memory runs out keeps them,
// as the server table documents, and an import releases what it publishes.)
TEST_F(FailureSweepTest, ImportOfADefinitionFile) {
  feroq::testing::ScratchDir dir;
  for (const char* folder : {"", "\\New"}) {
    ASSERT_TRUE(feroq::testing::WriteWholeFile(
        dir.File(folder[0] == 0 ? "office.def" : "new.def"),
        std::string("BeginApplication\n    ObjectName = \"imported\"\n    DisplayName = \"Imported\"\n"
                    "    DefaultInitialProgram = \"C:\\i.exe\"\n    ParentFolder = \"\\Applications\\Office") +
            folder + "\"\n    UserList =\n        \"CORP\"/\"alice\".\nEndApplication\n"));
  }
  auto import = [&dir](const char* name) {
    return [file = dir.WideFile(name)](FarmObject* farm, Holdings&) {
      const char16_t* files[] = {file.c_str()};
      ImportRequest request;
      request.files = files;
      request.file_count = 1;
      request.flags = feroq::kImportCreateFolders;
      return feroq::ImportDefinitionFiles(farm, request);
    };
  };
  // Without the root's identifier there is no root folder: E_FAIL. A
  // failure on the way down to an existing folder makes it look missing;
  // creating it again is then refused (E_FAIL). On the way to the folder to
  // be created the failure changes nothing. Listing the folder's
  // applications maps out-of-memory and fails otherwise.
  const ServiceTable common = With(RecordFilling(), {{"ZQAppSAL::MaxKnownApplicationVersion", Always(S_OK)},
                                                     {"VORNCommonApplicationSAL::GetRootFolderID", Always(E_FAIL)},
                                                     {"feroq::FindChildrenByName#0", Always(E_FAIL)},
                                                     {"VORNCommonApplicationSAL::GetFolderName#0", Always(E_FAIL)}});
  std::vector<SweptOperation> ops = {
      OnFarm("ImportDefinitionFiles (into a folder)", import("office.def"),
             With(common, {{"VORNCommonApplicationSAL::EnumerateFolder", kOomElseFail}})),
      OnFarm("ImportDefinitionFiles (creating its folder)", import("new.def"),
             With(common, {{"feroq::FindChildrenByName", Always(S_OK)},
                           {"VORNCommonApplicationSAL::GetFolderName", Always(S_OK)},
                           {"VORNCommonApplicationSAL::CreateFolder", kOomElseFail},
                           {"VORNCommonApplicationSAL::EnumerateFolder", kOomElseFail}}))};
  for (SweptOperation& op : ops) {
    op.makes_records = true;
    // Memory running out in a lookup finds no folder (DN lookup rules); the
    // folder then made again is refused by its name.
    op.absorbs = {E_FAIL};
  }
  Sweep("import", ops);
}

TEST_F(FailureSweepTest, Enumeration) {
  std::vector<SweptOperation> ops;
  ops.push_back(OnFarm("EnumerateApps",
                       [](FarmObject* farm, Holdings& out) {
                         CommonObject** apps = nullptr;
                         ULONG count = 0;
                         const HRESULT result = farm->EnumerateApps(&apps, &count);
                         out.Objects(apps, count);
                         return result;
                       },
                       {{"ZQAppSAL::EnumApps", kEnumApps}, {"ZQApp::new", Always(S_OK)}}));  // fewer objects
  ops.back().makes_records = true;
  ops.push_back(OnFarm("EnumerateServers",
                       [](FarmObject* farm, Holdings& out) {
                         char16_t* names = nullptr;
                         ULONG count = 0;
                         const HRESULT result = farm->EnumerateServers(&names, &count);
                         out.Memory(names);
                         return result == S_OK && count != 2 ? kWrongOutput : result;
                       },
                       {{"VORN_ZQServerSAL::EnumerateAllServerAddresses", kOomElseFail}}));
  // Without the root's identifier there is no root folder to hand out.
  ops.push_back(OnFarm("GetRootFolder",
                       [](FarmObject* farm, Holdings& out) {
                         return out.Out<FolderObject>([&](auto root) { return farm->GetRootFolder(FarmObjectAppFolder, root); });
                       },
                       {{"VORNCommonApplicationSAL::GetRootFolderID", Always(E_FAIL)}}));
  ops.push_back(OnFarm("CreateWinAppFromID",
                       [this](FarmObject* farm, Holdings& out) {
                         ULONG64 id = editor_;
                         return out.Out<ZQWinAppObject>([&](auto app) { return farm->CreateWinAppFromID(id, app); });
                       },
                       {{"ZQApp::new", Always(E_OUTOFMEMORY)}}));
  ops.back().makes_records = true;
  ops.push_back(OnFarm("CreateAppFolderObject", [this](FarmObject* farm, Holdings& out) {
    ULONG64 id = office_;
    return out.Out<AppFolderObject>([&](auto folder) { return farm->CreateAppFolderObject(id, folder, 0); });
  }));
  ops.push_back(OnFarm("GetFarmName", [](FarmObject* farm, Holdings& out) {
    return out.Out<char16_t>([&](auto name) { return farm->GetFarmName(name); });
  }));
  ops.push_back(OnFarm("GetAppSubsysVersion",
                       [](FarmObject* farm, Holdings&) {
                         LONG version = 0;
                         return farm->GetAppSubsysVersion(&version);
                       },
                       {{"ZQAppSAL::MaxKnownApplicationVersion", Always(S_OK)}}));  // it has no result
  // A farm object that cannot make a service or its registry is half-built
  // (no service, no registry) and says so only through its operations; one
  // whose name cannot be read has none. The construction reports nothing.
  ops.push_back(OnFarm("FarmObject construction",
                       [](FarmObject*, Holdings&) {
                         FarmObject other;
                         const bool whole = other.GetObjectIDMap() != nullptr;
                         for (void* service : {other.GetZQWinAppSAL(), other.GetZQServerSAL(),
                                               other.GetUserSAL(), other.GetAppFolderSAL()}) {
                           if ((service != nullptr) != whole) return kWrongOutput;
                         }
                         FolderObject* root = nullptr;
                         if (!whole && other.GetRootFolder(FarmObjectAppFolder, &root) != E_UNEXPECTED)
                           return kWrongOutput;
                         char16_t* name = nullptr;
                         const HRESULT named = other.GetFarmName(&name);
                         other.FreeMemory(name);
                         return named == S_OK && !whole ? E_UNEXPECTED : named;
                       },
                       {{"VORN_FarmName", Always(E_UNEXPECTED)},  // its result is not looked at: no name
                        {"VORNFree_RPC_Mem", Always(S_OK)},
                        {"ZQAppSAL::new", Always(E_UNEXPECTED)},
                        {"VORN_ZQServerSAL::new", Always(E_UNEXPECTED)},
                        {"VORN_UserMgmt_SAL::new", Always(E_UNEXPECTED)},
                        {"VORNCommonApplicationSAL::new", Always(E_UNEXPECTED)}}));
  ops.back().absorbs = {E_UNEXPECTED};  // no name, or half-built
  Sweep("enumeration", ops);
}

TEST_F(FailureSweepTest, Events) {
  constexpr LONG kAllEvents = 0xFF0;
  std::vector<SweptOperation> ops;
  ops.push_back(OnFarm("CreateEventQueue",
                       [](FarmObject* farm, Holdings&) {
                         LONG queue = 77;
                         LONG masks[] = {kAllEvents};
                         const HRESULT result = farm->CreateEventQueue(masks, 1, &queue);
                         // A failure leaves the caller's handle as it was.
                         return (result == S_OK) == (queue != 77) ? result : kWrongOutput;
                       },
                       {{"VORN_CreateGenericVORNEventQueue", kOomElseFail}}));
  SweptOperation remove =
      OnFarm("DeleteEventQueue", nullptr, {{"VORN_DeleteGenericVORNEventQueue", kOomElseFail}});
  remove.setup = [](ToolState& t) { EXPECT_EQ(t.farm->CreateEventQueue(nullptr, 0, &t.queue), S_OK); };
  remove.run = [](ToolState& t, Holdings&) { return t.farm->DeleteEventQueue(t.queue); };
  ops.push_back(remove);

  // WaitForEvent with a timeout of 0 after one change of the farm. A failed
  // wait is E_FAIL; the record's release has no result.
  struct EventCase {
    const char* name;
    LONG mask;
    std::function<void(ToolState&)> before;  // objects the tool holds first
    std::function<void(VORNCommonApplicationSAL&, ZQAppSAL&)> change;
    ServiceTable services;
  };
  const ServiceTable wait = {{"VORN_WaitGenericVORNEventQueue", Always(E_FAIL)},
                             {"VORNFree_RPC_Mem", Always(S_OK)}};
  const EventCase cases[] = {
      {"folder created", 0x10, nullptr,
       [this](VORNCommonApplicationSAL& f, ZQAppSAL&) {
         ULONG64 made = 0;
         EXPECT_EQ(f.CreateFolder(tools_, W(u"Fresh"), made), 0u);
       },
       wait},
      {"folder renamed", 0x40, nullptr,
       [this](VORNCommonApplicationSAL& f, ZQAppSAL&) {
         EXPECT_EQ(f.RenameFolder(tools_, W(u"Utilities")), 0u);
       },
       wait},
      // The tool holds the folder with its name read: the deleted folder's
      // registered object is detached (its cached name stands in for one the
      // service no longer has).
      {"folder deleted", 0x20,
       [this](ToolState& t) {
         AppFolderObject* tools = HoldFolder(t, tools_);
         char16_t* name = nullptr;
         EXPECT_EQ(tools->GetObjectName(&name), S_OK);
         t.farm->FreeMemory(name);
         ChangeFarm([this](VORNCommonApplicationSAL&, ZQAppSAL& store) {
           EXPECT_EQ(store.Delete(viewer_), 0u);
           EXPECT_EQ(store.Delete(editor_), 0u);
         });
       },
       [this](VORNCommonApplicationSAL& f, ZQAppSAL&) { EXPECT_EQ(f.DeleteFolder(tools_), 0u); },
       With(wait, {{"VORNCommonApplicationSAL::GetFolderName", Always(S_OK)}})},
      {"folder moved", 0x80, nullptr,
       [this](VORNCommonApplicationSAL& f, ZQAppSAL&) {
         ULONG64 root = 0;
         EXPECT_EQ(f.GetRootFolderID(root), 0u);
         EXPECT_EQ(f.MoveFolder(tools_, office_, root), 0u);
       },
       With(wait, {{"VORNCommonApplicationSAL::GetFolderParent", kOomElseFail}})},
      {"application changed", 0x400, nullptr,
       [this](VORNCommonApplicationSAL&, ZQAppSAL& store) {
         ZQApp record;
         ULONG64 id = viewer_;
         EXPECT_EQ(store.Read(id, record), 0u);
         EXPECT_EQ(store.Write(id, record, nullptr), 0u);
       },
       With(wait, {{"ZQApp::new", Always(E_OUTOFMEMORY)}})},
      // The tool holds the application with its parent cached: the move
      // is carried into its record and cache.
      {"application moved", 0x800,
       [this](ToolState& t) {
         t.app = HoldApp(t, editor_);
         FolderObject* cached = nullptr;
         EXPECT_EQ(t.app->GetParentFolder(&cached), S_OK);
       },
       [this](VORNCommonApplicationSAL& f, ZQAppSAL&) {
         EXPECT_EQ(f.MoveApplication(editor_, tools_, office_), 0u);
       },
       With(wait, {{"ZQApp::SetCommonAppFolder", Always(E_FAIL)}})},
  };
  for (const EventCase& c : cases) {
    SweptOperation op = OnFarm(std::string("WaitForEvent (") + c.name + ")", nullptr, c.services);
    op.setup = [this, c](ToolState& t) {
      if (c.before) c.before(t);
      EXPECT_EQ(t.farm->CreateEventQueue(nullptr, 0, &t.queue), S_OK);
      ChangeFarm(c.change);
    };
    const LONG mask = c.mask;
    op.run = [mask](ToolState& t, Holdings& out) {
      LONG type = 0;
      CommonObject* first = nullptr;
      CommonObject* second = nullptr;
      const HRESULT result = t.farm->WaitForEvent(t.queue, 0, &type, &first, &second);
      out.Object(first);
      out.Object(second);
      if (result == S_OK) return type == mask && first != nullptr ? S_OK : kWrongOutput;
      // A failed wait hands out no object.
      return first == nullptr && second == nullptr ? result : kWrongOutput;
    };
    op.makes_records = mask >= 0x100;
    ops.push_back(op);
  }
  Sweep("events", ops);
}

}  // namespace
