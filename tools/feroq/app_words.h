// The words the command line takes and shows for an application's
// enumerated properties and flag bits: the definition file's words
// (feroq/app_words.h), compared without regard to case, plus what only the
// command line has (a word for window type 8, account kinds).
#ifndef FEROQ_TOOLS_FEROQ_APP_WORDS_H_
#define FEROQ_TOOLS_FEROQ_APP_WORDS_H_

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "feroq/app_enums.h"
#include "feroq/app_words.h"

namespace feroq::cli {

// Every word of the encryption levels, joined with ", ".
std::string EncryptionWordList();

// Window type 0..7 by the file's words; 8, which the file has no word for,
// is "Type9" here. Null for other values.
const char* WindowTypeName(LONG type);
bool ParseWindowTypeName(std::string_view word, _ZQWindowType* type);
std::string WindowTypeNameList();

// The words of the bits set in `value`, in file order; undefined bits are
// left out.
std::vector<std::string> WordsOfFlags(FlagList list, LONG value);
std::string FlagWordList(FlagList list);

// Account kinds: 0 "user", 1 "group", 2 "other".
const char* AccountKindWord(LONG kind);
std::optional<LONG> ParseAccountKind(std::string_view word);

}  // namespace feroq::cli

#endif  // FEROQ_TOOLS_FEROQ_APP_WORDS_H_
