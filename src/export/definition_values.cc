// The definition file's values: how the parser reads each key's value into
// the definition (quoted text, the words of the enumerated properties,
// numbers, the flag lists, the server and user lists, the icon blocks).
#include "export/definition_parser.h"

#include <array>
#include <string>

namespace feroq::definition_reading {
namespace {

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

// The value of each hexadecimal digit, -1 for every other byte.
constexpr auto kHexValue = [] {
  std::array<signed char, 256> value{};
  for (int c = 0; c < 256; ++c) {
    value[c] = static_cast<signed char>(c >= '0' && c <= '9'   ? c - '0'
                                        : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                        : c >= 'a' && c <= 'f' ? c - 'a' + 10
                                                               : -1);
  }
  return value;
}();

}  // namespace

void Parser::ParseValue(const KeyInfo& info, std::string_view value, int line) {
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
std::u16string Parser::QuotedText(std::string_view value, int line, std::string_view key) {
  if (value.size() < 2 || value.front() != '"' || value.back() != '"') {
    Fail(line, "the value of " + std::string(key) + " in double quotes, ending on its line", Shown(value));
  }
  return Wide(value.substr(1, value.size() - 2), line);
}

// A value the writer put in quotes unless it began with a quote itself.
// "x" with no quote inside is read as x; any other text that begins with a
// quote is the value as it stands. Either reading writes back the same line.
std::u16string Parser::QuotedOrBare(std::string_view value, int line, std::string_view what) {
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
LONG Parser::ParseFlags(const KeyInfo& info, std::string_view value, int line) {
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
void Parser::ParseServers() {
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

DefinitionServer Parser::ParseServerEntry(std::string_view entry, int line) {
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
void Parser::ParseUsers(std::string_view value, int line) {
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

// Bytes as 0xHH, separated by ", " (and blanks), eight a line; the last is
// followed by "." instead.
void Parser::ParseIconBlock(bool mask, std::string_view value, int line) {
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

}  // namespace feroq::definition_reading
