#include "app_words.h"

#include "text_conversion.h"

namespace feroq::cli {

namespace {

constexpr const char* kEncryptionWords[] = {"Basic", "RC5_Logon", "RC5_40Bit", "RC5_56Bit",
                                            "RC5_128Bit"};
constexpr const char* kWindowTypeWords[] = {"640X480",   "800X600", "1024X768", "1280X1024",
                                            "1600X1200", "Custom",  "Percent",  "FullScreen"};
constexpr const char* kWindowType8Word = "Type9";

constexpr FlagWord kDesktopIntegrateWords[] = {{kDesktopIntegrateStartMenu, "StartMenu"},
                                               {kDesktopIntegrateDesktop, "Desktop"}};
constexpr FlagWord kZQAttributeWords[] = {{kZQAttributeMaximizeOnStartup, "MaximizeOnStartup"},
                                          {kZQAttributeHideTitlebar, "HideTitlebar"}};
constexpr FlagWord kWLAttributeWords[] = {
    {kWLAttributeApplicationDisabled, "ApplicationDisabled"},
    {kWLAttributeMinimumSound, "MinimumSound"},
    {kWLAttributeMinimumVideo, "MinimumVideo"},
    {kWLAttributeMinimumEncryption, "MinimumEncryption"},
    {kWLAttributeApplicationIsDesktop, "ApplicationIsDesktop"},
    {kWLAttributeApplicationIsAnonymous, "ApplicationIsAnonymous"}};
// The file writes bit 1, then bit 4, then bit 2.
constexpr FlagWord kPublishingWords[] = {{kPublishingNoBrowserEnum, "NoBrowserEnum"},
                                         {kPublishingNoFolderEnum, "NoFolderEnum"},
                                         {kPublishingNoWLEnum, "NoWLEnum"}};

constexpr const char* kAccountKindWords[] = {"user", "group", "other"};

template <std::size_t N>
std::optional<LONG> FindWord(const char* const (&table)[N], std::string_view word) {
  for (std::size_t i = 0; i < N; ++i) {
    if (EqualsIgnoringCase(table[i], word)) return static_cast<LONG>(i);
  }
  return std::nullopt;
}

template <std::size_t N>
std::string JoinWords(const char* const (&table)[N]) {
  std::string out;
  for (std::size_t i = 0; i < N; ++i) {
    if (i != 0) out += ", ";
    out += table[i];
  }
  return out;
}

}  // namespace

const char* EncryptionWord(LONG level) {
  return level >= 0 && level <= 4 ? kEncryptionWords[level] : nullptr;
}

std::optional<_ZQEncryptionLevel> ParseEncryptionWord(std::string_view word) {
  auto found = FindWord(kEncryptionWords, word);
  if (!found) return std::nullopt;
  return static_cast<_ZQEncryptionLevel>(*found);
}

std::string EncryptionWordList() { return JoinWords(kEncryptionWords); }

const char* SoundWord(LONG sound) { return sound == 1 ? "Basic" : "NoSound"; }

std::optional<_ZQSoundType> ParseSoundWord(std::string_view word) {
  if (EqualsIgnoringCase(word, "Basic")) return ZQSoundBasic;
  if (EqualsIgnoringCase(word, "NoSound")) return ZQSoundNone;
  return std::nullopt;
}

const char* WindowTypeWord(LONG type) {
  if (type >= 0 && type <= 7) return kWindowTypeWords[type];
  if (type == 8) return kWindowType8Word;
  return nullptr;
}

std::optional<_ZQWindowType> ParseWindowTypeWord(std::string_view word) {
  if (auto found = FindWord(kWindowTypeWords, word)) return static_cast<_ZQWindowType>(*found);
  if (EqualsIgnoringCase(word, kWindowType8Word)) return ZQWindowType9;
  return std::nullopt;
}

std::string WindowTypeWordList() { return JoinWords(kWindowTypeWords) + ", " + kWindowType8Word; }

const char* ColorCountText(LONG color) {
  switch (color) {
    case 0: return "16";
    case 1: return "256";
    case 2:
    case 3: return "32768";
    case 4: return "0x1000000";
    default: return nullptr;
  }
}

std::optional<_ZQWindowColor> ParseColorCount(std::string_view text) {
  if (text == "16") return ZQWindowColor16;
  if (text == "256") return ZQWindowColor256;
  if (text == "32768") return ZQWindowColorHigh;
  if (EqualsIgnoringCase(text, "0x1000000")) return ZQWindowColorTrue;
  return std::nullopt;
}

const char* FlagKey(FlagProperty property) {
  switch (property) {
    case FlagProperty::kDesktopIntegrate: return "DefaultDesktopIntegrate";
    case FlagProperty::kZQAttributes: return "ZQAttributes";
    case FlagProperty::kWLAttributes: return "WLAttributes";
    case FlagProperty::kPublishingFlags: return "PublishingFlags";
  }
  return "";
}

std::span<const FlagWord> FlagWords(FlagProperty property) {
  switch (property) {
    case FlagProperty::kDesktopIntegrate: return kDesktopIntegrateWords;
    case FlagProperty::kZQAttributes: return kZQAttributeWords;
    case FlagProperty::kWLAttributes: return kWLAttributeWords;
    case FlagProperty::kPublishingFlags: return kPublishingWords;
  }
  return {};
}

std::vector<std::string> WordsOfFlags(FlagProperty property, LONG value) {
  std::vector<std::string> words;
  for (const FlagWord& flag : FlagWords(property)) {
    if ((value & flag.bit) != 0) words.emplace_back(flag.word);
  }
  return words;
}

std::optional<LONG> ParseFlagWord(FlagProperty property, std::string_view word) {
  for (const FlagWord& flag : FlagWords(property)) {
    if (EqualsIgnoringCase(flag.word, word)) return flag.bit;
  }
  return std::nullopt;
}

std::string FlagWordList(FlagProperty property) {
  std::string out;
  for (const FlagWord& flag : FlagWords(property)) {
    if (!out.empty()) out += ", ";
    out += flag.word;
  }
  return out;
}

const char* AccountKindWord(LONG kind) {
  return kind >= 0 && kind <= 2 ? kAccountKindWords[kind] : "unknown";
}

std::optional<LONG> ParseAccountKind(std::string_view word) {
  if (word == "0" || word == "1" || word == "2") return word[0] - '0';
  return FindWord(kAccountKindWords, word);
}

}  // namespace feroq::cli
