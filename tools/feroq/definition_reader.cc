#include "definition_reader.h"

#include <cctype>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>

#include "app_words.h"
#include "text_conversion.h"

namespace feroq::cli {

DefinitionError::DefinitionError(std::string file, int line, const std::string& expected,
                                 const std::string& found)
    : std::runtime_error(file + ":" + std::to_string(line) + ": expected " + expected +
                         (found.empty() ? std::string() : ", found " + found)),
      file_(std::move(file)),
      line_(line),
      expected_(expected) {}

namespace {

constexpr std::size_t kShownTextLimit = 60;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view TrimLeft(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  return s;
}

std::string_view TrimRight(std::string_view s) {
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

std::string_view Trim(std::string_view s) { return TrimRight(TrimLeft(s)); }

// How a piece of the file is named in an error: quoted and shortened.
std::string Shown(std::string_view text) {
  if (text.empty()) return "an empty line";
  std::string shown(text.substr(0, kShownTextLimit));
  if (text.size() > kShownTextLimit) shown += "...";
  return "'" + shown + "'";
}

enum class KeyKind {
  kQuotedText,     // "value"
  kQuotedOrBare,   // "value", or a value beginning with a double quote
  kEncryption,
  kSound,
  kVideo,
  kColor,
  kNumber,
  kWindowType,
  kFlags,
  kServerList,
  kUserList,
  kIconMask,
  kIconData,
};

struct KeyInfo {
  const char* key;
  KeyKind kind;
};

constexpr KeyInfo kKeys[] = {
    {"ObjectName", KeyKind::kQuotedText},
    {"DisplayName", KeyKind::kQuotedText},
    {"Description", KeyKind::kQuotedText},
    {"DefaultInitialProgram", KeyKind::kQuotedOrBare},
    {"DefaultWorkingDirectory", KeyKind::kQuotedOrBare},
    {"WLFolder", KeyKind::kQuotedText},
    {"DefaultEncryptionLevel", KeyKind::kEncryption},
    {"DefaultSoundType", KeyKind::kSound},
    {"DefaultVideoType", KeyKind::kVideo},
    {"DefaultWindowColor", KeyKind::kColor},
    {"DefaultWindowHeight", KeyKind::kNumber},
    {"DefaultWindowWidth", KeyKind::kNumber},
    {"DefaultWindowScale", KeyKind::kNumber},
    {"DefaultWindowType", KeyKind::kWindowType},
    {"DefaultDesktopIntegrate", KeyKind::kFlags},
    {"ZQAttributes", KeyKind::kFlags},
    {"WLAttributes", KeyKind::kFlags},
    {"PublishingFlags", KeyKind::kFlags},
    {"ParentFolder", KeyKind::kQuotedText},
    {"ServerList", KeyKind::kServerList},
    {"UserList", KeyKind::kUserList},
    {"IconMask", KeyKind::kIconMask},
    {"IconData", KeyKind::kIconData},
};

std::string KnownKeys() {
  std::string out;
  for (const KeyInfo& info : kKeys) {
    if (!out.empty()) out += ", ";
    out += info.key;
  }
  return out;
}

class Parser {
 public:
  Parser(std::string_view text, std::string file) : file_(std::move(file)) { SplitLines(text); }

  ApplicationDefinition Parse() {
    ParseHeader();
    ParseBody();
    ParseTrailer();
    return std::move(def_);
  }

 private:
  struct Line {
    std::string_view text;
    int number;
  };

  void SplitLines(std::string_view text) {
    int number = 1;
    while (!text.empty()) {
      std::size_t end = text.find('\n');
      std::string_view line = text.substr(0, end);
      if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
      lines_.push_back({line, number++});
      if (end == std::string_view::npos) break;
      text.remove_prefix(end + 1);
    }
    end_line_ = number;
  }

  [[noreturn]] void Fail(int line, const std::string& expected, const std::string& found) const {
    throw DefinitionError(file_, line, expected, found);
  }
  [[noreturn]] void FailAtEnd(const std::string& expected) const {
    Fail(end_line_, expected, "the end of the file");
  }

  bool AtEnd() const { return next_ >= lines_.size(); }
  const Line& Next() { return lines_[next_++]; }

  static bool IsSkippable(std::string_view text) {
    std::string_view t = Trim(text);
    return t.empty() || t.front() == '#';
  }

  // The next line that is neither blank nor a comment, or null at the end.
  const Line* NextSignificant() {
    while (!AtEnd()) {
      const Line& line = Next();
      if (!IsSkippable(line.text)) return &line;
    }
    return nullptr;
  }

  std::u16string Wide(std::string_view text, int line) const {
    std::optional<std::u16string> wide = FromUtf8(text);
    if (!wide) Fail(line, "UTF-8 text without NUL characters", Shown(text));
    return *wide;
  }

  // ---- Header: comments up to BeginApplication ----
  void ParseHeader() {
    while (!AtEnd()) {
      const Line& line = Next();
      std::string_view t = Trim(line.text);
      if (t.empty()) continue;
      if (t.front() == '#') {
        ParseHeaderComment(t, line.number);
        continue;
      }
      if (t == "BeginApplication") return;
      Fail(line.number, "BeginApplication", Shown(t));
    }
    FailAtEnd("BeginApplication");
  }

  void ParseHeaderComment(std::string_view comment, int line) {
    constexpr std::string_view kVersion = "# Application version:";
    if (comment.starts_with(kVersion)) {
      std::string_view number = Trim(comment.substr(kVersion.size()));
      LONG version = 0;
      if (!ParseLong(number, &version) || version < 0) {
        Fail(line, "a record version (a number) after 'Application version:'", Shown(number));
      }
      def_.version = static_cast<ULONG>(version);
    } else if (comment == "# Application is read-only") {
      def_.read_only = true;
    }
  }

  // ---- Body: keyed lines up to EndApplication ----
  void ParseBody() {
    std::map<std::string, int, std::less<>> seen;
    while (true) {
      const Line* line = NextSignificant();
      if (line == nullptr) FailAtEnd("a property line or EndApplication");
      std::string_view t = TrimLeft(line->text);
      if (TrimRight(t) == "EndApplication") break;
      const std::size_t equals = t.find('=');
      if (equals == std::string_view::npos) {
        Fail(line->number, "KEY = VALUE or EndApplication", Shown(Trim(t)));
      }
      const std::string_view key = TrimRight(t.substr(0, equals));
      const std::string_view value = TrimLeft(t.substr(equals + 1));
      const KeyInfo* info = FindKey(key);
      if (info == nullptr) Fail(line->number, "one of the keys " + KnownKeys(), "the key " + Shown(key));
      auto [it, inserted] = seen.emplace(std::string(key), line->number);
      if (!inserted) {
        Fail(line->number, "each key once (" + std::string(key) + " was given on line " +
                               std::to_string(it->second) + ")",
             "");
      }
      ParseValue(*info, value, line->number);
    }
    if (seen.count("IconMask") != seen.count("IconData")) {
      Fail(lines_[next_ - 1].number, "both IconMask and IconData, or neither", "only one of them");
    }
  }

  void ParseTrailer() {
    if (const Line* line = NextSignificant()) {
      Fail(line->number, "nothing after EndApplication", Shown(Trim(line->text)));
    }
  }

  static const KeyInfo* FindKey(std::string_view key) {
    for (const KeyInfo& info : kKeys) {
      if (key == info.key) return &info;
    }
    return nullptr;
  }

  void ParseValue(const KeyInfo& info, std::string_view value, int line) {
    const std::string key = info.key;
    switch (info.kind) {
      case KeyKind::kQuotedText: {
        std::u16string text = QuotedText(value, line, key);
        if (key == "ObjectName") def_.browser_name = std::move(text);
        if (key == "DisplayName") def_.object_name = std::move(text);
        if (key == "Description") def_.description = std::move(text);
        if (key == "WLFolder") def_.wl_folder = std::move(text);
        if (key == "ParentFolder") def_.parent_folder = std::move(text);
        return;
      }
      case KeyKind::kQuotedOrBare: {
        std::u16string text = QuotedOrBare(value, line, key);
        if (key == "DefaultInitialProgram") def_.initial_program = std::move(text);
        if (key == "DefaultWorkingDirectory") def_.working_directory = std::move(text);
        return;
      }
      case KeyKind::kEncryption: {
        auto level = ParseEncryptionWord(TrimRight(value));
        if (!level) Fail(line, "an encryption level (" + EncryptionWordList() + ")", Shown(value));
        def_.encryption_level = *level;
        return;
      }
      case KeyKind::kSound: {
        auto sound = ParseSoundWord(TrimRight(value));
        if (!sound) Fail(line, "a sound type (Basic, NoSound)", Shown(value));
        def_.sound_type = *sound;
        return;
      }
      case KeyKind::kVideo:
        if (!EqualsIgnoringCase(TrimRight(value), "NoVideo")) Fail(line, "the video type NoVideo", Shown(value));
        def_.video_type = 0;
        return;
      case KeyKind::kColor: {
        auto color = ParseColorCount(TrimRight(value));
        if (!color) Fail(line, "a colour count (16, 256, 32768, 0x1000000)", Shown(value));
        def_.window_color = *color;
        return;
      }
      case KeyKind::kNumber: {
        LONG number = 0;
        if (!ParseLong(TrimRight(value), &number)) {
          Fail(line, "a whole number from -2147483648 to 2147483647", Shown(value));
        }
        if (key == "DefaultWindowHeight") def_.window_height = number;
        if (key == "DefaultWindowWidth") def_.window_width = number;
        if (key == "DefaultWindowScale") def_.window_scale = number;
        return;
      }
      case KeyKind::kWindowType: {
        std::string_view v = TrimRight(value);
        std::optional<_ZQWindowType> type;
        if (v.size() >= 2 && v.front() == '"' && v.back() == '"') type = ParseWindowTypeWord(v.substr(1, v.size() - 2));
        if (!type) Fail(line, "a window type in double quotes (" + WindowTypeWordList() + ")", Shown(value));
        def_.window_type = *type;
        return;
      }
      case KeyKind::kFlags:
        ParseFlags(info, value, line);
        return;
      case KeyKind::kServerList:
        if (!Trim(value).empty()) Fail(line, "nothing after 'ServerList =' (servers follow on their own lines)", Shown(value));
        ParseServers();
        return;
      case KeyKind::kUserList:
        ParseUsers(Trim(value), line);
        return;
      case KeyKind::kIconMask:
      case KeyKind::kIconData:
        ParseIconBlock(info.kind, value, line);
        return;
    }
  }

  static bool ParseLong(std::string_view text, LONG* out) {
    if (text.empty()) return false;
    const char* first = text.data();
    const char* last = text.data() + text.size();
    long long value = 0;
    auto [ptr, ec] = std::from_chars(first, last, value);
    if (ec != std::errc() || ptr != last) return false;
    if (value < INT32_MIN || value > INT32_MAX) return false;
    *out = static_cast<LONG>(value);
    return true;
  }

  // "text": the text between the first and the last double quote.
  std::u16string QuotedText(std::string_view value, int line, const std::string& key) const {
    if (value.size() < 2 || value.front() != '"' || value.back() != '"') {
      Fail(line, "the value of " + key + " in double quotes", Shown(value));
    }
    return Wide(value.substr(1, value.size() - 2), line);
  }

  // A value the writer put in quotes unless it began with a quote itself.
  // "x" with no quote inside is read as x; any other text that begins with a
  // quote is the value as it stands. Either reading writes back the same line.
  std::u16string QuotedOrBare(std::string_view value, int line, const std::string& what) const {
    if (value.empty() || value.front() != '"') {
      Fail(line, "the value of " + what + " beginning with a double quote", Shown(value));
    }
    if (value.size() >= 3 && value.back() == '"') {
      std::string_view inner = value.substr(1, value.size() - 2);
      if (inner.find('"') == std::string_view::npos) return Wide(inner, line);
    }
    return Wide(value, line);
  }

  // KEY = "W1",            (further words on their own lines, each quoted,
  //       "W2".             "," after all but the last, "." after the last)
  // KEY = "".              (no flag set)
  void ParseFlags(const KeyInfo& info, std::string_view value, int line) {
    FlagProperty property = FlagProperty::kDesktopIntegrate;
    for (FlagProperty p : {FlagProperty::kDesktopIntegrate, FlagProperty::kZQAttributes,
                           FlagProperty::kWLAttributes, FlagProperty::kPublishingFlags}) {
      if (std::string_view(FlagKey(p)) == info.key) property = p;
    }
    const std::string expected_word = "a flag word of " + std::string(info.key) + " in double quotes (" +
                                      FlagWordList(property) + ") followed by ',' or '.'";
    LONG flags = 0;
    std::string_view item = TrimRight(value);
    int item_line = line;
    if (item == "\"\".") {
      flags = 0;
    } else {
      while (true) {
        if (item.size() < 3 || item.front() != '"' || (item.back() != ',' && item.back() != '.') ||
            item[item.size() - 2] != '"') {
          Fail(item_line, expected_word, Shown(item));
        }
        std::string_view word = item.substr(1, item.size() - 3);
        std::optional<LONG> bit = ParseFlagWord(property, word);
        if (!bit) Fail(item_line, expected_word, Shown(item));
        flags |= *bit;
        if (item.back() == '.') break;
        if (AtEnd()) FailAtEnd("the next flag word of " + std::string(info.key));
        const Line& next = Next();
        item = Trim(next.text);
        item_line = next.number;
      }
    }
    switch (property) {
      case FlagProperty::kDesktopIntegrate: def_.desktop_integrate = flags; break;
      case FlagProperty::kZQAttributes: def_.zq_attributes = flags; break;
      case FlagProperty::kWLAttributes: def_.wl_attributes = flags; break;
      case FlagProperty::kPublishingFlags: def_.publishing_flags = flags; break;
    }
  }

  // Entries follow the key line directly, one a line, each beginning with a
  // double quote; ";" ends all but the last, "." the last. No entries: the
  // next line is something else (normally the "servers found" comment).
  void ParseServers() {
    if (AtEnd() || TrimLeft(lines_[next_].text).rfind('"', 0) != 0) return;
    while (true) {
      if (AtEnd()) FailAtEnd("the next server of ServerList");
      const Line& line = Next();
      std::string_view entry = Trim(line.text);
      const bool last = !entry.empty() && entry.back() == '.';
      if (entry.empty() || (entry.back() != ';' && !last)) {
        Fail(line.number, "a server entry \"NAME\", [\"PROGRAM\"][, \"DIRECTORY\"] ending in ';' or '.'",
             Shown(entry));
      }
      entry.remove_suffix(1);
      def_.servers.push_back(ParseServerEntry(entry, line.number));
      if (last) return;
    }
  }

  DefinitionServer ParseServerEntry(std::string_view entry, int line) const {
    const std::string expected = "a server entry \"NAME\", [\"PROGRAM\"][, \"DIRECTORY\"]";
    // The name ends at the first quote followed by a comma: every entry
    // writes a comma after the name.
    const std::size_t name_end = entry.find("\",", 1);
    if (entry.empty() || entry.front() != '"' || name_end == std::string_view::npos) {
      Fail(line, expected, Shown(entry));
    }
    DefinitionServer server;
    server.name = Wide(entry.substr(1, name_end - 1), line);
    if (server.name.empty()) Fail(line, "a server name", "an empty name");
    std::string_view rest = entry.substr(name_end + 2);  // after the comma
    if (rest.empty()) return server;                     // "NAME",
    if (rest.starts_with(", ")) {                        // "NAME",, "DIRECTORY"
      server.directory = QuotedOrBare(rest.substr(2), line, "the server's working directory");
      return server;
    }
    if (!rest.starts_with(" ")) Fail(line, expected, Shown(entry));
    rest.remove_prefix(1);
    // "PROGRAM" or "PROGRAM", "DIRECTORY". A working directory cannot hold
    // a double quote, so a trailing , "x" with no quote inside is the
    // directory.
    const std::size_t split = rest.rfind(", \"");
    if (split != std::string_view::npos && split > 0 && rest.size() >= split + 4 && rest.back() == '"') {
      std::string_view directory = rest.substr(split + 3, rest.size() - split - 4);
      if (directory.find('"') == std::string_view::npos && !directory.empty()) {
        server.program = QuotedOrBare(rest.substr(0, split), line, "the server's initial program");
        server.directory = Wide(directory, line);
        return server;
      }
    }
    server.program = QuotedOrBare(rest, line, "the server's initial program");
    return server;
  }

  // "UserList =." for none; otherwise "UserList =" and one "DOMAIN"/"ACCOUNT"
  // a line, ";" after all but the last, "." after the last.
  void ParseUsers(std::string_view value, int line) {
    if (value == ".") return;
    if (!value.empty()) Fail(line, "'.' (no users) or the end of the line after 'UserList ='", Shown(value));
    while (true) {
      if (AtEnd()) FailAtEnd("the next user of UserList");
      const Line& entry_line = Next();
      std::string_view entry = Trim(entry_line.text);
      const std::string expected = "a user entry \"DOMAIN\"/\"ACCOUNT\" ending in ';' or '.'";
      const bool last = !entry.empty() && entry.back() == '.';
      if (entry.empty() || (entry.back() != ';' && !last)) Fail(entry_line.number, expected, Shown(entry));
      entry.remove_suffix(1);
      const std::size_t slash = entry.find("\"/\"");
      if (entry.size() < 5 || entry.front() != '"' || entry.back() != '"' || slash == std::string_view::npos) {
        Fail(entry_line.number, expected, Shown(entry));
      }
      DefinitionUser user;
      user.domain = Wide(entry.substr(1, slash - 1), entry_line.number);
      user.account = Wide(entry.substr(slash + 3, entry.size() - slash - 4), entry_line.number);
      if (user.domain.empty() || user.account.empty()) {
        Fail(entry_line.number, "a non-empty domain and account name", Shown(entry));
      }
      def_.users.push_back(std::move(user));
      if (last) return;
    }
  }

  // Bytes as 0xHH, separated by ", " (and blanks), eight a line; the last is
  // followed by "." instead.
  void ParseIconBlock(KeyKind kind, std::string_view value, int line) {
    const bool mask = kind == KeyKind::kIconMask;
    const char* key = mask ? "IconMask" : "IconData";
    const std::size_t wanted = mask ? sizeof(_ZQWinAppIcon::mask) : sizeof(_ZQWinAppIcon::colors);
    if (!Trim(value).empty()) Fail(line, std::string("nothing after '") + key + " =' (bytes follow on their own lines)", Shown(value));
    std::vector<BYTE> bytes;
    bool done = false;
    while (!done) {
      if (AtEnd()) FailAtEnd(std::to_string(wanted) + " bytes of " + key);
      const Line& byte_line = Next();
      std::string_view rest = Trim(byte_line.text);
      if (rest.empty()) {
        Fail(byte_line.number, "bytes of " + std::string(key) + " (" + std::to_string(bytes.size()) + " of " +
                                   std::to_string(wanted) + " so far)", Shown(rest));
      }
      while (!rest.empty() && !done) {
        if (rest.size() < 5 || rest[0] != '0' || (rest[1] != 'x' && rest[1] != 'X') ||
            !std::isxdigit(static_cast<unsigned char>(rest[2])) ||
            !std::isxdigit(static_cast<unsigned char>(rest[3])) || (rest[4] != ',' && rest[4] != '.')) {
          Fail(byte_line.number, std::string("a byte of ") + key + " written 0xHH followed by ',' or '.'",
               Shown(rest));
        }
        if (bytes.size() == wanted) {
          Fail(byte_line.number, std::to_string(wanted) + " bytes of " + key, "more");
        }
        bytes.push_back(static_cast<BYTE>(std::stoi(std::string(rest.substr(2, 2)), nullptr, 16)));
        done = rest[4] == '.';
        rest = TrimLeft(rest.substr(5));
      }
      if (done && !rest.empty()) Fail(byte_line.number, std::string("nothing after the last byte of ") + key, Shown(rest));
    }
    if (bytes.size() != wanted) {
      Fail(lines_[next_ - 1].number, std::to_string(wanted) + " bytes of " + key, std::to_string(bytes.size()));
    }
    if (!def_.icon) def_.icon.emplace();
    std::memcpy(mask ? def_.icon->mask : def_.icon->colors, bytes.data(), wanted);
  }

  std::string file_;
  std::vector<Line> lines_;
  std::size_t next_ = 0;
  int end_line_ = 1;
  ApplicationDefinition def_;
};

}  // namespace

ApplicationDefinition ParseDefinition(std::string_view text, const std::string& file_name) {
  return Parser(text, file_name).Parse();
}

ApplicationDefinition ReadDefinitionFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw DefinitionError(path.string(), 0, "a readable file", "none");
  std::ostringstream contents;
  contents << in.rdbuf();
  if (in.bad()) throw DefinitionError(path.string(), 0, "a readable file", "a read error");
  return ParseDefinition(contents.str(), path.string());
}

}  // namespace feroq::cli
