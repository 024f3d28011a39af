// The one UTF-8 decoder of the platform layer, shared by the strict
// conversion (AppendUtf8AsUtf16) and the multibyte conversion of POSIX.
#ifndef FEROQ_PLATFORM_PORTABLE_UTF8_H_
#define FEROQ_PLATFORM_PORTABLE_UTF8_H_

#include <cstddef>

namespace feroq::platform {

// Decodes the code point at the start of the `length` bytes at `text` into
// `*code_point` and returns the number of bytes it takes (1 to 4); 0 when
// the bytes there are not well-formed UTF-8: a byte that cannot start a
// sequence or continue it, a sequence cut off by the end, an overlong form,
// a surrogate or a value above U+10FFFF. A NUL byte decodes as U+0000.
std::size_t DecodeUtf8CodePoint(const unsigned char* text, std::size_t length, char32_t* code_point);

// The UTF-16 units of `code_point` (1 or 2) written to `units`; returns how
// many.
inline int EncodeUtf16(char32_t code_point, char16_t units[2]) {
  if (code_point < 0x10000) {
    units[0] = static_cast<char16_t>(code_point);
    return 1;
  }
  code_point -= 0x10000;
  units[0] = static_cast<char16_t>(0xD800 + (code_point >> 10));
  units[1] = static_cast<char16_t>(0xDC00 + (code_point & 0x3FF));
  return 2;
}

}  // namespace feroq::platform

#endif  // FEROQ_PLATFORM_PORTABLE_UTF8_H_
