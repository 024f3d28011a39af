// The folder service and the application store service against a memory
// farm: tree operations and their refusals, publishing, reading, moving and
// listing applications, and who owns the blocks they hand out. What the
// failure sweeps prove through the library (every service code, every
// allocation failure) is not repeated here.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <vector>

#include "feroq/services/directory_services.h"
#include "feroq/services/zqapp.h"
#include "platform/platform.h"
#include "services/record_access.h"
#include "support/farm_fixture.h"
#include "support/handles.h"

namespace feroq::testing {
namespace {

class FolderServiceTest : public FarmTest {
 protected:
  void SetUp() override {
    FarmTest::SetUp();
    folders_ = std::make_unique<VORNCommonApplicationSAL>(subsystem());
    root_ = RootFolder();
  }

  std::u16string NameOf(ULONG64 folder) {
    char16_t* name = nullptr;
    if (folders_->GetFolderName(folder, &name) != 0) return u"<none>";
    std::u16string text(name);
    folders_->FreeMemory(reinterpret_cast<unsigned char*>(name));
    return text;
  }
  ULONG64 ParentOf(ULONG64 folder) {
    ULONG64 parent = 0xFFFF;
    EXPECT_EQ(folders_->GetFolderParent(folder, parent), 0u);
    return parent;
  }
  std::vector<ULONG64> ChildrenOf(ULONG64 folder) {
    ULONG64* children = nullptr;
    ULONG count = 0;
    EXPECT_EQ(folders_->EnumerateFolder(folder, &children, count), 0u);
    std::vector<ULONG64> ids(children, children + count);
    folders_->FreeMemory(reinterpret_cast<unsigned char*>(children));
    return ids;
  }
  std::size_t FolderCount() {
    std::vector<feroq::admin::FolderInfo> all;
    EXPECT_EQ(admin().ListFolders(&all), 0u);
    return all.size();
  }
  // `status` and the first cause of the thread's last service failure (0
  // when there is none), which is then cleared.
  static std::pair<VSTATUS, VSTATUS> WithCause(VSTATUS status) {
    feroq::admin::ServiceFailure failure;
    VSTATUS cause = 0;
    if (feroq::admin::LastServiceFailure(&failure)) cause = failure.causes.front().code;
    feroq::admin::ClearLastServiceFailure();
    return {status, cause};
  }

  std::unique_ptr<VORNCommonApplicationSAL> folders_;
  ULONG64 root_ = 0;
};

TEST_F(FolderServiceTest, UnknownIdentifiersFailAndLeaveTheOutputsAlone) {
  const ULONG64 unknown = MakeObjectId(kObjectKindFolder, 999);
  const ULONG64 app = AddApplication(u"Editor");  // an application is not a folder
  for (ULONG64 id : {unknown, app}) {
    ULONG64 parent = 77;
    char16_t* name = nullptr;
    ULONG64* children = nullptr;
    ULONG count = 5;
    EXPECT_EQ(folders_->GetFolderParent(id, parent), VORN_E_FAILURE);
    EXPECT_EQ(parent, 77u);
    EXPECT_EQ(folders_->GetFolderName(id, &name), VORN_E_FAILURE);
    EXPECT_EQ(name, nullptr);
    EXPECT_EQ(folders_->EnumerateFolder(id, &children, count), VORN_E_FAILURE);
    EXPECT_EQ(count, 5u);
    ULONG64 created = 0;
    EXPECT_EQ(folders_->RenameFolder(id, W(u"X")), VORN_E_FAILURE);
    EXPECT_EQ(folders_->CreateFolder(id, W(u"X"), created), VORN_E_FAILURE);
    EXPECT_EQ(folders_->DeleteFolder(id), VORN_E_FAILURE);
  }
  EXPECT_EQ(folders_->MoveFolder(AddFolder(u"A"), root_, unknown), VORN_E_FAILURE);
  EXPECT_EQ(folders_->MoveApplication(app, root_, unknown), VORN_E_FAILURE);
  EXPECT_EQ(folders_->MoveApplication(MakeObjectId(kObjectKindApplication, 999), root_, root_), VORN_E_FAILURE);
  EXPECT_EQ(FolderCount(), 2u);
}

// Every refusal of the tree's rules: the service's code, the rule named as
// the cause, and the farm as it was.
TEST_F(FolderServiceTest, EachTreeRuleIsRefusedWithItsCause) {
  const ULONG64 a = AddFolder(u"A"), b = AddFolder(u"A/B"), c = AddFolder(u"A/B/C");
  const ULONG64 other = AddFolder(u"Other");
  AddFolder(u"Other/B");
  const ULONG64 games = AddFolder(u"Games");
  AddApplication(u"Solitaire", games);
  const ULONG64 editor = AddApplication(u"Editor");
  AddFolder(u"Games/EDITOR");
  const ULONG64 chess_id = AddApplication(u"Chess");
  ULONG64 made = 0;
  const struct {
    const char* what;
    std::function<VSTATUS()> call;
    VSTATUS status;
    VSTATUS cause;
  } cases[] = {
      {"create beside a folder of that name", [&] { return folders_->CreateFolder(root_, W(u"OTHER"), made); },
       FOLDER_E_RENAME_REFUSED, FARM_E_NAME_TAKEN},
      {"create empty", [&] { return folders_->CreateFolder(root_, W(u""), made); }, FOLDER_E_RENAME_REFUSED,
       FARM_E_NAME_EMPTY},
      {"create null", [&] { return folders_->CreateFolder(root_, nullptr, made); }, FOLDER_E_RENAME_REFUSED,
       FARM_E_NAME_EMPTY},
      {"rename to a folder's name", [&] { return folders_->RenameFolder(a, W(u"OTHER")); },
       FOLDER_E_RENAME_REFUSED, FARM_E_NAME_TAKEN},
      {"rename to an application's name", [&] { return folders_->RenameFolder(a, W(u"chess")); },
       FOLDER_E_RENAME_REFUSED, FARM_E_NAME_TAKEN},
      {"rename empty", [&] { return folders_->RenameFolder(a, W(u"")); }, FOLDER_E_RENAME_REFUSED,
       FARM_E_NAME_EMPTY},
      {"rename null", [&] { return folders_->RenameFolder(a, nullptr); }, FOLDER_E_RENAME_REFUSED,
       FARM_E_NAME_EMPTY},
      {"rename the root", [&] { return folders_->RenameFolder(root_, W(u"Name")); }, FOLDER_E_RENAME_REFUSED,
       FARM_E_ROOT_RENAME},
      {"delete the root", [&] { return folders_->DeleteFolder(root_); }, FOLDER_E_DELETE_REFUSED,
       FARM_E_ROOT_DELETE},
      {"delete a folder holding a folder", [&] { return folders_->DeleteFolder(a); }, FOLDER_E_DELETE_REFUSED,
       FARM_E_FOLDER_NOT_EMPTY},
      {"delete a folder holding an application", [&] { return folders_->DeleteFolder(games); },
       FOLDER_E_DELETE_REFUSED, FARM_E_FOLDER_NOT_EMPTY},
      {"move the root", [&] { return folders_->MoveFolder(root_, 0, a); }, FOLDER_E_MOVE_REFUSED,
       FARM_E_ROOT_MOVE},
      {"move into itself", [&] { return folders_->MoveFolder(a, root_, a); }, FOLDER_E_MOVE_REFUSED,
       FARM_E_MOVE_BELOW_ITSELF},
      {"move below itself", [&] { return folders_->MoveFolder(a, root_, c); }, FOLDER_E_MOVE_REFUSED,
       FARM_E_MOVE_BELOW_ITSELF},
      {"move from a folder it is not in", [&] { return folders_->MoveFolder(b, root_, other); },
       FOLDER_E_MOVE_REFUSED, FARM_E_NOT_THE_PARENT},
      {"move beside a folder of that name", [&] { return folders_->MoveFolder(b, a, other); },
       FOLDER_E_MOVE_REFUSED, FARM_E_NAME_TAKEN},
      {"move an application from a folder it is not in",
       [&] { return folders_->MoveApplication(editor, other, games); }, FOLDER_E_MOVE_REFUSED,
       FARM_E_NOT_THE_PARENT},
      {"move an application beside a folder of that name",
       [&] { return folders_->MoveApplication(editor, root_, games); }, FOLDER_E_MOVE_REFUSED, FARM_E_NAME_TAKEN},
  };
  const std::size_t folders = FolderCount();
  for (const auto& row : cases) {
    EXPECT_EQ(WithCause(row.call()), std::make_pair(row.status, row.cause)) << row.what;
  }
  EXPECT_EQ(made, 0u);
  EXPECT_EQ(FolderCount(), folders);
  EXPECT_EQ(NameOf(root_), u"Applications");
  EXPECT_EQ(NameOf(a), u"A");
  EXPECT_EQ(ParentOf(b), a);
  EXPECT_EQ(ParentOf(c), b);
  EXPECT_EQ(ChildrenOf(root_), (std::vector<ULONG64>{a, other, games, editor, chess_id}));
}

// One transaction around several service calls: the calls inside see their
// own changes, and the farm keeps all of them or none.
TEST_F(FolderServiceTest, OneTransactionKeepsAllOrNothing) {
  struct Case {
    TransactionEnd end;
    VSTATUS body_result;
    bool refused_write;  // a write inside fails, the body goes on
    VSTATUS expected;
    bool kept;
  };
  const Case cases[] = {
      {TransactionEnd::kCommit, VORN_OK, false, VORN_OK, true},
      {TransactionEnd::kCommit, VORN_E_INVALIDVALUE, false, VORN_E_INVALIDVALUE, false},
      {TransactionEnd::kRollBack, VORN_OK, false, VORN_OK, false},
      {TransactionEnd::kCommit, VORN_OK, true, FOLDER_E_RENAME_REFUSED, false},
  };
  for (const Case& c : cases) {
    std::vector<ULONG64> seen_inside;
    const VSTATUS result = RunInOneTransaction(subsystem(), c.end, [&]() -> VSTATUS {
      ULONG64 a = 0, b = 0;
      EXPECT_EQ(folders_->CreateFolder(root_, W(u"A"), a), 0u);
      EXPECT_EQ(folders_->CreateFolder(a, W(u"B"), b), 0u);
      if (c.refused_write) {
        EXPECT_EQ(folders_->CreateFolder(a, W(u"B"), b), FOLDER_E_RENAME_REFUSED);
      }
      seen_inside = ChildrenOf(a);
      EXPECT_EQ(RunInOneTransaction(subsystem(), c.end, [] { return VORN_OK; }), VORN_E_REFUSED);
      return c.body_result;
    });
    EXPECT_EQ(result, c.expected);
    EXPECT_EQ(seen_inside.size(), 1u);
    EXPECT_EQ(FolderCount(), c.kept ? 3u : 1u) << static_cast<int>(c.end) << " " << c.body_result;
    ASSERT_EQ(feroq::admin::ResetMemoryFarm(""), 0u);
  }
}

// Reads inside one read transaction join it; writes are refused; inside a
// write transaction the body runs in it and sees its changes.
TEST_F(FolderServiceTest, OneReadTransactionReadsAndRefusesWrites) {
  ULONG64 made = 0;
  std::vector<ULONG64> seen;
  EXPECT_EQ(feroq::RunInOneReadTransaction(subsystem(), [&]() -> VSTATUS {
    seen = ChildrenOf(root_);
    EXPECT_EQ(folders_->CreateFolder(root_, W(u"A"), made), VORN_E_REFUSED);
    EXPECT_EQ(feroq::RunInOneReadTransaction(subsystem(), [] { return VORN_E_INVALIDVALUE; }),
              VORN_E_INVALIDVALUE);
    return VORN_E_WAIT_TIMEOUT;
  }),
            VORN_E_WAIT_TIMEOUT);
  EXPECT_TRUE(seen.empty());
  EXPECT_EQ(FolderCount(), 1u);

  EXPECT_EQ(RunInOneTransaction(subsystem(), TransactionEnd::kCommit, [&]() -> VSTATUS {
    EXPECT_EQ(folders_->CreateFolder(root_, W(u"A"), made), 0u);
    return feroq::RunInOneReadTransaction(subsystem(), [&]() -> VSTATUS {
      seen = ChildrenOf(root_);
      return VORN_OK;
    });
  }),
            VORN_OK);
  EXPECT_EQ(seen, std::vector<ULONG64>{made});
}

// ---- Application store ------------------------------------------------------

class AppStoreTest : public FarmTest {
 protected:
  void SetUp() override {
    FarmTest::SetUp();
    store_ = std::make_unique<ZQAppSAL>(subsystem());
  }
  // A record the checks accept.
  static void FillValid(ZQApp& record, const char16_t* browser_name) {
    ASSERT_EQ(record.Initialize(kZQAppCurrentVersion), 0u);
    VORNString browser(browser_name), program(u"C:\\run.exe");
    ASSERT_EQ(record.SetBrowserName(browser), 0u);
    ASSERT_EQ(record.SetFriendlyName(browser), 0u);
    ASSERT_EQ(record.SetDefaultInitialProgram(program), 0u);
  }
  std::unique_ptr<ZQAppSAL> store_;
};

// An icon is kept whenever any of its 640 bytes is set, the last colour
// byte included; only a blank one is stored as none.
TEST_F(AppStoreTest, AnIconWithOnlyItsLastByteSetIsStored) {
  ZQApp record;
  FillValid(record, u"Painter");
  _WLICON_V1 icon{};
  icon.colors[511] = 0x0F;
  ASSERT_EQ(record.SetIcon(icon), 0u);
  ULONG64 id = 0;
  ASSERT_EQ(store_->Write(id, record, nullptr), 0u);
  ZQApp loaded;
  ASSERT_EQ(store_->Read(id, loaded), 0u);
  _WLICON_V1 loaded_icon;
  loaded.GetIcon(loaded_icon);
  EXPECT_EQ(std::memcmp(&icon, &loaded_icon, sizeof(icon)), 0);
}

// A read into a record that holds other texts, some of the stored texts'
// lengths and some not, leaves it with the stored texts only.
TEST_F(AppStoreTest, AReadReplacesEveryTextOfAUsedRecord) {
  ZQApp stored;
  FillValid(stored, u"Paint");
  VORNString description(u"drawing");
  ASSERT_EQ(stored.SetDescription(description), 0u);
  ULONG64 id = 0;
  ASSERT_EQ(store_->Write(id, stored, nullptr), 0u);
  ZQApp used;
  FillValid(used, u"Calc!");  // the browser and display names' lengths
  VORNString program(u"C:\\other.exe"), directory(u"D:\\work");
  ASSERT_EQ(used.SetDefaultInitialProgram(program), 0u);
  ASSERT_EQ(used.SetDefaultWorkDirectory(directory), 0u);
  ASSERT_EQ(store_->Read(id, used), 0u);
  VORNString text;
  used.GetBrowserName(text);
  EXPECT_EQ(std::u16string(text.c_str()), u"Paint");
  used.GetFriendlyName(text);
  EXPECT_EQ(std::u16string(text.c_str()), u"Paint");
  used.GetDefaultInitialProgram(text);
  EXPECT_EQ(std::u16string(text.c_str()), u"C:\\run.exe");
  used.GetDefaultWorkDirectory(text);
  EXPECT_TRUE(text.IsEmpty());
  used.GetDescription(text);
  EXPECT_EQ(std::u16string(text.c_str()), u"drawing");
}

// An identifier the store does not hold fails a write, a delete or a
// listing of its folder, and stores nothing; a stored read-only mark comes
// back with the record.
TEST_F(AppStoreTest, UnknownIdentifiersFailAndTheReadOnlyMarkIsKept) {
  ZQApp record;
  FillValid(record, u"Writer");
  ULONG64 unknown = MakeObjectId(kObjectKindApplication, 999);
  EXPECT_EQ(store_->Write(unknown, record, nullptr), VORN_E_FAILURE);
  EXPECT_EQ(store_->Delete(unknown), VORN_E_FAILURE);
  ULONG64* ids = nullptr;
  ULONG count = 7;
  EXPECT_EQ(store_->EnumApps(&ids, count, MakeObjectId(kObjectKindFolder, 999)), VORN_E_FAILURE);
  ASSERT_EQ(store_->EnumApps(&ids, count, 0), 0u);
  EXPECT_EQ(count, 0u);

  ULONG64 id = 0;
  ASSERT_EQ(store_->Write(id, record, nullptr), 0u);
  feroq::services::RecordAccess::SetStoredReadOnly(record, 1);
  ASSERT_EQ(store_->Write(id, record, nullptr), 0u);
  ZQApp loaded;
  ASSERT_EQ(store_->Read(id, loaded), 0u);
  EXPECT_EQ(loaded.IsReadOnly(), 1);
}

}  // namespace
}  // namespace feroq::testing
