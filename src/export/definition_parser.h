// The parser of the application definition file, behind the reader's
// public entries (definition_reader.cc): definition_parser.cc splits the
// text into lines and walks them (the header comments, the keyed lines of
// the body, what follows EndApplication), definition_values.cc reads each
// key's value into the definition.
//
// A refusal is raised inside as a Refusal exception carrying the line and
// the message, and turned into the caller's DefinitionProblem at the public
// entry; nothing else throws but std::bad_alloc.
#ifndef FEROQ_EXPORT_DEFINITION_PARSER_H_
#define FEROQ_EXPORT_DEFINITION_PARSER_H_

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "export/definition_keys.h"
#include "feroq/app_import.h"
#include "feroq/app_words.h"

namespace feroq::definition_reading {

namespace keys = definition_keys;

struct Refusal {
  int line;
  std::string message;
};

inline bool IsBlank(char c) { return c == ' ' || c == '\t'; }

inline std::string_view TrimLeft(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  return s;
}

inline std::string_view TrimRight(std::string_view s) {
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

inline std::string_view Trim(std::string_view s) { return TrimRight(TrimLeft(s)); }

// A piece of the file as a message quotes it (control characters escaped,
// a long piece cut).
std::string Shown(std::string_view text);

// "expected `expected`", and ", found `found`" unless `found` is empty.
std::string Expected(const std::string& expected, const std::string& found);

// A decimal LONG filling all of `text`; false for anything else.
bool ParseLong(std::string_view text, LONG* out);

// How a key's value is read; the key table (definition_parser.cc) gives
// each key of the body its kind and the field it fills.
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

// Reads the text of one definition file into an ApplicationDefinition.
// Raises Refusal, or std::bad_alloc; `definition` is then partly filled.
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

  // ---- The lines (definition_parser.cc) ----
  void SplitLines(std::string_view text);

  [[noreturn]] static void Fail(int line, const std::string& expected, const std::string& found) {
    throw Refusal{line, Expected(expected, found)};
  }
  [[noreturn]] void FailAtEnd(const std::string& expected) const { Fail(end_line_, expected, "the end of the file"); }

  bool AtEnd() const { return next_ >= lines_.size(); }
  const Line& Next() { return lines_[next_++]; }
  static bool IsSkippable(std::string_view text);
  const Line* NextSignificant();
  // `text` as UTF-16; refused unless it is UTF-8 without NUL characters.
  static std::u16string Wide(std::string_view text, int line);

  void ParseHeader();
  void ParseHeaderComment(std::string_view comment, int line);
  void ParseBody();
  void ParseTrailer();

  // ---- The values (definition_values.cc) ----
  // Reads the value of `info`'s key, given on line `line`, into the
  // definition; the server and user lists and the icon blocks take the
  // lines after it that belong to them.
  void ParseValue(const KeyInfo& info, std::string_view value, int line);
  static std::u16string QuotedText(std::string_view value, int line, std::string_view key);
  static std::u16string QuotedOrBare(std::string_view value, int line, std::string_view what);
  LONG ParseFlags(const KeyInfo& info, std::string_view value, int line);
  void ParseServers();
  static DefinitionServer ParseServerEntry(std::string_view entry, int line);
  void ParseUsers(std::string_view value, int line);
  void ParseIconBlock(bool mask, std::string_view value, int line);

  std::vector<Line> lines_;
  std::size_t next_ = 0;
  int end_line_ = 1;
  ApplicationDefinition* def_ = nullptr;
};

}  // namespace feroq::definition_reading

#endif  // FEROQ_EXPORT_DEFINITION_PARSER_H_
