// The feroq command-line tool, run as a program, on a farm file: a whole
// session (publish, show, set, move, delete), JSON output, how export and
// import report, listings walked in windows, and the README's example.
#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include "farm_session.h"
#include "feroq/services/zqapp.h"
#include "services/store/sqlite_farm_store.h"
#include "support/cli_fixture.h"

namespace feroq::testing {
namespace {

using nlohmann::json;

TEST_F(CliTest, AppExportWritesAllFourFileKinds) {
  SetUpFarm();
  PublishEditor();
  const std::string dn = "\\Applications\\Office\\Tools\\Editor";
  Ok({"app", "export", dn, "-o", dir_.File("kinds")});
  const auto def = ReadWholeFile(dir_.File("kinds/Editor.def"));
  ASSERT_TRUE(def.has_value());
  EXPECT_NE(def->find("    DisplayName = \"Editor\"\r\n"), std::string::npos);
  EXPECT_NE(def->find("IconData ="), std::string::npos);
  EXPECT_EQ(ReadWholeFile(dir_.File("kinds/Editor.ico")).value_or("").size(), 766u);
  EXPECT_FALSE(ReadWholeFile(dir_.File("kinds/Editor.html")).value_or("").empty());
  // The launch file has the name the page's Start link gives it.
  EXPECT_NE(ReadWholeFile(dir_.File("kinds/Editor.html")).value_or("").find("href=\"editor.obr\""), std::string::npos);
  EXPECT_FALSE(ReadWholeFile(dir_.File("kinds/editor.obr")).value_or("").empty());
  // One kind to a named file; the icon beside it instead of in it.
  Ok({"app", "export", dn, "--kind", "def", "--icon-file", dir_.File("one.ico"), "-o", dir_.File("one.def")});
  EXPECT_EQ(ReadWholeFile(dir_.File("one.def")).value_or("IconMask").find("IconMask"), std::string::npos);
  EXPECT_EQ(ReadWholeFile(dir_.File("one.ico")), ReadWholeFile(dir_.File("kinds/Editor.ico")));
  EXPECT_EQ(Run({"app", "export", dn, "--kind", "pdf"}).exit_code, 2);
  Fails({"app", "export", dn, "--kind", "html", "--language", "Klingon", "-o", dir_.File("x.html")},
        {"E_INVALIDARG (0x80070057)"});
}

TEST_F(CliTest, PublishShowSetMoveAndDeleteOnAFarmFile) {
  SetUpFarm();
  PublishEditor();
  const std::string dn = "\\Applications\\Office\\Tools\\Editor";
  // Each option reaches the property it names.
  const json expected = {{"dn", dn}, {"browser_name", "editor"}, {"description", "A text editor"},
                         {"encryption_level", "RC5_128Bit"}, {"window_color", "0x1000000"},
                         {"window_type", "1024X768"}, {"desktop_integrate", {"StartMenu", "Desktop"}},
                         {"publishing_flags", {"NoBrowserEnum", "NoWLEnum"}}, {"wl_attributes", {"MinimumSound"}},
                         {"enabled", true}};
  json app = Json({"app", "show", dn});
  for (const auto& [key, value] : expected.items()) EXPECT_EQ(app[key], value) << key;
  ASSERT_EQ(app["servers"].size(), 2u);
  EXPECT_EQ(app["servers"][1], json({{"name", "APPSRV02"}, {"initial_program", "D:\\Apps\\editor.exe"},
                                     {"working_directory", "D:\\Work"}}));
  ASSERT_EQ(app["users"].size(), 2u);
  EXPECT_EQ(app["users"][1]["kind"], "group");

  Ok({"app", "set", dn, "--description", "Edits text", "--enabled", "no", "--zq-attributes", "HideTitlebar",
      "--remove-user", "CORP\\alice", "--remove-server", "APPSRV01", "--height", "480"});
  app = Json({"app", "show", dn});
  EXPECT_EQ(app["description"], "Edits text");
  EXPECT_EQ(app["enabled"], false);
  EXPECT_EQ(app["zq_attributes"], json({"HideTitlebar"}));
  EXPECT_EQ(app["window_height"], 480);
  EXPECT_EQ(app["users"].size(), 1u);
  EXPECT_EQ(app["servers"].size(), 1u);
  EXPECT_EQ(Run({"app", "validate", dn}).exit_code, 0);

  Ok({"app", "move", dn, "\\Applications\\Office"});
  json list = Json({"app", "list"});
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0]["dn"], "\\Applications\\Office\\Editor");
  json tree = Json({"folder", "tree"});
  EXPECT_EQ(tree["dn"], "\\Applications");
  ASSERT_EQ(tree["folders"].size(), 1u);
  EXPECT_EQ(tree["folders"][0]["applications"][0]["name"], "Editor");
  EXPECT_EQ(tree["folders"][0]["folders"][0]["dn"], "\\Applications\\Office\\Tools");

  Ok({"folder", "rename", "\\Applications\\Office\\Tools", "Utilities"});
  Ok({"folder", "delete", "\\Applications\\Office\\Utilities"});
  Ok({"app", "delete", "\\Applications\\Office\\Editor"});
  EXPECT_TRUE(Json({"app", "list"}).empty());
  json info = Json({"farm", "info"});
  EXPECT_EQ(info["applications"], 0);
  EXPECT_EQ(info["servers"], 2);
  EXPECT_EQ(info["folders"], 2);  // the root and Office
}

// How the tool reports an import (what an import does is app_import_test's):
// refusals with file and line on standard error and exit 1, a dry run as
// JSON, a second run that completes.
TEST_F(CliTest, ImportReportsRefusalsDryRunsAndSecondRuns) {
  SetUpFarm();
  PublishEditor();
  Ok({"export-all", dir_.File("good")});
  const std::string good = ReadWholeFile(dir_.File("good/Office/Tools/Editor.def")).value();
  std::string bad = good;
  bad.replace(bad.find("RC5_128Bit"), 10, "RC5_256Bit");
  std::filesystem::create_directories(dir_.File("bad"));
  ASSERT_TRUE(WriteWholeFile(dir_.File("bad/b.def"), bad));
  const std::string farm2 = Farm("second");
  SetUpFarm(farm2, /*folders=*/false);
  const int bad_line = 1 + static_cast<int>(std::count(bad.begin(), bad.begin() + static_cast<long>(bad.find("RC5_256Bit")), '\n'));
  Fails({"import", dir_.File("good"), dir_.File("bad")},
        {dir_.File("bad/b.def") + ":" + std::to_string(bad_line) + ": expected an encryption level"}, 1, farm2);
  // A dry run prints what it would do as JSON and changes nothing.
  const json dry = Json({"import", "--dry-run", "--create-folders", dir_.File("good")}, farm2);
  const std::string editor = dir_.File("good/Office/Tools/Editor.def");
  EXPECT_EQ(dry["applications"],
            json::array({json{{"file", editor}, {"dn", "\\Applications\\Office\\Tools\\Editor"}, {"imported", true}}}));
  EXPECT_EQ(dry["folders_created"], json({"\\Applications\\Office", "\\Applications\\Office\\Tools"}));
  EXPECT_TRUE(Json({"app", "list"}, farm2).empty());
  const std::string imported = Ok({"import", "--create-folders", dir_.File("good")}, farm2);
  EXPECT_NE(imported.find("imported \\Applications\\Office\\Tools\\Editor from " + editor + "\n"), std::string::npos);
  EXPECT_NE(imported.find("imported 1 application from 1 file\n"), std::string::npos);
  EXPECT_NE(Ok({"import", dir_.File("good")}, farm2).find("1 already in the farm"), std::string::npos);
}

// The listings walk the farm a window of applications at a time and print
// as they go: past several windows every application is listed once, in
// ascending identifier order, the counts agree, and the streamed JSON is
// exactly the dump of the whole listing.
TEST_F(CliTest, ListingsWalkTheFarmInWindowsAndPrintTheWholeListing) {
  SetUpFarm();
  PublishEditor();
  const std::size_t bulk = 2 * feroq::cli::kAppWindow + 1;
  {
    std::shared_ptr<feroq::store::FarmStore> store;
    ASSERT_EQ(feroq::store::OpenSqliteFarmStore(dir_.File("farm.db"), &store), 0u);
    ASSERT_EQ(store->Write([&](feroq::store::FarmTxn& txn) -> VSTATUS {
      for (std::size_t i = 0; i < bulk; ++i) {
        feroq::store::ApplicationRecord app;
        app.id = txn.AllocateId(feroq::kObjectKindApplication);
        app.folder_id = txn.RootFolderId();
        app.data.version = feroq::kZQAppCurrentVersion;
        app.data.friendly_name = u"Bulk-" + feroq::testing::Utf16(std::to_string(i));
        app.data.browser_name = u"b" + app.data.friendly_name;
        txn.PutApplication(app);
      }
      return 0;
    }), 0u);
  }
  const json info = Json({"farm", "info"});
  EXPECT_EQ(info["applications"], bulk + 1);
  EXPECT_EQ(info["folders"], 3);

  const std::string listed = Ok({"--json", "app", "list"});
  const json list = json::parse(listed);
  ASSERT_EQ(list.size(), bulk + 1);
  for (std::size_t i = 1; i < list.size(); ++i) EXPECT_LT(list[i - 1]["id"], list[i]["id"]) << i;
  std::vector<std::string> outputs = {listed, Ok({"--json", "folder", "tree"}),
                                      Ok({"--json", "export-all", dir_.File("out")})};
  for (const std::string& out : outputs) {
    EXPECT_EQ(out, json::parse(out).dump(2, ' ', false, json::error_handler_t::replace) + "\n");
  }
  const json tree_apps = json::parse(outputs[1])["applications"];
  ASSERT_EQ(tree_apps.size(), bulk);
  for (std::size_t i = 0; i < bulk; ++i) EXPECT_EQ(tree_apps[i]["name"], "Bulk-" + std::to_string(i)) << i;
  EXPECT_EQ(json::parse(outputs[2])["written"].size(), bulk + 1);
  // The table has a line for each application under the headers.
  const std::string table = Ok({"app", "list"});
  EXPECT_EQ(static_cast<std::size_t>(std::count(table.begin(), table.end(), '\n')), bulk + 2);
}

// export-all writes what it can and names what it could not.
TEST_F(CliTest, ExportAllGoesOnPastAFileNameTheFileSystemRefuses) {
  SetUpFarm();
  PublishEditor();
  const std::string long_name(255, 'x');  // with ".def", past the file system's 255 bytes
  Ok({"app", "publish", "--name", long_name, "--browser-name", "long", "--program", "C:\\long.exe"});
  Fails({"export-all", dir_.File("out")}, {"not exported: exporting \\Applications\\" + long_name.substr(0, 100),
                                           "OUTPUT_NAME_TOO_LONG (0x800700CE)",
                                           "1 of 2 applications could not be exported"});
  EXPECT_TRUE(ReadWholeFile(dir_.File("out/Office/Tools/Editor.def")).has_value());
}

// The README's example of the tool, and its export to a second farm, run as
// written (in a scratch directory, on a default farm of its own).
TEST_F(CliTest, TheReadmeExampleRunsAsWritten) {
  const std::string readme = ReadWholeFile(std::string(FEROQ_SOURCE_DIR) + "/README.md").value_or("");
  std::string script = "set -e\n";
  const std::string marker = "<!-- run by tests/cli_commands_test.cc -->\n```sh\n";
  for (std::size_t at = readme.find(marker); at != std::string::npos; at = readme.find(marker, at + 1)) {
    const std::size_t begin = at + marker.size();
    script += readme.substr(begin, readme.find("```", begin) - begin);
  }
  ASSERT_NE(script.find("export-all"), std::string::npos) << "no example found in the README";
  ASSERT_TRUE(WriteWholeFile(dir_.File("example.sh"), script));
  const std::string tool_dir = std::filesystem::path(FEROQ_CLI).parent_path().string();
  const std::string command = "cd '" + dir_.path() + "' && env -u FEROQ_FARM XDG_DATA_HOME='" + dir_.File("data") +
                              "' PATH='" + tool_dir + ":" + std::getenv("PATH") + "' bash example.sh > example.out 2>&1";
  EXPECT_EQ(std::system(command.c_str()), 0) << ReadWholeFile(dir_.File("example.out")).value_or("");
  EXPECT_EQ(Json({"app", "list"}, "--farm=sqlite:" + dir_.File("other.db")).size(), 1u);
}

}  // namespace
}  // namespace feroq::testing
