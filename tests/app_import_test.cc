// Importing definition files into a farm: the round trip through a second
// farm, all or nothing, a second run of the same import, dry runs, and the
// folder an import goes into.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "feroq/app_export.h"
#include "feroq/app_import.h"
#include "feroq/feroq.h"
#include "support/definition_samples.h"
#include "support/farm_builder.h"
#include "support/farm_fixture.h"
#include "support/handles.h"
#include "support/temp_files.h"

namespace feroq {
namespace {

using feroq::testing::ReadWholeFile;
using feroq::testing::ReleaseObject;
using feroq::testing::W;
using feroq::testing::WriteWholeFile;

class AppImportTest : public feroq::testing::FarmTest {
 protected:
  void SetUp() override {
    FarmTest::SetUp();
    SeedFarm();
    OpenFarm();
  }
  // The servers, accounts and folder the sample definition file names.
  void SeedFarm() {
    for (const char16_t* server : {u"S1", u"S2", u"S3", u"S4"}) AddServer(server);
    AddAccount(u"CORP", u"alice", 0, u"CN=alice,DC=corp");
    AddAccount(u"CORP", u"Sales Team", 1, u"CN=Sales Team,DC=corp");
    AddFolder(u"Office");
  }

  // A definition file `name` for the application `app` in `folder`, with
  // `extra` lines, written into the scratch directory.
  std::u16string Definition(const std::string& name, const std::string& app, const std::string& folder = "",
                            const std::string& extra = "") {
    std::string text = "BeginApplication\n    ObjectName = \"" + app + "\"\n    DisplayName = \"" + app +
                       "\"\n    DefaultInitialProgram = \"C:\\" + app + ".exe\"\n" + extra;
    if (!folder.empty()) text += "    ParentFolder = \"" + folder + "\"\n";
    EXPECT_TRUE(WriteWholeFile(dir_.File(name), text + "EndApplication\n"));
    return dir_.WideFile(name);
  }

  // Imports `files`; the events are kept in events_.
  HRESULT Import(const std::vector<std::u16string>& files, ULONG flags = 0, FolderObject* folder = nullptr) {
    std::vector<const char16_t*> names;
    for (const std::u16string& file : files) names.push_back(file.c_str());
    const auto record = [](const ImportEvent& event, void* context) {
      static_cast<AppImportTest*>(context)->events_.push_back({event.stage, event.dn != nullptr ? event.dn : u""});
    };
    events_.clear();
    return ImportDefinitionFiles(farm_.get(), {names.data(), ULONG(names.size()), folder, flags, record, this});
  }

  // The distinguished names of the farm's applications, and its folder count.
  std::vector<std::u16string> Apps() {
    CommonObject** apps = nullptr;
    ULONG count = 0;
    EXPECT_EQ(farm_->EnumerateApps(&apps, &count), S_OK);
    std::vector<std::u16string> names;
    for (ULONG i = 0; i < count; ++i) {
      feroq::testing::HeapText dn(*farm_);
      auto* app = static_cast<ZQWinAppObject*>(apps[i]);
      if (app->Load() == S_OK && app->GetDistinguishedName(&dn.out()) == S_OK) names.push_back(dn.str());
      ReleaseObject(*farm_, apps[i]);
    }
    farm_->FreeMemory(apps);
    return names;
  }
  std::size_t Folders() {
    std::vector<feroq::admin::FolderInfo> folders;
    EXPECT_EQ(admin().ListFolders(&folders), 0u);
    return folders.size();
  }
  std::vector<ImportStage> Stages() const {
    std::vector<ImportStage> stages;
    for (const Event& event : events_) stages.push_back(event.stage);
    return stages;
  }

  struct Event {
    ImportStage stage;
    std::u16string dn;
  };
  feroq::testing::ScratchDir dir_;
  std::vector<Event> events_;
};

// What export writes, import publishes again: the sample file, which gives
// every key, comes back byte for byte (so every value was read as written),
// and exported from a second farm the files are the same (and the icon file
// beside one).
TEST_F(AppImportTest, ExportImportIntoASecondFarmAndExportGivesTheSameFiles) {
  ASSERT_TRUE(WriteWholeFile(dir_.File("full.def"), feroq::testing::FullDefinitionFile()));
  ASSERT_EQ(Import({dir_.WideFile("full.def"), Definition("plain.def", "Plain")}), S_OK);
  auto export_all = [&](const std::string& prefix) {
    for (const std::u16string& dn : Apps()) {
      ZQWinAppObject* app = nullptr;
      ASSERT_EQ(farm_->GetAppByDN(W(dn), &app), S_OK);
      const std::string name = prefix + (dn.find(u"Plain") != std::u16string::npos ? "Plain" : "Full");
      std::u16string icon = dir_.WideFile(name + ".ico");
      _DefinitionFileOptions options{name.ends_with("Full") ? icon.data() : nullptr};
      EXPECT_EQ(app->ExportFile(ZQWinAppDefinitionFile, nullptr, W(dir_.WideFile(name + ".def")), &options), S_OK);
      if (prefix == "first") {
        EXPECT_EQ(app->ExportFile(ZQWinAppDefinitionFile, nullptr, W(dir_.WideFile(name + "Blocks.def")), nullptr), S_OK);
      }
      ReleaseObject(*farm_, app);
    }
  };
  export_all("first");
  EXPECT_EQ(ReadWholeFile(dir_.File("firstFullBlocks.def")), feroq::testing::WithCrLf(feroq::testing::FullDefinitionFile()));
  farm_.reset();
  ASSERT_EQ(feroq::admin::ResetMemoryFarm(""), 0u);
  SeedFarm();
  OpenFarm();
  // The full application's icon comes from the ICO file beside its file.
  ASSERT_EQ(Import({dir_.WideFile("firstFull.def"), dir_.WideFile("firstPlain.def")}), S_OK);
  export_all("second");
  for (const char* name : {"Full.def", "Plain.def", "Full.ico"}) {
    const auto first = ReadWholeFile(dir_.File(std::string("first") + name));
    ASSERT_TRUE(first.has_value()) << name;
    EXPECT_EQ(first, ReadWholeFile(dir_.File(std::string("second") + name))) << name;
  }
  EXPECT_EQ(ReadWholeFile(dir_.File("firstFull.def")).value_or("IconMask").find("IconMask"), std::string::npos);
}

TEST_F(AppImportTest, ARefusalAnywhereLeavesTheFarmAsItWas) {
  FolderObject* root = nullptr;
  ASSERT_EQ(farm_->GetRootFolder(FarmObjectAppFolder, &root), S_OK);
  const LONG children = root->GetChildCount();
  const std::u16string good = Definition("good.def", "Good");
  const std::u16string in_new_folder = Definition("new.def", "New", "\\Applications\\New\\Deep");
  // Every malformed file is reported; nothing is published.
  const std::u16string bad1 = Definition("bad1.def", "Bad1", "", "    DefaultSoundType = Loud\n");
  const std::u16string bad2 = Definition("bad2.def", "Bad2", "", "    Nonsense = 1\n");
  EXPECT_EQ(Import({good, bad1, in_new_folder, bad2}, kImportCreateFolders), kDefinitionFileMalformed);
  EXPECT_EQ(Stages(), (std::vector<ImportStage>{ImportStage::kRead, ImportStage::kRefused, ImportStage::kRead,
                                                ImportStage::kRefused}));
  // The farm refuses the last file, after a folder was made and two were
  // published: all of it is taken back.
  const std::u16string unknown_server =
      Definition("server.def", "Server", "", "    ServerList =\n        \"NOSUCH\",.\n");
  EXPECT_EQ(Import({good, in_new_folder, unknown_server}, kImportCreateFolders), ZQ_CREATE_E_SERVER);
  EXPECT_EQ(events_.back().stage, ImportStage::kRefused);
  EXPECT_EQ(events_.back().dn, u"\\Applications\\Server");
  EXPECT_TRUE(Apps().empty());
  EXPECT_EQ(Folders(), 2u);  // the root and Office
  EXPECT_EQ(root->GetChildCount(), children);
  // Without folder creation the missing folder is refused.
  EXPECT_EQ(Import({good, in_new_folder}), ZQ_CREATE_E_PARENT_NOT_FOUND);
  EXPECT_TRUE(Apps().empty());
  ReleaseObject(*farm_, root);
}

// A second run of the same import completes and changes nothing;
// applications already present are reported, or refused on request.
TEST_F(AppImportTest, AnImportRunTwiceLeavesWhatIsThere) {
  const std::vector<std::u16string> files = {Definition("a.def", "A", "\\Applications\\Office"), Definition("b.def", "B")};
  ASSERT_EQ(Import(files), S_OK);
  EXPECT_EQ(Stages(), (std::vector<ImportStage>{ImportStage::kRead, ImportStage::kRead, ImportStage::kPublished,
                                                ImportStage::kPublished}));
  ASSERT_EQ(Import(files), S_OK);
  EXPECT_EQ(events_[2].stage, ImportStage::kAlreadyPresent);
  EXPECT_EQ(events_[2].dn, u"\\Applications\\Office\\A");
  EXPECT_EQ(Apps().size(), 2u);
  EXPECT_EQ(Import(files, kImportRefuseExisting), kImportNameTaken);
  // Two files of one import with the same name in the same folder.
  EXPECT_EQ(Import({Definition("c.def", "C"), Definition("c2.def", "C")}), kImportNameTaken);
  EXPECT_EQ(Apps().size(), 2u);
}

TEST_F(AppImportTest, ADryRunChecksEverythingAndChangesNothing) {
  const std::u16string fine = Definition("fine.def", "Fine", "\\Applications\\Made");
  EXPECT_EQ(Import({fine}, kImportDryRun | kImportCreateFolders), S_OK);
  EXPECT_EQ(Stages(), (std::vector<ImportStage>{ImportStage::kRead, ImportStage::kFolderCreated, ImportStage::kPublished}));
  // What only publishing finds out, a dry run finds out too.
  const std::u16string refused = Definition("bad.def", "Bad", "", "    DefaultWindowType = \"FullScreen\"\n");
  EXPECT_EQ(Import({fine, refused}, kImportDryRun | kImportCreateFolders), ZQ_CREATE_E_WINDOW_TYPE);
  EXPECT_TRUE(Apps().empty());
  EXPECT_EQ(Folders(), 2u);
}

TEST_F(AppImportTest, AFolderGivenByTheCallerTakesEveryApplication) {
  CommonObject* office = nullptr;
  ASSERT_EQ(farm_->GetObjectByDN(nullptr, W(u"\\Applications\\Office"), &office), S_OK);
  EXPECT_EQ(Import({Definition("x.def", "X", "\\Applications\\Nowhere"), Definition("y.def", "Y")}, 0,
                   static_cast<FolderObject*>(office)),
            S_OK);
  EXPECT_EQ(Apps(), (std::vector<std::u16string>{u"\\Applications\\Office\\X", u"\\Applications\\Office\\Y"}));
  ReleaseObject(*farm_, office);
}

}  // namespace
}  // namespace feroq
