// The definition file's words for enumerated properties and flag bits.
#include "feroq/app_words.h"

#include <iterator>

namespace feroq {
namespace {

constexpr const char* kEncryptionWords[] = {"Basic", "RC5_Logon", "RC5_40Bit", "RC5_56Bit", "RC5_128Bit"};
constexpr const char* kWindowTypeWords[] = {"640X480",   "800X600", "1024X768", "1280X1024",
                                            "1600X1200", "Custom",  "Percent",  "FullScreen"};

constexpr FlagWord kDesktopIntegrateWords[] = {
    {kDesktopIntegrateStartMenu, "StartMenu"},
    {kDesktopIntegrateDesktop, "Desktop"},
};
constexpr FlagWord kZQAttributeWords[] = {
    {kZQAttributeMaximizeOnStartup, "MaximizeOnStartup"},
    {kZQAttributeHideTitlebar, "HideTitlebar"},
};
constexpr FlagWord kWLAttributeWords[] = {
    {kWLAttributeApplicationDisabled, "ApplicationDisabled"},
    {kWLAttributeMinimumSound, "MinimumSound"},
    {kWLAttributeMinimumVideo, "MinimumVideo"},
    {kWLAttributeMinimumEncryption, "MinimumEncryption"},
    {kWLAttributeApplicationIsDesktop, "ApplicationIsDesktop"},
    {kWLAttributeApplicationIsAnonymous, "ApplicationIsAnonymous"},
};
// Publishing flags are written bit 1, bit 4, bit 2.
constexpr FlagWord kPublishingFlagWords[] = {
    {kPublishingNoBrowserEnum, "NoBrowserEnum"},
    {kPublishingNoFolderEnum, "NoFolderEnum"},
    {kPublishingNoWLEnum, "NoWLEnum"},
};

char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameWord(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  }
  return true;
}

// The index of `word` in `table`, or -1.
template <std::size_t N>
int IndexOf(const char* const (&table)[N], std::string_view word) {
  for (std::size_t i = 0; i < N; ++i) {
    if (SameWord(table[i], word)) return static_cast<int>(i);
  }
  return -1;
}

template <std::size_t N>
FlagWords ListOf(const char* key, const FlagWord (&words)[N]) {
  return FlagWords{key, words, static_cast<int>(N)};
}

}  // namespace

const char* EncryptionLevelWord(LONG level) {
  return level >= 0 && level < static_cast<LONG>(std::size(kEncryptionWords)) ? kEncryptionWords[level] : nullptr;
}

bool ParseEncryptionLevelWord(std::string_view word, _ZQEncryptionLevel* level) {
  const int found = IndexOf(kEncryptionWords, word);
  if (found < 0) return false;
  *level = static_cast<_ZQEncryptionLevel>(found);
  return true;
}

const char* SoundTypeWord(LONG sound) { return sound == ZQSoundBasic ? "Basic" : "NoSound"; }

bool ParseSoundTypeWord(std::string_view word, _ZQSoundType* sound) {
  if (SameWord(word, "Basic")) {
    *sound = ZQSoundBasic;
  } else if (SameWord(word, "NoSound")) {
    *sound = ZQSoundNone;
  } else {
    return false;
  }
  return true;
}

const char* WindowTypeWord(LONG type) {
  return type >= 0 && type < static_cast<LONG>(std::size(kWindowTypeWords)) ? kWindowTypeWords[type] : nullptr;
}

bool ParseWindowTypeWord(std::string_view word, _ZQWindowType* type) {
  const int found = IndexOf(kWindowTypeWords, word);
  if (found < 0) return false;
  *type = static_cast<_ZQWindowType>(found);
  return true;
}

const char* WindowColorCount(LONG color) {
  switch (color) {
    case ZQWindowColor16: return "16";
    case ZQWindowColor256: return "256";
    case ZQWindowColorHigh15Bit:
    case ZQWindowColorHigh: return "32768";
    case ZQWindowColorTrue: return "0x1000000";
    default: return nullptr;
  }
}

bool ParseWindowColorCount(std::string_view count, _ZQWindowColor* color) {
  for (_ZQWindowColor value : {ZQWindowColor16, ZQWindowColor256, ZQWindowColorHigh, ZQWindowColorTrue}) {
    if (SameWord(count, WindowColorCount(value))) {
      *color = value;
      return true;
    }
  }
  return false;
}

FlagWords FlagWordsOf(FlagList list) {
  switch (list) {
    case FlagList::kDesktopIntegrate: return ListOf("DefaultDesktopIntegrate", kDesktopIntegrateWords);
    case FlagList::kZQAttributes: return ListOf("ZQAttributes", kZQAttributeWords);
    case FlagList::kWLAttributes: return ListOf("WLAttributes", kWLAttributeWords);
    case FlagList::kPublishingFlags: return ListOf("PublishingFlags", kPublishingFlagWords);
  }
  return FlagWords{"", nullptr, 0};
}

bool ParseFlagWord(FlagList list, std::string_view word, LONG* bit) {
  const FlagWords words = FlagWordsOf(list);
  for (int i = 0; i < words.count; ++i) {
    if (SameWord(words.words[i].word, word)) {
      *bit = words.words[i].bit;
      return true;
    }
  }
  return false;
}

}  // namespace feroq
