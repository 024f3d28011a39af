// The line formats, name tables and flag-list words of the application
// definition file.
#include "export/definition_file.h"

#include "feroq/app_enums.h"
#include "feroq/app_words.h"

namespace feroq {

namespace {

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

void QuotedTextLine(TextBuffer& out, std::string_view key, const char16_t* text) {
  KeyHead(out, key);
  out.Append("\"");
  out.AppendWide(text);
  out.Append("\"\n");
}

void BareTextLine(TextBuffer& out, std::string_view key, const char16_t* text) {
  KeyHead(out, key);
  out.AppendWide(text);
  out.Append("\n");
}

void QuotedOrBareLine(TextBuffer& out, std::string_view key, const char16_t* text) {
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

void FlagListLines(TextBuffer& out, const FlagWords& list, LONG value) {
  const std::string_view key = list.key;
  KeyHead(out, key);
  if (value == 0) {
    out.Append("\"\"");
  } else {
    const int indent = 4 + static_cast<int>(key.size()) + 3;
    bool first = true;
    for (int i = 0; i < list.count; ++i) {
      if ((value & list.words[i].bit) == 0) continue;
      if (!first) {
        out.Append(",\n");
        out.AppendBlanks(indent);
      }
      out.Append("\"");
      out.Append(list.words[i].word);
      out.Append("\"");
      first = false;
    }
  }
  out.Append(".\n");
}

void WindowColorLine(TextBuffer& out, std::string_view key, LONG color) {
  if (const char* count = WindowColorCount(color)) EnumLine(out, key, count);
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
