// The library's reader of application definition files: hand-written
// files, every way a file can be malformed or mis-encoded, and the publish
// description built from a definition. (That every key of a full file is
// read as written is app_import_test.cc's round trip, which exports the
// imported sample byte for byte; truncated and randomly damaged files are
// the reader fuzzer's corpus, replayed by every build.)
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "feroq/app_import.h"
#include "support/definition_samples.h"
#include "support/temp_files.h"

namespace feroq {
namespace {

using feroq::testing::FullDefinitionFile;
using feroq::testing::ScratchDir;
using feroq::testing::WriteWholeFile;

// The file with its first occurrence of `from` replaced by `to`.
std::string Edited(const std::string& file, const std::string& from, const std::string& to) {
  std::string out = file;
  const std::size_t at = out.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  if (at != std::string::npos) out.replace(at, from.size(), to);
  return out;
}

// The 1-based line of the first occurrence of `text`.
int LineOf(const std::string& file, const std::string& text) {
  const std::size_t at = file.find(text);
  EXPECT_NE(at, std::string::npos) << text;
  return 1 + static_cast<int>(std::count(file.begin(), file.begin() + static_cast<long>(at), '\n'));
}

ApplicationDefinition Parsed(const std::string& text) {
  ApplicationDefinition def;
  DefinitionProblem problem;
  EXPECT_EQ(ParseDefinition(text, "test.def", &def, &problem), S_OK) << DescribeProblem(problem);
  return def;
}

DefinitionProblem Refused(const std::string& text, HRESULT expected = kDefinitionFileMalformed) {
  ApplicationDefinition def;
  DefinitionProblem problem;
  EXPECT_EQ(ParseDefinition(text, "bad.def", &def, &problem), expected);
  EXPECT_EQ(problem.file, "bad.def");
  return problem;
}

// CR LF line ends, a UTF-8 byte-order mark (as Notepad writes one), and
// keys left out.
TEST(DefinitionReaderTest, AcceptsCrLfAndAByteOrderMarkAndLeavesOutWhatTheFileLeavesOut) {
  const ApplicationDefinition def = Parsed(
      "\xEF\xBB\xBF" + feroq::testing::WithCrLf("BeginApplication\n    DisplayName = \"A\"\n    ServerList =\n"
                                             "    # 0 servers found\n    UserList =.\n\n    ZQAttributes = \"HideTitlebar\".\n"
                                             "EndApplication\n# trailing comment\n"));
  EXPECT_EQ(def.object_name, u"A");
  EXPECT_EQ(def.zq_attributes, kZQAttributeHideTitlebar);
  EXPECT_TRUE(def.servers.empty() && def.users.empty());
  EXPECT_FALSE(def.version || def.browser_name || def.window_type || def.icon);
}

struct MalformedCase {
  const char* what;
  std::string from;  // text of the full file to replace
  std::string to;
  std::string at;        // text on the line the problem must name (in the edited file)
  std::string expected;  // part of the message
};

TEST(DefinitionReaderTest, MalformedFilesNameTheLineAndWhatWasExpected) {
  const std::string full = FullDefinitionFile();
  const std::size_t icon_data = full.find("    IconData =");
  ASSERT_NE(icon_data, std::string::npos);
  const std::vector<MalformedCase> cases = {
      {"unknown key", "    WLFolder = ", "    WLFolders = ", "WLFolders", "one of the keys"},
      {"bad encryption word", "RC5_56Bit", "RC5_64Bit", "RC5_64Bit", "an encryption level (Basic, RC5_Logon,"},
      {"bad colour count", "DefaultWindowColor = 256", "DefaultWindowColor = 65536", "65536", "a colour count"},
      {"number out of range", "DefaultWindowHeight = 600", "DefaultWindowHeight = 4294967296", "4294967296",
       "a whole number"},
      {"bad sound word", "DefaultSoundType = Basic", "DefaultSoundType = Loud", "Loud", "a sound type"},
      {"bad video word", "NoVideo", "Video", "DefaultVideoType", "NoVideo"},
      {"unknown flag word", "\"Desktop\".", "\"Taskbar\".", "Taskbar", "a flag word of DefaultDesktopIntegrate"},
      {"flag list never closed", "\"NoWLEnum\".", "\"NoWLEnum\",", "ParentFolder", "a flag word of PublishingFlags"},
      {"window type 8 has no word", "\"Percent\"", "\"Type9\"", "DefaultWindowType", "(640X480, 800X600,"},
      {"program neither quoted nor beginning with a quote", "\"C:\\Program Files\\Editor\\editor.exe\" /safe",
       "C:\\editor.exe", "DefaultInitialProgram", "beginning with a double quote"},
      {"missing closing quote", "ObjectName = \"editor\"", "ObjectName = \"editor", "ObjectName",
       "the value of ObjectName in double quotes"},
      // A value that goes on past its line: the rest of it would be read as
      // keys of its own.
      {"line break in a value", "DisplayName = \"Editor \xC3\xA9\"",
       "DisplayName = \"Harmless\"\r    DefaultWorkingDirectory = \"D:evil\"", "Harmless", "no line break (CR)"},
      {"user without quotes", "\"CORP\"/\"alice\";", "CORP/alice;", "CORP/alice", "a user entry"},
      {"server without comma", "\"S1\",;", "\"S1\";", "\"S1\";", "a server entry"},
      {"duplicate key", "    DefaultSoundType = Basic\n", "    DefaultSoundType = Basic\n    DefaultSoundType = NoSound\n",
       "NoSound", "each key once (DefaultSoundType was given on line"},
      {"short icon mask", "0x7E, 0x7F.", "0x7E.", "0x7E.", "128 bytes of IconMask"},
      {"malformed icon byte", "0x05, ", "0x5G, ", "0x5G, ", "a byte of IconMask"},
      {"icon mask alone", full.substr(icon_data, full.find("\nEndApplication") - icon_data), "", "EndApplication",
       "both IconMask and IconData"},
      {"not UTF-8", "Editor \xC3\xA9", "Editor \xC3(", "DisplayName", "UTF-8 text"},
      {"no BeginApplication", "BeginApplication", "Begin Application", "Begin Application", "BeginApplication"},
      {"text after EndApplication", "EndApplication\n", "EndApplication\nObjectName = \"x\"\n", "ObjectName = \"x\"",
       "nothing after EndApplication"},
  };
  for (const MalformedCase& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string file = Edited(full, c.from, c.to);
    const DefinitionProblem problem = Refused(file);
    EXPECT_EQ(problem.line, LineOf(file, c.at)) << problem.message;
    EXPECT_NE(problem.message.find(c.expected), std::string::npos) << problem.message;
    EXPECT_EQ(DescribeProblem(problem).rfind("bad.def:" + std::to_string(problem.line) + ": expected ", 0), 0u);
  }
}

// What a message quotes of the file is short and shows what cannot be seen.
TEST(DefinitionReaderTest, MessagesCutLongTextAndShowControlCharacters) {
  const std::string name(5000, 'x');
  DefinitionProblem problem = Refused("BeginApplication\n    DisplayName = \"" + name + "\nEndApplication\n");
  EXPECT_LT(problem.message.size(), 300u) << problem.message;
  EXPECT_NE(problem.message.find("... (4941 more bytes)"), std::string::npos) << problem.message;
  problem = Refused("BeginApplication\n    Display\x1B[2J\x7FName = \"x\"\nEndApplication\n");
  EXPECT_NE(problem.message.find("'Display\\x1B[2J\\x7FName'"), std::string::npos) << problem.message;
}

// Files as a whole: the encoding, the size, whether they can be read.
TEST(DefinitionReaderTest, WholeFileRefusalsSayWhatToDo) {
  DefinitionProblem problem = Refused(std::string("\xFF\xFE" "B\0e\0g\0", 8));
  EXPECT_EQ(problem.line, 0);
  EXPECT_NE(problem.message.find("UTF-16 text; save it as UTF-8"), std::string::npos);
  EXPECT_EQ(Refused(std::string("B\0e\0g\0", 6)).line, 0);  // UTF-16 without its mark

  ScratchDir dir;
  ASSERT_TRUE(WriteWholeFile(dir.File("big.def"), FullDefinitionFile() + std::string(kMaxDefinitionFileBytes, '#')));
  struct Case {
    std::string name;
    HRESULT code;
  };
  for (const Case& c : {Case{"big.def", kDefinitionFileTooLarge}, Case{"missing.def", kDefinitionFileNotFound},
                        Case{"", kDefinitionFileUnreadable}}) {
    ApplicationDefinition def;
    EXPECT_EQ(ReadDefinitionFile(dir.WideFile(c.name).c_str(), &def, &problem), c.code) << c.name;
    EXPECT_EQ(problem.file, dir.File(c.name));
    EXPECT_EQ(problem.line, 0);
  }
}

TEST(PublishDescriptionTest, FillsTheRecordAndChainsBlocksOf16ServersAnd32Users) {
  ApplicationDefinition def = Parsed(FullDefinitionFile());
  for (int i = 0; i < 16; ++i) def.servers.push_back({u"X" + std::u16string(1, u'a' + i), u"", u""});
  for (int i = 0; i < 31; ++i) def.users.push_back({u"D", u"u" + std::u16string(1, u'a' + i), 1});
  PublishDescription description;
  ASSERT_EQ(description.Build(def, 3), S_OK);
  const _ZQWinAppData& d = *description.data();
  EXPECT_EQ(d.version, 2u);  // the file's, not the default
  const auto counts = [](const auto* block) {
    std::vector<LONG> counts;
    for (; block != nullptr; block = block->next) counts.push_back(block->count);
    return counts;
  };
  EXPECT_EQ(counts(d.servers), (std::vector<LONG>{16, 4}));
  EXPECT_EQ(counts(d.users), (std::vector<LONG>{32, 1}));
  EXPECT_EQ(d.servers->servers[0].initialProgram, nullptr);  // empty: the application's default
  EXPECT_EQ(std::u16string(d.servers->servers[3].workingDirectory), u"D:\\w");
  EXPECT_EQ(d.users->users[31].accountKind, 1);
  EXPECT_EQ(d.useIcon, 1);

  ApplicationDefinition bare;
  bare.icon_file = u"/tmp/x.ico";
  bare.icon_index = 2;
  ASSERT_EQ(description.Build(bare, 3), S_OK);  // a second build starts over
  EXPECT_EQ(d.version, 3u);
  EXPECT_EQ(d.servers, nullptr);
  EXPECT_EQ(std::u16string(d.iconFile), u"/tmp/x.ico");
  EXPECT_EQ(d.iconIndex, 2);
}

}  // namespace
}  // namespace feroq
