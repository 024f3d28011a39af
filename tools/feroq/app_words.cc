#include "app_words.h"

#include "text_conversion.h"

namespace feroq::cli {

namespace {

constexpr const char* kWindowType8Name = "Type9";
constexpr const char* kAccountKindWords[] = {"user", "group", "other"};

}  // namespace

std::string EncryptionWordList() {
  std::string out;
  for (LONG level = 0; const char* word = EncryptionLevelWord(level); ++level) out += (level == 0 ? "" : ", ") + std::string(word);
  return out;
}

const char* WindowTypeName(LONG type) { return type == ZQWindowType9 ? kWindowType8Name : WindowTypeWord(type); }

bool ParseWindowTypeName(std::string_view word, _ZQWindowType* type) {
  if (ParseWindowTypeWord(word, type)) return true;
  if (!EqualsIgnoringCase(word, kWindowType8Name)) return false;
  *type = ZQWindowType9;
  return true;
}

std::string WindowTypeNameList() {
  std::string out;
  for (LONG type = 0; type <= ZQWindowType9; ++type) out += (type == 0 ? "" : ", ") + std::string(WindowTypeName(type));
  return out;
}

std::vector<std::string> WordsOfFlags(FlagList list, LONG value) {
  const FlagWords words = FlagWordsOf(list);
  std::vector<std::string> out;
  for (int i = 0; i < words.count; ++i) {
    if ((value & words.words[i].bit) != 0) out.emplace_back(words.words[i].word);
  }
  return out;
}

std::string FlagWordList(FlagList list) {
  const FlagWords words = FlagWordsOf(list);
  std::string out;
  for (int i = 0; i < words.count; ++i) out += (i == 0 ? "" : ", ") + std::string(words.words[i].word);
  return out;
}

const char* AccountKindWord(LONG kind) { return kind >= 0 && kind <= 2 ? kAccountKindWords[kind] : "unknown"; }

std::optional<LONG> ParseAccountKind(std::string_view word) {
  if (word == "0" || word == "1" || word == "2") return word[0] - '0';
  for (LONG kind = 0; kind <= 2; ++kind) {
    if (EqualsIgnoringCase(kAccountKindWords[kind], word)) return kind;
  }
  return std::nullopt;
}

}  // namespace feroq::cli
