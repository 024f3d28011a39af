// The text of an exported file, built in memory and written in one go.
//
// Exported text files are written as a Windows program writes a text-mode
// file: every line end ("\n") is stored as CR LF, on every platform, also a
// line feed inside a value. Wide strings are stored as UTF-8 (a lone
// surrogate as U+FFFD), the same for every value of every exported file
// and whatever the process locale.
#ifndef FEROQ_EXPORT_TEXT_BUFFER_H_
#define FEROQ_EXPORT_TEXT_BUFFER_H_

#include <string>
#include <string_view>

#include "feroq/types.h"
#include "platform/platform.h"

namespace feroq {

class TextBuffer {
 public:
  // Appends narrow text (keywords, numbers), turning "\n" into CR LF.
  void Append(std::string_view text);
  // Appends a NUL-terminated wide string as UTF-8 (null: nothing), turning
  // "\n" into CR LF.
  void AppendWide(const char16_t* text);
  // Appends `value` as printf's "%d" would.
  void AppendDecimal(LONG value);
  // Appends `value` as printf's "%02X" would.
  void AppendHexByte(BYTE value);
  // Appends `count` blanks.
  void AppendBlanks(int count);

  const std::string& bytes() const { return bytes_; }

 private:
  void PutByte(char byte);

  std::string bytes_;
};

// Writes `text` to `file` in one write and closes the file (always). False
// when the write or the close failed.
bool WriteAndClose(platform::FileHandle* file, const std::string& text);

}  // namespace feroq

#endif  // FEROQ_EXPORT_TEXT_BUFFER_H_
