// The definition file's lines: the parser's split of the text into lines,
// its walk over them (the header comments, the keyed lines of the body up
// to EndApplication, nothing after it), the table of the body's keys, and
// the text helpers its messages are made with.
#include "export/definition_parser.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdint>

#include "platform/platform.h"

namespace feroq::definition_reading {
namespace {

// How much of a piece of the file a message quotes.
constexpr std::size_t kShownBytes = 60;

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

}  // namespace

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

bool ParseLong(std::string_view text, LONG* out) {
  if (text.empty()) return false;
  long long value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return false;
  if (value < INT32_MIN || value > INT32_MAX) return false;
  *out = static_cast<LONG>(value);
  return true;
}

// Lines end at LF, a CR before it belongs to the line end. A CR anywhere
// else is a line break inside a line, which no value may hold.
void Parser::SplitLines(std::string_view text) {
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

bool Parser::IsSkippable(std::string_view text) {
  const std::string_view t = Trim(text);
  return t.empty() || t.front() == '#';
}

// The next line that is neither blank nor a comment, or null at the end.
const Parser::Line* Parser::NextSignificant() {
  while (!AtEnd()) {
    const Line& line = Next();
    if (!IsSkippable(line.text)) return &line;
  }
  return nullptr;
}

std::u16string Parser::Wide(std::string_view text, int line) {
  std::u16string wide;
  if (!platform::AppendUtf8AsUtf16(text.data(), text.size(), &wide)) {
    Fail(line, "UTF-8 text without NUL characters", Shown(text));
  }
  return wide;
}

// ---- Header: comments up to BeginApplication ----
void Parser::ParseHeader() {
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

void Parser::ParseHeaderComment(std::string_view comment, int line) {
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
void Parser::ParseBody() {
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

void Parser::ParseTrailer() {
  if (const Line* line = NextSignificant()) {
    Fail(line->number, "nothing after " + std::string(keys::kEnd), Shown(Trim(line->text)));
  }
}

}  // namespace feroq::definition_reading
