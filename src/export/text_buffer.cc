// TextBuffer: text-mode line ends and UTF-8 for exported files.
#include "export/text_buffer.h"

namespace feroq {

void TextBuffer::PutByte(char byte) {
  if (byte == '\n') bytes_.push_back('\r');
  bytes_.push_back(byte);
}

void TextBuffer::Append(std::string_view text) {
  for (char c : text) PutByte(c);
}

void TextBuffer::AppendWide(const char16_t* text) {
  if (text == nullptr) return;
  std::string utf8;
  platform::AppendUtf16AsUtf8(text, std::u16string_view(text).size(), &utf8, true);
  Append(utf8);
}

void TextBuffer::AppendDecimal(LONG value) {
  // Widened first, so that the lowest value has a magnitude to print.
  std::int64_t wide = value;
  if (wide < 0) {
    bytes_.push_back('-');
    wide = -wide;
  }
  char digits[16];
  int count = 0;
  do {
    digits[count++] = static_cast<char>('0' + wide % 10);
    wide /= 10;
  } while (wide != 0);
  while (count > 0) bytes_.push_back(digits[--count]);
}

void TextBuffer::AppendHexByte(BYTE value) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  bytes_.push_back(kDigits[value >> 4]);
  bytes_.push_back(kDigits[value & 0xF]);
}

void TextBuffer::AppendBlanks(int count) {
  if (count > 0) bytes_.append(static_cast<std::size_t>(count), ' ');
}

bool WriteAndClose(platform::FileHandle* file, const std::string& text) {
  const bool written = platform::WriteFileBytes(file, text.data(), text.size());
  const bool closed = platform::CloseFile(file);
  return written && closed;
}

}  // namespace feroq
