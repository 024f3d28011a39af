#include "text_conversion.h"

namespace feroq::cli {

std::string AsciiLower(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && AsciiLower(a) == AsciiLower(b);
}

namespace {

bool IsAsciiLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool IsAsciiLetterOrDigit(char c) { return IsAsciiLetter(c) || (c >= '0' && c <= '9'); }

}  // namespace

std::vector<std::string> SplitOptionFields(std::string_view text) {
  std::vector<std::string> fields(1);
  bool quoted = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    std::string& field = fields.back();
    if (c == '"') quoted = !quoted;
    if (c != ':' || quoted) {
      field += c;
      continue;
    }
    if (i + 1 < text.size() && text[i + 1] == ':') {  // "::" stands for one ':'
      field += ':';
      ++i;
      continue;
    }
    const bool after_drive_letter = !field.empty() && IsAsciiLetter(field.back()) &&
                                    (field.size() == 1 || !IsAsciiLetterOrDigit(field[field.size() - 2]));
    const bool before_path = i + 1 < text.size() && (text[i + 1] == '\\' || text[i + 1] == '/');
    if (after_drive_letter && before_path) {
      field += c;
    } else {
      fields.emplace_back();
    }
  }
  return fields;
}

}  // namespace feroq::cli
