// The words that name an application's enumerated properties and flag bits
// in the application definition file (ZQWinAppObject::ExportFile, file type
// 2). The library's writer and reader of that file use exactly these, and a
// tool that shows or takes the same properties can use them too.
//
// Words are ASCII. The Parse functions compare without regard to the case
// of ASCII letters, write their output only on success and never throw.
// Every function may be called from any thread.
#ifndef FEROQ_APP_WORDS_H_
#define FEROQ_APP_WORDS_H_

#include <string_view>

#include "feroq/app_enums.h"
#include "feroq/types.h"

namespace feroq {

// The word of encryption level 0 to 4 ("Basic", "RC5_Logon", "RC5_40Bit",
// "RC5_56Bit", "RC5_128Bit"); null for any other value.
FEROQ_API const char* EncryptionLevelWord(LONG level);
FEROQ_API bool ParseEncryptionLevelWord(std::string_view word, _ZQEncryptionLevel* level);

// The word of a sound type as the file writes it: "Basic" for
// ZQSoundBasic, "NoSound" for every other value.
FEROQ_API const char* SoundTypeWord(LONG sound);
FEROQ_API bool ParseSoundTypeWord(std::string_view word, _ZQSoundType* sound);

// The video type's only word, "NoVideo" (value 0), which the file always
// writes.
inline constexpr char kNoVideoWord[] = "NoVideo";

// The word of window type 0 to 7 ("640X480", "800X600", "1024X768",
// "1280X1024", "1600X1200", "Custom", "Percent", "FullScreen"); null for any
// other value, window type 8 included (the file has no word for it).
FEROQ_API const char* WindowTypeWord(LONG type);
FEROQ_API bool ParseWindowTypeWord(std::string_view word, _ZQWindowType* type);

// A window colour as the colour count the file writes: 0 "16", 1 "256", 2
// and 3 "32768", 4 "0x1000000"; null for any other value. Parsing "32768"
// gives ZQWindowColorHigh.
FEROQ_API const char* WindowColorCount(LONG color);
FEROQ_API bool ParseWindowColorCount(std::string_view count, _ZQWindowColor* color);

// The four flag words of an application.
enum class FlagList : int { kDesktopIntegrate, kZQAttributes, kWLAttributes, kPublishingFlags };

struct FlagWord {
  LONG bit;
  const char* word;
};

// The key a flag list is written under ("DefaultDesktopIntegrate",
// "ZQAttributes", "WLAttributes", "PublishingFlags") and the words of its
// defined bits, in the order the file writes them.
struct FlagWords {
  const char* key;
  const FlagWord* words;
  int count;
};
FEROQ_API FlagWords FlagWordsOf(FlagList list);
// The bit `word` names in `list`.
FEROQ_API bool ParseFlagWord(FlagList list, std::string_view word, LONG* bit);

}  // namespace feroq

#endif  // FEROQ_APP_WORDS_H_
