// The line formats, name tables and flag-list words of the application
// definition file.
#include "export/definition_file.h"

#include "feroq/app_enums.h"

namespace feroq {

namespace {

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

constexpr std::string_view kEncryptionWords[] = {"Basic", "RC5_Logon", "RC5_40Bit", "RC5_56Bit", "RC5_128Bit"};
constexpr std::string_view kWindowTypeWords[] = {"640X480",   "800X600", "1024X768", "1280X1024",
                                                 "1600X1200", "Custom",  "Percent",  "FullScreen"};

template <std::size_t N>
FlagListWords ListOf(const FlagWord (&words)[N]) {
  return FlagListWords{words, static_cast<int>(N)};
}

// "    key = "
void KeyHead(TextBuffer& out, std::string_view key) {
  out.Append("    ");
  out.Append(key);
  out.Append(" = ");
}

}  // namespace

void EnumLine(TextBuffer& out, std::string_view key, std::string_view word) {
  KeyHead(out, key);
  out.Append(word);
  out.Append("\n");
}

void NumberLine(TextBuffer& out, std::string_view key, LONG value) {
  KeyHead(out, key);
  out.AppendDecimal(value);
  out.Append("\n");
}

void QuotedTextLine(TextBuffer& out, std::string_view key, const WCHAR* text) {
  KeyHead(out, key);
  out.Append("\"");
  out.AppendWide(text);
  out.Append("\"\n");
}

void BareTextLine(TextBuffer& out, std::string_view key, const WCHAR* text) {
  KeyHead(out, key);
  out.AppendWide(text);
  out.Append("\n");
}

void QuotedOrBareLine(TextBuffer& out, std::string_view key, const WCHAR* text) {
  if (text != nullptr && text[0] == u'"') {
    BareTextLine(out, key, text);
  } else {
    QuotedTextLine(out, key, text);
  }
}

void QuotedWordLine(TextBuffer& out, std::string_view key, std::string_view word) {
  KeyHead(out, key);
  out.Append("\"");
  out.Append(word);
  out.Append("\"\n");
}

void FlagListLines(TextBuffer& out, std::string_view key, LONG value, const FlagWord* words, int count) {
  KeyHead(out, key);
  if (value == 0) {
    out.Append("\"\"");
  } else {
    const int indent = 4 + static_cast<int>(key.size()) + 3;
    bool first = true;
    for (int i = 0; i < count; ++i) {
      if ((value & words[i].bit) == 0) continue;
      if (!first) {
        out.Append(",\n");
        out.AppendBlanks(indent);
      }
      out.Append("\"");
      out.Append(words[i].word);
      out.Append("\"");
      first = false;
    }
  }
  out.Append(".\n");
}

FlagListWords DesktopIntegrateWords() { return ListOf(kDesktopIntegrateWords); }
FlagListWords ZQAttributeWords() { return ListOf(kZQAttributeWords); }
FlagListWords WLAttributeWords() { return ListOf(kWLAttributeWords); }
FlagListWords PublishingFlagWords() { return ListOf(kPublishingFlagWords); }

std::string_view EncryptionLevelWord(LONG level) {
  if (level < 0 || level >= static_cast<LONG>(std::size(kEncryptionWords))) return {};
  return kEncryptionWords[level];
}

std::string_view WindowTypeWord(LONG type) {
  if (type < 0 || type >= static_cast<LONG>(std::size(kWindowTypeWords))) return {};
  return kWindowTypeWords[type];
}

void WindowColorLine(TextBuffer& out, std::string_view key, LONG color) {
  std::string_view count;
  switch (color) {
    case ZQWindowColor16: count = "16"; break;
    case ZQWindowColor256: count = "256"; break;
    case ZQWindowColorHigh15Bit:
    case ZQWindowColorHigh: count = "32768"; break;
    case ZQWindowColorTrue: count = "0x1000000"; break;
    default: return;
  }
  EnumLine(out, key, count);
}

void HexBlock(TextBuffer& out, std::string_view key, const BYTE* bytes, int count) {
  out.Append("    ");
  out.Append(key);
  out.Append(" =");
  for (int i = 0; i + 1 < count; ++i) {
    if (i % 8 == 0) {
      out.Append("\n        ");
    } else if (i % 4 == 0) {
      out.Append("   ");
    }
    out.Append("0x");
    out.AppendHexByte(bytes[i]);
    out.Append(", ");
  }
  if (count > 0) {
    out.Append("0x");
    out.AppendHexByte(bytes[count - 1]);
    out.Append(".\n");
  }
}

}  // namespace feroq
