// The feroq command-line tool, run as a program: exit codes (0 success,
// 1 failure, 2 usage), JSON output, result codes named in errors, a whole
// session on a farm file, how export and import report, the README's
// example, and watch.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <optional>
#include <random>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "feroq/app_data.h"
#include "farm_session.h"
#include "output.h"
#include "text_conversion.h"
#include "feroq/services/zqapp.h"
#include "services/store/sqlite_farm_store.h"
#include "support/temp_files.h"

extern char** environ;

namespace {

using feroq::testing::ReadWholeFile;
using feroq::testing::ScratchDir;
using feroq::testing::WriteWholeFile;
using nlohmann::json;

struct Result {
  int exit_code = -1;  // -1 when the tool did not exit by itself
  int signal = 0;      // the signal that ended it, or 0
  std::string out;
  std::string err;
};

// Starts the tool with `args`, standard output and error going to files
// (standard error opened with `err_flags`, so that it can be a terminal).
pid_t Start(const std::vector<std::string>& args, const std::string& out, const std::string& err,
            int err_flags = O_WRONLY | O_CREAT | O_TRUNC) {
  std::vector<std::string> all = {FEROQ_CLI};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& arg : all) argv.push_back(arg.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, err.c_str(), err_flags, 0600);
  pid_t pid = -1;
  EXPECT_EQ(posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ), 0);
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

Result Finish(pid_t pid, const std::string& out, const std::string& err) {
  Result result;
  int status = 0;
  if (waitpid(pid, &status, 0) == pid) {
    if (WIFEXITED(status)) result.exit_code = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
  }
  result.out = ReadWholeFile(out).value_or("");
  result.err = ReadWholeFile(err).value_or("");
  return result;
}

// Waits until the file `path`, which the running process `pid` writes,
// holds `text`; false when the process ends first.
bool WaitForOutput(pid_t pid, const std::string& path, const std::string& text) {
  for (;;) {
    if (ReadWholeFile(path).value_or("").find(text) != std::string::npos) return true;
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) != 0) {
      // Ended (and reaped): what it wrote last is in the file by now.
      return ReadWholeFile(path).value_or("").find(text) != std::string::npos;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

class CliTest : public ::testing::Test {
 protected:
  std::string Farm(const std::string& name = "farm") const { return "--farm=sqlite:" + dir_.File(name + ".db"); }

  // Runs the tool on the test's farm file (unless args name another farm).
  Result Run(std::vector<std::string> args, const std::string& farm = "") {
    args.insert(args.begin(), farm.empty() ? Farm() : farm);
    const std::string out = dir_.File("out.txt"), err = dir_.File("err.txt");
    return Finish(Start(args, out, err), out, err);
  }

  // Runs and expects success; returns standard output.
  std::string Ok(std::vector<std::string> args, const std::string& farm = "") {
    Result r = Run(std::move(args), farm);
    EXPECT_EQ(r.exit_code, 0) << r.err;
    return r.out;
  }

  // Runs and expects exit `code` with each of `said` on standard error.
  Result Fails(std::vector<std::string> args, const std::vector<std::string>& said, int code = 1,
               const std::string& farm = "") {
    Result r = Run(std::move(args), farm);
    EXPECT_EQ(r.exit_code, code);
    for (const std::string& text : said) EXPECT_NE(r.err.find(text), std::string::npos) << text << " in: " << r.err;
    return r;
  }

  json Json(std::vector<std::string> args, const std::string& farm = "") {
    args.insert(args.begin(), "--json");
    std::string out = Ok(std::move(args), farm);
    try {
      return json::parse(out);
    } catch (const json::exception& e) {
      ADD_FAILURE() << "not JSON: " << out;
      return json();
    }
  }

  // A new farm file (every command but `farm init` wants one that exists).
  void SetUp() override { Ok({"farm", "init"}); }

  // A farm file with servers, accounts and (unless told otherwise) folders.
  void SetUpFarm(const std::string& farm = "", bool folders = true) {
    Ok({"farm", "init"}, farm);
    Ok({"server", "add", "APPSRV01", "APPSRV02", "--if-missing"}, farm);
    Ok({"account", "add", "CORP\\alice", "--if-missing"}, farm);
    Ok({"account", "add", "CORP\\Accounting", "--kind", "group", "--if-missing"}, farm);
    if (folders) Ok({"folder", "create", "-p", "\\Applications\\Office\\Tools"}, farm);
  }

  void PublishEditor(const std::string& farm = "") {
    Ok({"app", "publish", "--name", "Editor", "--browser-name", "editor", "--program", "C:\\Apps\\editor.exe",
        "--dir", "C:\\Work", "--folder", "\\Applications\\Office\\Tools", "--encryption", "RC5_128Bit",
        "--sound", "Basic", "--color", "0x1000000", "--window-type", "1024X768", "--desktop-integrate",
        "StartMenu,Desktop", "--wl-attributes", "MinimumSound", "--publishing-flags", "NoBrowserEnum,NoWLEnum",
        "--server", "APPSRV01", "--server", "APPSRV02:D:\\Apps\\editor.exe:D:\\Work", "--user", "CORP\\alice",
        "--user", "CORP\\Accounting:group", "--description", "A text editor"},
       farm);
  }

  ScratchDir dir_;
};

TEST(ResultCodeTableTest, EveryCreationCodeAndLibraryCodeIsNamedAndExplained) {
  std::vector<HRESULT> codes = {S_OK, S_FALSE, E_NOTIMPL, E_FAIL, E_UNEXPECTED, E_ACCESSDENIED, E_OUTOFMEMORY,
                                E_INVALIDARG, feroq::ZQ_CREATE_E_PARENT_SET, feroq::ZQ_CREATE_E_DETAIL_29,
                                feroq::ZQ_CREATE_E_VERSION};
  for (HRESULT code = feroq::ZQ_CREATE_E_ICON_FILE; code <= feroq::ZQ_CREATE_E_DETAIL_27; ++code)
    codes.push_back(code);
  for (HRESULT code = feroq::ZQ_CREATE_E_DETAIL_28; code <= feroq::ZQ_CREATE_E_DETAIL_35; ++code)
    codes.push_back(code);
  for (HRESULT code : codes) {
    const auto* info = feroq::cli::FindResultCode(static_cast<std::uint32_t>(code));
    ASSERT_NE(info, nullptr) << std::hex << code;
    EXPECT_GT(std::strlen(info->meaning), 5u);
  }
  EXPECT_EQ(feroq::cli::DescribeResult(0x20010019),
            "ZQ_CREATE_E_PARENT_NOT_FOUND (0x20010019): the parent folder was not found");
  EXPECT_EQ(feroq::cli::DescribeResult(0x12345678), "0x12345678 (an unknown result code)");
}

// `codes` reads what a user copies from an error line or the README.
TEST(ResultCodeTableTest, CodesAreReadByNameOrHexValue) {
  const struct {
    const char* text;
    std::optional<std::uint32_t> value;
  } cases[] = {
      {"20010019", 0x20010019u},     {"0x801d1109", 0x801D1109u}, {"801D1109", 0x801D1109u},
      {"-2147024809", 0x80070057u},  {"e_invalidarg", 0x80070057u}, {"FARM_E_NO_SUCH_SERVER", 0x80180012u},
      {"0x", std::nullopt},          {"123456789", std::nullopt},  {"0x80070057z", std::nullopt},
      {"-2147483649", std::nullopt}, {"", std::nullopt},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(feroq::cli::ParseResultCode(c.text), c.value) << c.text;
  }
}

// Every result code the README names is one `feroq codes` explains.
TEST(ResultCodeTableTest, EveryCodeTheReadmeNamesIsKnown) {
  const std::string readme = ReadWholeFile(std::string(FEROQ_SOURCE_DIR) + "/README.md").value_or("");
  const std::regex code("\\b0x[0-9A-Fa-f]{8}\\b");
  int seen = 0;
  for (auto it = std::sregex_iterator(readme.begin(), readme.end(), code); it != std::sregex_iterator(); ++it) {
    const std::uint32_t value = static_cast<std::uint32_t>(std::stoul(it->str(), nullptr, 16));
    if (value == 0x46455251u) continue;  // the farm file's application id, not a result code
    EXPECT_NE(feroq::cli::FindResultCode(value), nullptr) << it->str();
    ++seen;
  }
  EXPECT_GT(seen, 10);
}

// Option fields split where the user meant them to.
TEST(OptionFieldsTest, ColonsInPathsQuotesAndDoubledStay) {
  using Fields = std::vector<std::string>;
  const struct {
    const char* text;
    Fields fields;
  } cases[] = {
      {"APPSRV01", {"APPSRV01"}},
      {"APPSRV01:C:\\a.exe:D:/work", {"APPSRV01", "C:\\a.exe", "D:/work"}},
      {"S:\"C:\\Program Files\\a.exe\" /x:y:D:\\w", {"S", "\"C:\\Program Files\\a.exe\" /x", "y", "D:\\w"}},
      {"S:a.exe /in D:\\data", {"S", "a.exe /in D:\\data"}},
      {"S:a.exe /port::80", {"S", "a.exe /port:80"}},
      {"S:ab:\\x", {"S", "ab", "\\x"}},
      {"A:B:C", {"A", "B", "C"}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(feroq::cli::SplitOptionFields(c.text), c.fields) << c.text;
  }
}

TEST_F(CliTest, UsageErrorsExitWith2AndHelpWith0) {
  const std::vector<std::vector<std::string>> usage_errors = {
      {}, {"app"}, {"frobnicate"}, {"app", "show"},  // DN missing
      {"app", "publish", "--name", "X", "--encryption", "RC5_64Bit"},
      {"app", "publish", "--name", "X", "--wl-attributes", "Invisible"},
      {"app", "publish", "--name", "X", "--user", "alice"},
      {"account", "add", "\\alice"},  // no domain
  };
  for (const auto& args : usage_errors) EXPECT_EQ(Run(args).exit_code, 2) << ::testing::PrintToString(args);
  Result help = Run({"app", "publish", "--help"});
  EXPECT_EQ(help.exit_code, 0);
  EXPECT_NE(help.out.find("--server"), std::string::npos);
  EXPECT_NE(help.out.find("--icon-file"), std::string::npos);
  // Nothing was published by the refused commands.
  EXPECT_TRUE(Json({"app", "list"}).empty());
}

// The tool sets up only the group of the command it is given: each command
// word, after the tool's options (--farm as two words here), reaches its
// own group, and help without a command still lists every one.
TEST_F(CliTest, EachCommandWordReachesItsGroup) {
  const std::vector<std::string> words = {"farm", "codes",      "server", "account", "folder",
                                          "app",  "export-all", "import", "watch"};
  Result all = Run({"--help"});
  EXPECT_EQ(all.exit_code, 0);
  for (const std::string& word : words) {
    EXPECT_NE(all.out.find("\n  " + word + " "), std::string::npos) << word;
    Result help = Run({"sqlite:" + dir_.File("farm.db"), "--json", word, "--help"}, "--farm");
    EXPECT_EQ(help.exit_code, 0) << word;
    EXPECT_NE(help.out.find("Usage: feroq " + word + " "), std::string::npos) << word << ": " << help.out;
  }
}

// Each refusal names its cause, in words, on standard error; what must not
// be said (a generic service failure, a wrong hint) is not.
TEST_F(CliTest, ErrorsNameTheirCause) {
  SetUpFarm();
  PublishEditor();
  const std::string dn = "\\Applications\\Office\\Tools\\Editor";
  Ok({"folder", "create", "\\Applications\\Tools"});
  const std::vector<std::string> publish = {"app", "publish", "--name", "Calc", "--browser-name", "calc",
                                            "--program", "C:\\calc.exe"};
  auto with = [&](std::vector<std::string> more) {
    std::vector<std::string> args = publish;
    args.insert(args.end(), more.begin(), more.end());
    return args;
  };
  const struct {
    std::vector<std::string> args;
    std::vector<std::string> said;
    const char* not_said;
  } cases[] = {
      {with({"--server", "NOPE"}), {"cause [server]: FARM_E_NO_SUCH_SERVER (0x80180012)"}, "VORN_E_FAILURE"},
      {with({"--user", "CORP\\nobody"}), {"cause [account]: FARM_E_NO_SUCH_ACCOUNT (0x80180013)"}, "VORN_E_FAILURE"},
      {{"app", "set", dn, "--add-server", "NOPE", "--description", "two\nlines", "--height", "300"},
       {"adding the server NOPE", "FARM_E_NO_SUCH_SERVER", "setting the description", "FARM_E_TEXT_LINE_BREAK",
        "2 of the changes to " + dn + " were refused"},
       "saved \\Applications"},
      {{"app", "set", dn, "--dir", "C:\\a|b", "--window-type", "Custom", "--height", "5000", "--width", "640"},
       {"saving " + dn + " failed: E_NOTIMPL (0x80004001): the farm's checks refused the application",
        "cause [DefaultWorkDirectory]: ZQAPP_CHECK_WORKING_DIRECTORY (0xDEAD1003)",
        "cause [DefaultWindowHeight]: ZQAPP_CHECK_HEIGHT_TOO_LARGE (0xDEAD1008)"},
       "cannot express"},
      {{"folder", "create", "\\Applications\\office"}, {"cause [name]: FARM_E_NAME_TAKEN (0x80180006)"}, nullptr},
      {{"folder", "move", "\\Applications\\Office\\Tools", "\\Applications"},
       {"cause [name]: FARM_E_NAME_TAKEN (0x80180006)"},
       "root folder cannot be moved"},
      {{"app", "set", dn, "--icon-file", dir_.File("missing.ico")}, {"there is no icon file " + dir_.File("missing.ico")},
       "E_INVALIDARG"},
      {{"app", "export", dn, "--kind", "def", "-o", dir_.File(std::string(300, 'x') + ".def")},
       {"OUTPUT_NAME_TOO_LONG (0x800700CE)"},
       "farm's services"},
      {{"app", "export", dn, "--kind", "def", "-o", dir_.File("no/such/dir/a.def")},
       {"OUTPUT_FOLDER_MISSING (0x80070003)"},
       "farm's services"},
      {{"farm", "init", "--name", "Other"}, {"exists already, named feroq; nothing was changed"}, nullptr},
      {with({"--folder", "\\Applications\\Nowhere"}),
       {"ZQ_CREATE_E_PARENT_NOT_FOUND (0x20010019): the parent folder was not found"}, nullptr},
      {{"app", "publish", "--name", "x/y", "--browser-name", "xy", "--program", "C:\\a.exe"},
       {"cause [FriendlyName]: FARM_E_NAME_SEPARATOR (0x80180002)"}, nullptr},
      {{"folder", "rename", "\\Applications\\Office", ".."}, {"cause [name]: FARM_E_NAME_DOTS (0x80180005)"}, nullptr},
      {{"folder", "delete", "\\Applications\\Office"}, {"E_ACCESSDENIED (0x80070005)"}, nullptr},
      {{"app", "show", "\\Applications\\Office\\Nothing"}, {"\\Applications\\Office\\Nothing"}, nullptr},
      {{"server", "remove", "APPSRV01"}, {"VORN_E_REFUSED (0x80000007)"}, nullptr},  // the editor lists it
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args[0] + " " + c.args[1] + " " + c.args.back());
    Result r = Fails(c.args, c.said);
    if (c.not_said != nullptr) {
      EXPECT_EQ((r.err + r.out).find(c.not_said), std::string::npos) << r.err;
    }
  }
  // Nothing of the refused changes reached the farm.
  const json editor = Json({"app", "show", dn});
  EXPECT_EQ(editor["description"], "A text editor");
  EXPECT_EQ(editor["working_directory"], "C:\\Work");
  EXPECT_EQ(Json({"farm", "info"})["name"], "feroq");
  EXPECT_EQ(Json({"app", "list"}).size(), 1u);
}

// Control characters a farm lets through (a description may hold them) are
// shown escaped on every human-readable line, results and errors alike.
TEST_F(CliTest, ControlCharactersNeverReachTheTerminal) {
  SetUpFarm();
  PublishEditor();
  const std::string dn = "\\Applications\\Office\\Tools\\Editor";
  Ok({"app", "set", dn, "--description", "clear\x1b[2Jred\x1b[31m\xc2\x9b" "1m"});
  Result shown = Run({"app", "show", dn});
  EXPECT_NE(shown.out.find("clear\\x1B[2Jred\\x1B[31m\\x9B1m"), std::string::npos) << shown.out;
  Result missing = Run({"app", "show", "\\Applications\\bell\a\x1b]0;title\a"});
  EXPECT_NE(missing.err.find("bell\\x07\\x1B]0;title\\x07"), std::string::npos) << missing.err;
  for (const Result& r : {shown, missing, Run({"folder", "tree"}), Run({"app", "list"})}) {
    EXPECT_EQ((r.out + r.err).find_first_of("\x1b\a"), std::string::npos) << r.out << r.err;
  }
  EXPECT_EQ(Json({"app", "show", dn})["description"], "clear\x1b[2Jred\x1b[31m\xc2\x9b" "1m");
}

TEST_F(CliTest, AFarmThatCannotBeOpenedFailsWithTheServicesCode) {
  Fails({"farm", "info"}, {"not a farm URL: nosuch:thing"}, 2, "--farm=nosuch:thing");
  // A mistyped path names no farm, and none is made.
  const std::string typo = dir_.File("frm.db");
  Fails({"app", "list"}, {"FARM_FILE_MISSING (0x80170006)", "no farm at " + typo + "; create it with `feroq farm init`"},
        1, "--farm=sqlite:" + typo);
  EXPECT_FALSE(std::filesystem::exists(typo));
  ASSERT_TRUE(WriteWholeFile(dir_.File("not-a-farm.db"), "plain text, not a farm"));
  Fails({"farm", "info"}, {"FARM_FILE_NOT_A_FARM (0x80170002)"}, 1, "--farm=sqlite:" + dir_.File("not-a-farm.db"));
  EXPECT_EQ(ReadWholeFile(dir_.File("not-a-farm.db")), "plain text, not a farm");
}

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
  const std::string marker = "<!-- run by tests/cli_test.cc -->\n```sh\n";
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

// Runs the tool with standard error on a terminal, so that it shows its
// progress, and sends it `signal` as soon as the progress shows `point`
// ("publishing 250/"). The tool cannot run far past the point: it waits on
// the terminal once the unread progress fills the terminal's buffer. True
// when the signal ended it.
// How an interrupted run ended: by the signal, by itself before the signal
// landed (a busy machine reads the progress late), or neither (the point was
// never shown, or the tool failed).
enum class Interrupted { kBySignal, kFinishedFirst, kNo };

// Runs the tool with standard error on a terminal and sends `signal` once
// the progress shows `point`.
Interrupted InterruptAt(const std::vector<std::string>& args, const std::string& point, int signal,
                        const std::string& out) {
  const int terminal = posix_openpt(O_RDWR | O_NOCTTY);
  if (terminal < 0 || grantpt(terminal) != 0 || unlockpt(terminal) != 0) return Interrupted::kNo;
  const pid_t pid = Start(args, out, ptsname(terminal), O_RDWR | O_NOCTTY);
  const bool started = pid > 0;
  bool sent = false;
  std::string shown;
  char buffer[4096];
  for (ssize_t got; started && !sent && (got = read(terminal, buffer, sizeof buffer)) > 0;) {
    shown.append(buffer, static_cast<std::size_t>(got));
    if (shown.find(point) != std::string::npos) sent = kill(pid, signal) == 0;
  }
  int status = 0;
  const bool ended = started && waitpid(pid, &status, 0) == pid;
  close(terminal);
  if (!sent || !ended) return Interrupted::kNo;
  if (WIFSIGNALED(status) && WTERMSIG(status) == signal) return Interrupted::kBySignal;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? Interrupted::kFinishedFirst : Interrupted::kNo;
}

// An import of 1,000 files interrupted (SIGKILL and SIGINT) while it reads
// and while it publishes, at points taken at random: afterwards the farm
// holds none of it, folders included, the file passes SQLite's integrity
// check, and the same import then runs to the end.
// (Labelled slow and integration in CMakeLists.txt.)
TEST_F(CliTest, AKilledImportLeavesAllOrNoneAndRunsAgain) {
  constexpr int kFiles = 1000;
  constexpr int kInterruptions = 12;
  std::filesystem::create_directories(dir_.File("defs"));
  for (int i = 0; i < kFiles; ++i) {
    const std::string n = std::to_string(i);
    ASSERT_TRUE(WriteWholeFile(dir_.File("defs/app" + n + ".def"),
                               "BeginApplication\n    ObjectName = \"app" + n + "\"\n    DisplayName = \"App " + n +
                                   "\"\n    DefaultInitialProgram = \"C:\\app.exe\"\n    ParentFolder = \"\\Applications\\Bulk\\" +
                                   (i % 2 == 0 ? "Even" : "Odd") + "\"\n    ServerList =\n        \"APPSRV01\",.\n"
                                   "    UserList =\n        \"CORP\"/\"alice\".\nEndApplication\n"));
  }
  Ok({"farm", "init"}, Farm("model"));
  Ok({"server", "add", "APPSRV01"}, Farm("model"));
  Ok({"account", "add", "CORP\\alice"}, Farm("model"));
  const std::vector<std::string> import = {"import", "--create-folders", dir_.File("defs")};
  auto counts = [&](const std::string& farm) {
    const json info = Json({"farm", "info"}, farm);
    return std::make_pair(info.value("applications", -1), info.value("folders", -1));
  };
  const std::pair<int, int> none = {0, 1}, all = {kFiles, 4};  // folders: the root, Bulk, Even, Odd

  std::map<int, int> interrupted;  // runs the signal ended, by signal
  std::mt19937 random(20261206);
  std::uniform_int_distribution<int> step(1, kFiles * 9 / 10);
  for (int run = 0; run < kInterruptions; ++run) {
    const std::string point = (run % 3 == 0 ? "reading " : "publishing ") + std::to_string(step(random)) + "/";
    const int signal = run % 2 == 0 ? SIGKILL : SIGINT;
    SCOPED_TRACE(point + (signal == SIGKILL ? " SIGKILL" : " SIGINT"));
    const std::string name = "killed" + std::to_string(run);
    std::filesystem::copy_file(dir_.File("model.db"), dir_.File(name + ".db"));
    std::vector<std::string> args = import;
    args.insert(args.begin(), Farm(name));
    const Interrupted how = InterruptAt(args, point, signal, dir_.File("out.txt"));
    ASSERT_NE(how, Interrupted::kNo);
    std::string report;
    EXPECT_EQ(feroq::store::CheckSqliteFarmFile(dir_.File(name + ".db"), &report), 0u) << report;
    // An import the signal reached too late has committed all of it.
    EXPECT_EQ(counts(Farm(name)), how == Interrupted::kBySignal ? none : all);
    interrupted[signal] += how == Interrupted::kBySignal;
    Ok(import, Farm(name));
    EXPECT_EQ(counts(Farm(name)), all);
  }
  // A tool that let a signal pass would finish every run first.
  EXPECT_GT(interrupted[SIGKILL], 0);
  EXPECT_GT(interrupted[SIGINT], 0);
}

TEST_F(CliTest, WatchPrintsTheChangesOfAnotherProcess) {
  SetUpFarm();
  const std::string out = dir_.File("watch.out"), err = dir_.File("watch.err");
  pid_t watcher = Start({Farm(), "--json", "watch", "--count", "2", "--timeout", "120", "--mask", "apps"}, out, err);
  // The queue sees only changes made after it exists: its note says so.
  ASSERT_TRUE(WaitForOutput(watcher, err, "watching")) << ReadWholeFile(err).value_or("");
  Ok({"folder", "create", "\\Applications\\Games"});  // not selected
  PublishEditor();
  // The folder's new name reaches the application's name, and then the
  // application goes: however late the watcher prints, each event shows the
  // name the change itself had.
  Ok({"folder", "rename", "\\Applications\\Office\\Tools", "Kit"});
  Ok({"app", "delete", "\\Applications\\Office\\Kit\\Editor"});
  Result r = Finish(watcher, out, err);
  ASSERT_EQ(r.exit_code, 0) << r.err;
  std::vector<json> events;
  std::size_t start = 0;
  for (std::size_t end; (end = r.out.find('\n', start)) != std::string::npos; start = end + 1) {
    events.push_back(json::parse(r.out.substr(start, end - start)));
  }
  ASSERT_EQ(events.size(), 2u) << r.out;
  EXPECT_EQ(events[0]["event"], "app-published");
  EXPECT_EQ(events[0]["object"]["dn"], "\\Applications\\Office\\Tools\\Editor");
  EXPECT_EQ(events[0]["object"]["name_is_current"], false);
  EXPECT_EQ(events[1]["event"], "app-deleted");
  EXPECT_EQ(events[1]["object"]["id"], events[0]["object"]["id"]);
  EXPECT_EQ(events[1]["object"]["dn"], "\\Applications\\Office\\Kit\\Editor");
  EXPECT_EQ(events[1]["object"]["name_is_current"], false);
}

// A watcher killed outright leaves its queue in the farm file, holding the
// change log back; the next command that opens the farm removes the queue
// and the log is trimmed again.
TEST_F(CliTest, KilledWatchersQueueIsReclaimedWhenTheFarmOpens) {
  const std::string path = dir_.File("farm.db");
  const std::string out = dir_.File("watch.out"), err = dir_.File("watch.err");
  pid_t watcher = Start({Farm(), "watch", "--timeout", "120"}, out, err);
  ASSERT_TRUE(WaitForOutput(watcher, out, "watching")) << ReadWholeFile(err).value_or("");
  Ok({"folder", "create", "\\Applications\\Games"});
  ASSERT_EQ(kill(watcher, SIGKILL), 0);
  ASSERT_EQ(Finish(watcher, out, err).signal, SIGKILL);

  auto queues_and_entries = [&] {
    std::shared_ptr<feroq::store::FarmStore> store;
    std::pair<std::size_t, std::size_t> counts{99, 99};
    if (feroq::store::OpenSqliteFarmStore(path, &store) == 0) {
      store->Read([&](const feroq::store::FarmView& view) -> VSTATUS {
        counts = {view.ListEventQueues().size(), view.EventsAfter(0, 100).size()};
        return 0;
      });
    }
    return counts;
  };
  EXPECT_EQ(queues_and_entries(), (std::pair<std::size_t, std::size_t>{1, 1}));
  Ok({"server", "list"});
  EXPECT_EQ(queues_and_entries(), (std::pair<std::size_t, std::size_t>{0, 0}));
}

}  // namespace
