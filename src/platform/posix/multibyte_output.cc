// The system's multibyte form on POSIX: UTF-8, the charset MultiByteToUtf16
// takes for a process that never set its locale (multibyte_output.h).
#include "platform/multibyte_output.h"

namespace feroq::platform {

void AppendUtf16AsMultiByte(const char16_t* text, std::size_t length, std::string* out) {
  AppendUtf16AsUtf8(text, length, out, true);
}

}  // namespace feroq::platform
