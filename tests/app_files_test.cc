// The application store's file composers: the client launch file and the
// HTML page of a stored application, their contents, the escaping of farm
// values (a value cannot add a key or section to the launch file, nor
// markup to the page), and a hostile page opened in headless Chromium.
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "feroq/app_export.h"
#include "feroq/farm_object.h"
#include "feroq/services/zqapp.h"
#include "feroq/zqwinapp_object.h"
#include "support/farm_fixture.h"
#include "support/temp_files.h"

namespace {

using feroq::testing::ScratchDir;
using feroq::testing::Utf16;
using feroq::testing::Utf8;

// A display name whose script, if it ran, would change the page's title.
constexpr char16_t kHostileName[] = u"<script>document.title='pwned';alert(1)</script>";
constexpr char kHostileNameEscaped[] = "&lt;script&gt;document.title=&#39;pwned&#39;;alert(1)&lt;/script&gt;";

std::vector<std::string> TakeLines(VORNMultiString& list) {
  std::vector<std::string> lines;
  for (const char16_t* line = list.GetHeadString(); line != nullptr; line = list.GetNextString()) {
    lines.push_back(Utf8(line));
  }
  return lines;
}

std::string Joined(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  return text;
}

using Ini = std::map<std::string, std::map<std::string, std::string>>;

bool IsWord(const std::string& text) {
  return !text.empty() && std::isalpha(static_cast<unsigned char>(text[0])) &&
         std::all_of(text.begin(), text.end(), [](char c) { return std::isalnum(static_cast<unsigned char>(c)); });
}

// A value free of the characters that could end it or start a key, section
// or comment.
bool IsPlainValue(const std::string& value) {
  return std::none_of(value.begin(), value.end(), [](char c) {
    return static_cast<unsigned char>(c) < 0x20 || c == 0x7F || std::strchr("[]=;#", c) != nullptr;
  });
}

// The launch file as sections of keys. Fails the test for any line that is
// not a comment, a section header or one key with a plain value.
Ini ParseLaunchFile(const std::vector<std::string>& lines, std::vector<std::string>* section_order) {
  Ini ini;
  std::string section;
  for (const std::string& line : lines) {
    EXPECT_FALSE(line.empty());
    if (line.rfind(";", 0) == 0) continue;
    const std::size_t equals = line.find('=');
    if (line.size() > 2 && line.front() == '[' && line.back() == ']' && IsWord(line.substr(1, line.size() - 2))) {
      section = line.substr(1, line.size() - 2);
      EXPECT_EQ(ini.count(section), 0u) << "section twice: " << section;
      ini[section];
      section_order->push_back(section);
    } else if (equals != std::string::npos && IsWord(line.substr(0, equals)) &&
               IsPlainValue(line.substr(equals + 1))) {
      const std::string key = line.substr(0, equals);
      EXPECT_FALSE(section.empty()) << line;
      EXPECT_EQ(ini[section].count(key), 0u) << "key twice: " << line;
      ini[section][key] = line.substr(equals + 1);
    } else {
      ADD_FAILURE() << "not a launch file line: " << line;
    }
  }
  return ini;
}

// Undoes the launch file's %XX escapes.
std::string PercentDecoded(const std::string& value) {
  std::string out;
  for (std::size_t i = 0; i < value.size(); ++i) {
    if (value[i] == '%' && i + 2 < value.size()) {
      out.push_back(static_cast<char>(std::stoi(value.substr(i + 1, 2), nullptr, 16)));
      i += 2;
    } else {
      out.push_back(value[i]);
    }
  }
  return out;
}

class AppFilesTest : public feroq::testing::FarmTest {
 protected:
  void SetUp() override {
    FarmTest::SetUp();
    alpha_ = AddServer(u"ALPHA");
    beta_ = AddServer(u"BETA <&>");
    feroq::testing::AppSeed seed;
    seed.browser_name = u"Editor";
    seed.friendly_name = u"Text Editor";
    seed.description = u"Edits \"plain\" & 'rich' text";
    seed.initial_program = u"C:\\editor.exe /mode=fast;quiet #1 100%";
    seed.work_directory = u"C:\\work[1]";
    seed.window_width = 1024;
    seed.window_height = 768;
    seed.window_type = 6;  // store byte of "Custom"
    seed.servers = {alpha_, beta_};
    app_ = AddApplication(seed);
    store_ = std::make_unique<ZQAppSAL>(subsystem());
  }

  std::vector<std::string> Launch(ULONG64 id, const ZQAPP_OBRFILE& request,
                                  VSTATUS expected = feroq::VORN_OK) {
    VORNMultiString lines;
    ZQAPP_OBRFILE copy = request;
    EXPECT_EQ(store_->CreateOBRFile(id, &copy, lines), expected);
    return TakeLines(lines);
  }
  std::vector<std::string> Page(ULONG64 id, ZQAPP_HTMLFILE request,
                                VSTATUS expected = feroq::VORN_OK) {
    VORNMultiString lines;
    EXPECT_EQ(store_->CreateHTMLFile(id, &request, lines), expected);
    return TakeLines(lines);
  }
  // An application whose display name is `name`, given past the naming
  // rules (a slash or a line break), as a farm file from before them holds.
  ULONG64 Named(const std::u16string& browser_name, const std::u16string& name) {
    const ULONG64 id = AddApplication(browser_name);
    feroq::testing::ForceName(id, name);
    return id;
  }

  ULONG64 alpha_ = 0;
  ULONG64 beta_ = 0;
  ULONG64 app_ = 0;
  std::unique_ptr<ZQAppSAL> store_;
};

TEST_F(AppFilesTest, UnknownApplicationsAndNullRequestsAreRefused) {
  ZQAPP_HTMLFILE html{};
  ZQAPP_OBRFILE launch{};
  VORNMultiString lines;
  EXPECT_EQ(store_->CreateHTMLFile(app_ + 1000, &html, lines), feroq::VORN_E_FAILURE);
  EXPECT_EQ(store_->CreateOBRFile(app_ + 1000, &launch, lines), feroq::VORN_E_FAILURE);
  EXPECT_EQ(lines.GetCount(), 0u);
  EXPECT_EQ(store_->CreateHTMLFile(app_, nullptr, lines), feroq::VORN_E_INVALIDVALUE);
  EXPECT_EQ(store_->CreateOBRFile(app_, nullptr, lines), feroq::VORN_E_INVALIDVALUE);
}

TEST_F(AppFilesTest, TheLaunchFileDescribesTheApplicationAndItsServers) {
  ZQAPP_OBRFILE request{};
  request.windowed = 1;
  request.encryptionLevel = 5;
  const std::vector<std::string> lines = Launch(app_, request);
  std::vector<std::string> sections;
  Ini ini = ParseLaunchFile(lines, &sections);
  EXPECT_EQ(sections, (std::vector<std::string>{"Launch", "Application", "Servers", "Display", "Connection"}));
  EXPECT_EQ(ini["Launch"]["FileVersion"], "1");
  EXPECT_EQ(ini["Application"]["BrowserName"], "Editor");
  EXPECT_EQ(ini["Application"]["FriendlyName"], "Text Editor");
  EXPECT_EQ(PercentDecoded(ini["Application"]["InitialProgram"]), "C:\\editor.exe /mode=fast;quiet #1 100%");
  EXPECT_EQ(PercentDecoded(ini["Application"]["WorkingDirectory"]), "C:\\work[1]");
  EXPECT_EQ(ini["Servers"], (std::map<std::string, std::string>{
                                {"Count", "2"}, {"Server1", "ALPHA"}, {"Server2", "BETA <&>"}}));
  EXPECT_EQ(ini["Display"], (std::map<std::string, std::string>{{"Mode", "Window"},
                                                                {"WindowType", "Custom"},
                                                                {"WindowWidth", "1024"},
                                                                {"WindowHeight", "768"},
                                                                {"WindowScale", "0"},
                                                                {"Colors", "Other"}}));
  EXPECT_EQ(ini["Connection"], (std::map<std::string, std::string>{
                                   {"Encryption", "RC5_128Bit"}, {"Sound", "NoSound"}, {"Compression", "0"}}));
}

TEST_F(AppFilesTest, TheLaunchRequestDecidesTheClientSettings) {
  // Not windowed, height 0 (the application's), width 640, full screen, the
  // depth set below, encryption 9, sound, compression, a server, a port.
  ZQAPP_OBRFILE request{0, {}, 0, 640, 1, 0, 9, 0, 1, 1, {}, u"BETA\r\n[Servers]", 1494};
  const std::pair<BYTE, std::string> depths[] = {{4, "16"},    {8, "256"},       {15, "32768"},
                                                 {16, "32768"}, {24, "0x1000000"}, {32, "0x1000000"}};
  for (const auto& [depth, colors] : depths) {
    request.colorDepth = depth;
    std::vector<std::string> sections;
    Ini ini = ParseLaunchFile(Launch(app_, request), &sections);
    EXPECT_EQ(ini["Display"]["Colors"], colors) << int{depth};
    EXPECT_EQ(ini["Display"]["Mode"], "FullScreen");
    EXPECT_EQ(ini["Display"]["WindowWidth"], "640");   // the request's
    EXPECT_EQ(ini["Display"]["WindowHeight"], "768");  // the application's
    EXPECT_EQ(ini["Connection"]["Encryption"], "Basic");
    EXPECT_EQ(ini["Connection"]["Sound"], "Basic");
    EXPECT_EQ(ini["Connection"]["Compression"], "1");
    EXPECT_EQ(PercentDecoded(ini["Connection"]["PreferredServer"]), "BETA\r\n[Servers]");
    EXPECT_EQ(ini["Connection"]["Port"], "1494");
    EXPECT_EQ(sections.size(), 5u);
  }
}

TEST_F(AppFilesTest, ALaunchFileValueCannotAddAKeyOrSection) {
  const std::u16string hostile = u"Evil\r\n[Servers]\nServer9=EVIL\r\n[x] a=b; #c %41 \u2028[y]";
  // The services refuse line breaks in names; a farm file from an older
  // feroq may still hold one.
  ULONG64 id = Named(u"Evil", u"Evil");
  RewriteStoredApplication(id, [&](feroq::store::AppRecordData& app) { app.friendly_name = hostile; });
  ZQAPP_OBRFILE request{};
  request.windowed = 1;
  const std::vector<std::string> lines = Launch(id, request);
  std::vector<std::string> sections;
  Ini ini = ParseLaunchFile(lines, &sections);
  EXPECT_EQ(sections, (std::vector<std::string>{"Launch", "Application", "Servers", "Display", "Connection"}));
  EXPECT_EQ(ini["Servers"].count("Server9"), 0u);
  EXPECT_EQ(ini["Servers"]["Count"], "0");
  // The value comes back whole once the escapes are undone.
  EXPECT_EQ(Utf16(PercentDecoded(ini["Application"]["FriendlyName"])), hostile);
}

TEST_F(AppFilesTest, TheHTMLPagePresentsTheApplicationAndOffersItsLaunchFile) {
  const std::vector<std::string> lines = Page(app_, ZQAPP_HTMLFILE{640, 1, 1, {}, 15, 0, 1, {}});
  const std::string page = Joined(lines);
  for (const std::string& line : lines) EXPECT_FALSE(line.empty());
  EXPECT_EQ(lines.front(), "<!DOCTYPE html>");
  EXPECT_EQ(lines.back(), "</html>");
  EXPECT_NE(page.find("<title>Text Editor</title>"), std::string::npos);
  EXPECT_NE(page.find("<h1 id=\"name\">Text Editor</h1>"), std::string::npos);
  EXPECT_NE(page.find("max-width:640px;"), std::string::npos);
  EXPECT_NE(page.find("<meta http-equiv=\"refresh\" content=\"15\">"), std::string::npos);
  EXPECT_NE(page.find("<p id=\"description\">Edits &quot;plain&quot; &amp; &#39;rich&#39; text</p>"),
            std::string::npos);
  EXPECT_NE(page.find("<li>ALPHA</li>\n<li>BETA &lt;&amp;&gt;</li>\n</ul>"), std::string::npos);
  EXPECT_NE(page.find("<tr><th>Window type</th><td>Custom</td></tr>"), std::string::npos);
  EXPECT_NE(page.find("<tr><th>Window size</th><td>1024 x 768</td></tr>"), std::string::npos);
  EXPECT_NE(page.find("<a id=\"launch\" href=\"Editor.obr\""), std::string::npos);

  // Everything optional left out; a server limit.
  const std::string plain = Joined(Page(app_, ZQAPP_HTMLFILE{}));
  for (const char* absent : {"max-width", "refresh", "id=\"description\"", "id=\"servers\"", "id=\"display\""}) {
    EXPECT_EQ(plain.find(absent), std::string::npos) << absent;
  }
  EXPECT_NE(plain.find("id=\"launch\""), std::string::npos);
  const std::string limited = Joined(Page(app_, ZQAPP_HTMLFILE{0, 0, 1, {}, 0, 1, 0, {}}));
  EXPECT_NE(limited.find("<li>ALPHA</li>\n</ul>"), std::string::npos);
}

TEST_F(AppFilesTest, AHostileNameAppearsOnlyEscapedInThePage) {
  ULONG64 id = Named(u"Hostile", kHostileName);
  const std::string page = Joined(Page(id, ZQAPP_HTMLFILE{0, 1, 1, {}, 0, 0, 1, {}}));
  EXPECT_EQ(page.find("<script"), std::string::npos);
  EXPECT_EQ(page.find("'pwned'"), std::string::npos);
  EXPECT_NE(page.find(std::string("<title>") + kHostileNameEscaped + "</title>"), std::string::npos);
  EXPECT_NE(page.find(std::string("<h1 id=\"name\">") + kHostileNameEscaped + "</h1>"), std::string::npos);
}

TEST_F(AppFilesTest, TheLaunchLinkPercentEncodesTheBrowserName) {
  ULONG64 id = Named(u"Caf\u00E9 & Co", u"Cafe");
  const std::string page = Joined(Page(id, ZQAPP_HTMLFILE{}));
  EXPECT_NE(page.find("href=\"Caf%C3%A9%20%26%20Co.obr\""), std::string::npos) << page;
}

// The browser runs as a program of the build machine: POSIX only.
#if !defined(_WIN32)
// ---- The hostile page in a browser ------------------------------------------

// Chromium's DOM of the page at `path` after its scripts (if any) ran; empty
// when Chromium produced nothing.
std::string DumpDom(const ScratchDir& dir, const std::string& path) {
  const std::string command = "timeout 120 /usr/bin/chromium --headless --no-sandbox --disable-gpu "
                              "--user-data-dir=" + dir.File("profile") + " --dump-dom file://" + path +
                              " 2>/dev/null";
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return "";
  std::string dom;
  char buffer[4096];
  for (std::size_t n; (n = fread(buffer, 1, sizeof(buffer), pipe)) > 0;) dom.append(buffer, n);
  pclose(pipe);
  return dom;
}

TEST_F(AppFilesTest, HostilePageInHeadlessChromiumShowsTheNameAsTextAndRunsNoScript) {
  if (access("/usr/bin/chromium", X_OK) != 0) {
    GTEST_SKIP() << "/usr/bin/chromium is not installed (Debian package chromium, installed by "
                    "scripts/install-deps.sh); the page's escaping is still checked by the other tests";
  }
  ScratchDir dir;
  ASSERT_FALSE(dir.path().empty());
  // The harness first proves that Chromium runs a page's script here.
  const std::string control = dir.File("control.html");
  ASSERT_TRUE(feroq::testing::WriteWholeFile(
      control, "<!DOCTYPE html><html><head><title>start</title></head><body>"
               "<script>document.title='pwned'</script></body></html>"));
  const std::string control_dom = DumpDom(dir, control);
  if (control_dom.empty()) GTEST_SKIP() << "chromium is installed but could not run headless here";
  ASSERT_NE(control_dom.find("<title>pwned</title>"), std::string::npos) << control_dom;

  // The page, exported through the library.
  ULONG64 id = Named(u"Hostile", kHostileName);
  FarmObject farm;
  ZQWinAppObject* app = nullptr;
  ASSERT_EQ(farm.CreateWinAppFromID(id, &app), S_OK);
  ASSERT_EQ(app->Load(), S_OK);
  std::u16string page_path = dir.WideFile("hostile.html");
  _HTMLFileOptions options{0, 0, 0, 1, 1, 1};
  const HRESULT exported = app->ExportFile(ZQWinAppHTMLFile, nullptr, page_path.data(), &options);
  CommonObject* object = app;
  farm.FreeObject(object);
  ASSERT_EQ(exported, S_OK);

  const std::string dom = DumpDom(dir, dir.File("hostile.html"));
  ASSERT_FALSE(dom.empty());
  EXPECT_EQ(dom.find("pwned</title>"), std::string::npos) << dom;
  EXPECT_EQ(dom.find("<script"), std::string::npos) << dom;
  // The serialised DOM escapes < > in text and leaves quotes as they are.
  const std::string as_text = "&lt;script&gt;document.title='pwned';alert(1)&lt;/script&gt;";
  EXPECT_NE(dom.find("<title>" + as_text + "</title>"), std::string::npos) << dom;
  EXPECT_NE(dom.find("<h1 id=\"name\">" + as_text + "</h1>"), std::string::npos) << dom;
}
#endif  // !_WIN32

}  // namespace
