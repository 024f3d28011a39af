// The feroq command-line tool, run as a program, and what it says: exit
// codes (0 success, 1 failure, 2 usage), usage and help, the table of result
// codes named in errors, option fields, errors that name their cause, control
// characters kept off the terminal, and a farm that cannot be opened.
#include <cstring>
#include <filesystem>
#include <optional>
#include <regex>

#include "feroq/app_data.h"
#include "output.h"
#include "text_conversion.h"
#include "support/cli_fixture.h"

namespace feroq::testing {
namespace {

using nlohmann::json;

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

}  // namespace
}  // namespace feroq::testing
