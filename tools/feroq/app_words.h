// The words that name an application's enumerated properties and flag bits,
// as the definition file writes them. The command line takes the same words
// (without regard to case).
#ifndef FEROQ_TOOLS_FEROQ_APP_WORDS_H_
#define FEROQ_TOOLS_FEROQ_APP_WORDS_H_

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "feroq/app_enums.h"

namespace feroq::cli {

// Encryption level 0..4: "Basic", "RC5_Logon", "RC5_40Bit", "RC5_56Bit",
// "RC5_128Bit". Null for any other value.
const char* EncryptionWord(LONG level);
std::optional<_ZQEncryptionLevel> ParseEncryptionWord(std::string_view word);
std::string EncryptionWordList();

// Sound type: 1 "Basic", anything else "NoSound" (as the file writes it).
const char* SoundWord(LONG sound);
std::optional<_ZQSoundType> ParseSoundWord(std::string_view word);

// Window type 0..7: "640X480" ... "Percent", "FullScreen". Window type 8 has
// no word in the file; the command line calls it "Type9". Null otherwise.
const char* WindowTypeWord(LONG type);
std::optional<_ZQWindowType> ParseWindowTypeWord(std::string_view word);
std::string WindowTypeWordList();

// Window colour as the colour count the file writes: 0 "16", 1 "256",
// 2 and 3 "32768", 4 "0x1000000". Null otherwise. Parsing gives 3 for
// "32768".
const char* ColorCountText(LONG color);
std::optional<_ZQWindowColor> ParseColorCount(std::string_view text);

// The four flag words of an application.
enum class FlagProperty { kDesktopIntegrate, kZQAttributes, kWLAttributes, kPublishingFlags };

struct FlagWord {
  LONG bit;
  const char* word;
};

// The key the definition file writes the flag word under.
const char* FlagKey(FlagProperty property);
// The property's defined bits in the order the file writes them.
std::span<const FlagWord> FlagWords(FlagProperty property);
// The words of the bits set in `value`, in file order; undefined bits are
// left out.
std::vector<std::string> WordsOfFlags(FlagProperty property, LONG value);
// The bit named by `word`; nullopt for a word the property does not have.
std::optional<LONG> ParseFlagWord(FlagProperty property, std::string_view word);
std::string FlagWordList(FlagProperty property);

// Account kinds: 0 "user", 1 "group", 2 "other".
const char* AccountKindWord(LONG kind);
std::optional<LONG> ParseAccountKind(std::string_view word);

}  // namespace feroq::cli

#endif  // FEROQ_TOOLS_FEROQ_APP_WORDS_H_
