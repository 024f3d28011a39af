// The reader of the application definition file (feroq/app_import.h):
// ParseDefinition, ReadDefinitionFile and DescribeProblem.
//
// The parser walks the file line by line. A refusal is raised inside as a
// Refusal exception carrying the line and the message, and turned into the
// caller's DefinitionProblem at the public entry; nothing else throws but
// std::bad_alloc.
#include <algorithm>
#include <array>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <new>
#include <string>

#include "export/definition_keys.h"
#include "feroq/app_import.h"
#include "feroq/app_words.h"
#include "platform/platform.h"

namespace feroq {
namespace {

namespace keys = definition_keys;

// How much of a piece of the file a message quotes.
constexpr std::size_t kShownBytes = 60;

struct Refusal {
  int line;
  std::string message;
};

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

// A piece of the file as a message shows it: in quotes, control characters
// and bytes that are not text as \xHH, cut after kShownBytes (never inside
// a UTF-8 sequence), the rest counted.
std::string Shown(std::string_view text) {
  if (text.empty()) return "an empty line";
  std::size_t cut = text.size() <= kShownBytes ? text.size() : kShownBytes;
  while (cut < text.size() && cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
  std::string shown = "'";
  for (std::size_t i = 0; i < cut; ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte < 0x20 || byte == 0x7F) {
      static constexpr char kHex[] = "0123456789ABCDEF";
      shown += "\\x";
      shown += kHex[byte >> 4];
      shown += kHex[byte & 0xF];
    } else {
      shown += static_cast<char>(byte);
    }
  }
  shown += "'";
  if (cut < text.size()) shown += "... (" + std::to_string(text.size() - cut) + " more bytes)";
  return shown;
}

std::string Expected(const std::string& expected, const std::string& found) {
  return "expected " + expected + (found.empty() ? std::string() : ", found " + found);
}

enum class KeyKind {
  kQuotedText,    // "value"
  kQuotedOrBare,  // "value", or a value beginning with a double quote
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
  std::string_view key;
  KeyKind kind;
  // The field a text or number key fills.
  std::optional<std::u16string> ApplicationDefinition::*text = nullptr;
  std::optional<LONG> ApplicationDefinition::*number = nullptr;
  FlagList flags = FlagList::kDesktopIntegrate;
};

using D = ApplicationDefinition;
const KeyInfo kKeys[] = {
    {keys::kObjectName, KeyKind::kQuotedText, &D::browser_name},
    {keys::kDisplayName, KeyKind::kQuotedText, &D::object_name},
    {keys::kDescription, KeyKind::kQuotedText, &D::description},
    {keys::kInitialProgram, KeyKind::kQuotedOrBare, &D::initial_program},
    {keys::kWorkingDirectory, KeyKind::kQuotedOrBare, &D::working_directory},
    {keys::kWLFolder, KeyKind::kQuotedText, &D::wl_folder},
    {keys::kEncryptionLevel, KeyKind::kEncryption},
    {keys::kSoundType, KeyKind::kSound},
    {keys::kVideoType, KeyKind::kVideo},
    {keys::kWindowColor, KeyKind::kColor},
    {keys::kWindowHeight, KeyKind::kNumber, nullptr, &D::window_height},
    {keys::kWindowWidth, KeyKind::kNumber, nullptr, &D::window_width},
    {keys::kWindowScale, KeyKind::kNumber, nullptr, &D::window_scale},
    {keys::kWindowType, KeyKind::kWindowType},
    {FlagWordsOf(FlagList::kDesktopIntegrate).key, KeyKind::kFlags, nullptr, &D::desktop_integrate,
     FlagList::kDesktopIntegrate},
    {FlagWordsOf(FlagList::kZQAttributes).key, KeyKind::kFlags, nullptr, &D::zq_attributes, FlagList::kZQAttributes},
    {FlagWordsOf(FlagList::kWLAttributes).key, KeyKind::kFlags, nullptr, &D::wl_attributes, FlagList::kWLAttributes},
    {FlagWordsOf(FlagList::kPublishingFlags).key, KeyKind::kFlags, nullptr, &D::publishing_flags,
     FlagList::kPublishingFlags},
    {keys::kParentFolder, KeyKind::kQuotedText, &D::parent_folder},
    {keys::kServerList, KeyKind::kServerList},
    {keys::kUserList, KeyKind::kUserList},
    {keys::kIconMask, KeyKind::kIconMask},
    {keys::kIconData, KeyKind::kIconData},
};

const KeyInfo* FindKey(std::string_view key) {
  for (const KeyInfo& info : kKeys) {
    if (key == info.key) return &info;
  }
  return nullptr;
}

// The place of `key` (one of kKeys) in kKeys.
std::size_t KeyIndex(std::string_view key) { return static_cast<std::size_t>(FindKey(key) - kKeys); }

std::string KnownKeys() {
  std::string out;
  for (const KeyInfo& info : kKeys) out += (out.empty() ? "" : ", ") + std::string(info.key);
  return out;
}

// The words `word_of` gives for the values 0 to `last`, joined.
std::string WordList(const char* (*word_of)(LONG), LONG last) {
  std::string out;
  for (LONG value = 0; value <= last; ++value) {
    if (const char* word = word_of(value)) out += (out.empty() ? "" : ", ") + std::string(word);
  }
  return out;
}

bool SameAsciiWord(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

std::string FlagWordList(FlagList list) {
  const FlagWords words = FlagWordsOf(list);
  std::string out;
  for (int i = 0; i < words.count; ++i) out += (i == 0 ? "" : ", ") + std::string(words.words[i].word);
  return out;
}

bool ParseLong(std::string_view text, LONG* out) {
  if (text.empty()) return false;
  long long value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return false;
  if (value < INT32_MIN || value > INT32_MAX) return false;
  *out = static_cast<LONG>(value);
  return true;
}

class Parser {
 public:
  explicit Parser(std::string_view text) { SplitLines(text); }

  void Parse(ApplicationDefinition* definition) {
    def_ = definition;
    ParseHeader();
    ParseBody();
    ParseTrailer();
  }

 private:
  struct Line {
    std::string_view text;
    int number;
  };

  // Lines end at LF, a CR before it belongs to the line end. A CR anywhere
  // else is a line break inside a line, which no value may hold.
  void SplitLines(std::string_view text) {
    lines_.reserve(static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) + 1);
    int number = 1;
    while (!text.empty()) {
      const std::size_t end = text.find('\n');
      std::string_view line = text.substr(0, end);
      if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
      if (line.find('\r') != std::string_view::npos) {
        throw Refusal{number, Expected("no line break (CR) inside a line: values cannot hold one", Shown(line))};
      }
      lines_.push_back({line, number++});
      if (end == std::string_view::npos) break;
      text.remove_prefix(end + 1);
    }
    end_line_ = number;
  }

  [[noreturn]] static void Fail(int line, const std::string& expected, const std::string& found) {
    throw Refusal{line, Expected(expected, found)};
  }
  [[noreturn]] void FailAtEnd(const std::string& expected) const { Fail(end_line_, expected, "the end of the file"); }

  bool AtEnd() const { return next_ >= lines_.size(); }
  const Line& Next() { return lines_[next_++]; }

  static bool IsSkippable(std::string_view text) {
    const std::string_view t = Trim(text);
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

  static std::u16string Wide(std::string_view text, int line) {
    std::u16string wide;
    if (!platform::AppendUtf8AsUtf16(text.data(), text.size(), &wide)) {
      Fail(line, "UTF-8 text without NUL characters", Shown(text));
    }
    return wide;
  }

  // ---- Header: comments up to BeginApplication ----
  void ParseHeader() {
    while (!AtEnd()) {
      const Line& line = Next();
      const std::string_view t = Trim(line.text);
      if (t.empty()) continue;
      if (t.front() == '#') {
        ParseHeaderComment(t, line.number);
        continue;
      }
      if (t == keys::kBegin) return;
      Fail(line.number, std::string(keys::kBegin), Shown(t));
    }
    FailAtEnd(std::string(keys::kBegin));
  }

  void ParseHeaderComment(std::string_view comment, int line) {
    if (comment.starts_with(keys::kVersionComment)) {
      const std::string_view number = Trim(comment.substr(keys::kVersionComment.size()));
      LONG version = 0;
      if (!ParseLong(number, &version) || version < 0) {
        Fail(line, "a record version (a number) after 'Application version:'", Shown(number));
      }
      def_->version = static_cast<ULONG>(version);
    } else if (comment == keys::kReadOnlyComment) {
      def_->read_only = true;
    }
  }

  // ---- Body: keyed lines up to EndApplication ----
  void ParseBody() {
    // The line each key was given on (0: not given), by its place in kKeys.
    std::array<int, std::size(kKeys)> seen{};
    for (;;) {
      const Line* line = NextSignificant();
      if (line == nullptr) FailAtEnd("a property line or " + std::string(keys::kEnd));
      const std::string_view t = TrimLeft(line->text);
      if (TrimRight(t) == keys::kEnd) break;
      const std::size_t equals = t.find('=');
      if (equals == std::string_view::npos) {
        Fail(line->number, "KEY = VALUE or " + std::string(keys::kEnd), Shown(Trim(t)));
      }
      const std::string_view key = TrimRight(t.substr(0, equals));
      const std::string_view value = TrimLeft(t.substr(equals + 1));
      const KeyInfo* info = FindKey(key);
      if (info == nullptr) Fail(line->number, "one of the keys " + KnownKeys(), "the key " + Shown(key));
      int& given_on = seen[static_cast<std::size_t>(info - kKeys)];
      if (given_on != 0) {
        Fail(line->number, "each key once (" + std::string(key) + " was given on line " + std::to_string(given_on) + ")",
             "");
      }
      given_on = line->number;
      ParseValue(*info, value, line->number);
    }
    if ((seen[KeyIndex(keys::kIconMask)] != 0) != (seen[KeyIndex(keys::kIconData)] != 0)) {
      Fail(lines_[next_ - 1].number, "both IconMask and IconData, or neither", "only one of them");
    }
  }

  void ParseTrailer() {
    if (const Line* line = NextSignificant()) {
      Fail(line->number, "nothing after " + std::string(keys::kEnd), Shown(Trim(line->text)));
    }
  }

  void ParseValue(const KeyInfo& info, std::string_view value, int line) {
    const std::string_view key = info.key;
    const std::string_view word = TrimRight(value);
    switch (info.kind) {
      case KeyKind::kQuotedText:
        def_->*info.text = QuotedText(value, line, key);
        return;
      case KeyKind::kQuotedOrBare:
        def_->*info.text = QuotedOrBare(value, line, key);
        return;
      case KeyKind::kEncryption: {
        _ZQEncryptionLevel level{};
        if (!ParseEncryptionLevelWord(word, &level)) {
          Fail(line, "an encryption level (" + WordList(EncryptionLevelWord, ZQEncryptionRC5_128Bit) + ")", Shown(value));
        }
        def_->encryption_level = level;
        return;
      }
      case KeyKind::kSound: {
        _ZQSoundType sound{};
        if (!ParseSoundTypeWord(word, &sound)) Fail(line, "a sound type (Basic, NoSound)", Shown(value));
        def_->sound_type = sound;
        return;
      }
      case KeyKind::kVideo:
        if (!SameAsciiWord(word, kNoVideoWord)) Fail(line, std::string("the video type ") + kNoVideoWord, Shown(value));
        def_->video_type = 0;
        return;
      case KeyKind::kColor: {
        _ZQWindowColor color{};
        if (!ParseWindowColorCount(word, &color)) Fail(line, "a colour count (16, 256, 32768, 0x1000000)", Shown(value));
        def_->window_color = color;
        return;
      }
      case KeyKind::kNumber: {
        LONG number = 0;
        if (!ParseLong(word, &number)) Fail(line, "a whole number from -2147483648 to 2147483647", Shown(value));
        def_->*info.number = number;
        return;
      }
      case KeyKind::kWindowType: {
        _ZQWindowType type{};
        if (word.size() < 2 || word.front() != '"' || word.back() != '"' ||
            !ParseWindowTypeWord(word.substr(1, word.size() - 2), &type)) {
          Fail(line, "a window type in double quotes (" + WordList(WindowTypeWord, ZQWindowFullScreen) + ")",
               Shown(value));
        }
        def_->window_type = type;
        return;
      }
      case KeyKind::kFlags:
        def_->*info.number = ParseFlags(info, value, line);
        return;
      case KeyKind::kServerList:
        if (!Trim(value).empty()) {
          Fail(line, "nothing after 'ServerList =' (servers follow on their own lines)", Shown(value));
        }
        ParseServers();
        return;
      case KeyKind::kUserList:
        ParseUsers(Trim(value), line);
        return;
      case KeyKind::kIconMask:
      case KeyKind::kIconData:
        ParseIconBlock(info.kind == KeyKind::kIconMask, value, line);
        return;
    }
  }

  // "text": the text between the first and the last double quote.
  static std::u16string QuotedText(std::string_view value, int line, std::string_view key) {
    if (value.size() < 2 || value.front() != '"' || value.back() != '"') {
      Fail(line, "the value of " + std::string(key) + " in double quotes, ending on its line", Shown(value));
    }
    return Wide(value.substr(1, value.size() - 2), line);
  }

  // A value the writer put in quotes unless it began with a quote itself.
  // "x" with no quote inside is read as x; any other text that begins with a
  // quote is the value as it stands. Either reading writes back the same line.
  static std::u16string QuotedOrBare(std::string_view value, int line, std::string_view what) {
    if (value.empty() || value.front() != '"') {
      Fail(line, "the value of " + std::string(what) + " beginning with a double quote", Shown(value));
    }
    if (value.size() >= 3 && value.back() == '"') {
      const std::string_view inner = value.substr(1, value.size() - 2);
      if (inner.find('"') == std::string_view::npos) return Wide(inner, line);
    }
    return Wide(value, line);
  }

  // KEY = "W1",            (further words on their own lines, each quoted,
  //       "W2".             "," after all but the last, "." after the last)
  // KEY = "".              (no flag set)
  LONG ParseFlags(const KeyInfo& info, std::string_view value, int line) {
    const std::string_view key = info.key;
    const auto expected_word = [&] {
      return "a flag word of " + std::string(key) + " in double quotes (" + FlagWordList(info.flags) +
             ") followed by ',' or '.'";
    };
    LONG flags = 0;
    std::string_view item = TrimRight(value);
    int item_line = line;
    if (item == "\"\".") return 0;
    for (;;) {
      if (item.size() < 3 || item.front() != '"' || (item.back() != ',' && item.back() != '.') ||
          item[item.size() - 2] != '"') {
        Fail(item_line, expected_word(), Shown(item));
      }
      LONG bit = 0;
      if (!ParseFlagWord(info.flags, item.substr(1, item.size() - 3), &bit)) {
        Fail(item_line, expected_word(), Shown(item));
      }
      flags |= bit;
      if (item.back() == '.') return flags;
      if (AtEnd()) FailAtEnd("the next flag word of " + std::string(key));
      const Line& next = Next();
      item = Trim(next.text);
      item_line = next.number;
    }
  }

  // Entries follow the key line directly, one a line, each beginning with a
  // double quote; ";" ends all but the last, "." the last. No entries: the
  // next line is something else (normally the "servers found" comment).
  void ParseServers() {
    if (AtEnd() || !TrimLeft(lines_[next_].text).starts_with('"')) return;
    for (;;) {
      if (AtEnd()) FailAtEnd("the next server of ServerList");
      const Line& line = Next();
      std::string_view entry = Trim(line.text);
      const bool last = !entry.empty() && entry.back() == '.';
      if (entry.empty() || (entry.back() != ';' && !last)) {
        Fail(line.number, "a server entry \"NAME\", [\"PROGRAM\"][, \"DIRECTORY\"] ending in ';' or '.'",
             Shown(entry));
      }
      entry.remove_suffix(1);
      def_->servers.push_back(ParseServerEntry(entry, line.number));
      if (last) return;
    }
  }

  static DefinitionServer ParseServerEntry(std::string_view entry, int line) {
    const std::string expected = "a server entry \"NAME\", [\"PROGRAM\"][, \"DIRECTORY\"]";
    // The name ends at the first quote followed by a comma: every entry
    // writes a comma after the name.
    const std::size_t name_end = entry.find("\",", 1);
    if (entry.empty() || entry.front() != '"' || name_end == std::string_view::npos) Fail(line, expected, Shown(entry));
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
      const std::string_view directory = rest.substr(split + 3, rest.size() - split - 4);
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
    const std::string expected = "a user entry \"DOMAIN\"/\"ACCOUNT\" ending in ';' or '.'";
    for (;;) {
      if (AtEnd()) FailAtEnd("the next user of UserList");
      const Line& entry_line = Next();
      std::string_view entry = Trim(entry_line.text);
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
      def_->users.push_back(std::move(user));
      if (last) return;
    }
  }

  // The value of each hexadecimal digit, -1 for every other byte.
  static constexpr auto kHexValue = [] {
    std::array<signed char, 256> value{};
    for (int c = 0; c < 256; ++c) {
      value[c] = static_cast<signed char>(c >= '0' && c <= '9'   ? c - '0'
                                          : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                          : c >= 'a' && c <= 'f' ? c - 'a' + 10
                                                                 : -1);
    }
    return value;
  }();

  // Bytes as 0xHH, separated by ", " (and blanks), eight a line; the last is
  // followed by "." instead.
  void ParseIconBlock(bool mask, std::string_view value, int line) {
    const std::string key(mask ? keys::kIconMask : keys::kIconData);
    const std::size_t wanted = mask ? sizeof(_ZQWinAppIcon::mask) : sizeof(_ZQWinAppIcon::colors);
    if (!Trim(value).empty()) Fail(line, "nothing after '" + key + " =' (bytes follow on their own lines)", Shown(value));
    if (!def_->icon) def_->icon.emplace();
    BYTE* bytes = mask ? def_->icon->mask : def_->icon->colors;
    std::size_t got = 0;
    bool done = false;
    while (!done) {
      if (AtEnd()) FailAtEnd(std::to_string(wanted) + " bytes of " + key);
      const Line& byte_line = Next();
      std::string_view rest = Trim(byte_line.text);
      if (rest.empty()) {
        Fail(byte_line.number,
             "bytes of " + key + " (" + std::to_string(got) + " of " + std::to_string(wanted) + " so far)", Shown(rest));
      }
      // A few hundred bytes an icon, most of a definition file: read with a
      // pointer, each digit looked up in a table.
      const char* at = rest.data();
      const char* const end = at + rest.size();
      while (at != end && !done) {
        const bool whole = end - at >= 5;
        const int high = whole ? kHexValue[static_cast<unsigned char>(at[2])] : -1;
        const int low = whole ? kHexValue[static_cast<unsigned char>(at[3])] : -1;
        if (high < 0 || low < 0 || at[0] != '0' || (at[1] != 'x' && at[1] != 'X') || (at[4] != ',' && at[4] != '.')) {
          Fail(byte_line.number, "a byte of " + key + " written 0xHH followed by ',' or '.'",
               Shown(std::string_view(at, static_cast<std::size_t>(end - at))));
        }
        if (got == wanted) Fail(byte_line.number, std::to_string(wanted) + " bytes of " + key, "more");
        bytes[got++] = static_cast<BYTE>(high * 16 + low);
        done = at[4] == '.';
        at += 5;
        while (at != end && IsBlank(*at)) ++at;
      }
      rest = std::string_view(at, static_cast<std::size_t>(end - at));
      if (done && !rest.empty()) Fail(byte_line.number, "nothing after the last byte of " + key, Shown(rest));
    }
    if (got != wanted) Fail(lines_[next_ - 1].number, std::to_string(wanted) + " bytes of " + key, std::to_string(got));
  }

  std::vector<Line> lines_;
  std::size_t next_ = 0;
  int end_line_ = 1;
  ApplicationDefinition* def_ = nullptr;
};

// A text saved as UTF-16 (what some editors write): a byte-order mark of
// either order, or NUL bytes, which UTF-8 text never holds.
bool LooksLikeUtf16(std::string_view text) {
  return text.starts_with("\xFF\xFE") || text.starts_with("\xFE\xFF") ||
         text.find('\0') != std::string_view::npos;
}

constexpr std::string_view kUtf8ByteOrderMark = "\xEF\xBB\xBF";

}  // namespace

std::string DescribeProblem(const DefinitionProblem& problem) {
  if (problem.line == 0) return problem.file + ": " + problem.message;
  return problem.file + ":" + std::to_string(problem.line) + ": " + problem.message;
}

HRESULT ParseDefinition(std::string_view text, std::string_view file_name, ApplicationDefinition* definition,
                        DefinitionProblem* problem) {
  try {
    if (LooksLikeUtf16(text)) {
      *problem = DefinitionProblem{std::string(file_name), 0,
                                   "the file is UTF-16 text; save it as UTF-8 and import it again"};
      return kDefinitionFileMalformed;
    }
    if (text.starts_with(kUtf8ByteOrderMark)) text.remove_prefix(kUtf8ByteOrderMark.size());
    try {
      *definition = ApplicationDefinition{};
      Parser(text).Parse(definition);
      return S_OK;
    } catch (Refusal& refusal) {
      *problem = DefinitionProblem{std::string(file_name), refusal.line, std::move(refusal.message)};
      return kDefinitionFileMalformed;
    }
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT ReadDefinitionFile(const char16_t* path, ApplicationDefinition* definition, DefinitionProblem* problem) {
  try {
    std::string name;
    if (path != nullptr) {
      std::size_t length = 0;
      while (path[length] != 0) ++length;
      platform::AppendUtf16AsUtf8(path, length, &name, true);
    }
    std::string text;
    switch (platform::ReadFileUpTo(path, kMaxDefinitionFileBytes, &text)) {
      case platform::ReadFileResult::kRead:
        return ParseDefinition(text, name, definition, problem);
      case platform::ReadFileResult::kNotFound:
        *problem = DefinitionProblem{name, 0, "no such file"};
        return kDefinitionFileNotFound;
      case platform::ReadFileResult::kTooLarge:
        *problem = DefinitionProblem{name, 0, "the file is larger than " + std::to_string(kMaxDefinitionFileBytes) +
                                                  " bytes, more than any definition file holds"};
        return kDefinitionFileTooLarge;
      case platform::ReadFileResult::kFailed:
        break;
    }
    *problem = DefinitionProblem{name, 0, "the file cannot be read (a directory, no permission or a read error)"};
    return kDefinitionFileUnreadable;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

}  // namespace feroq
