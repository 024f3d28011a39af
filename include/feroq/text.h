// Text conversion between the library's wide strings (UTF-16) and UTF-8,
// for tools that read names from a command line or a file and print them.
// The library converts with the same code wherever it writes text (the
// exported files), so a name comes out of a tool exactly as the library
// writes it.
#ifndef FEROQ_TEXT_H_
#define FEROQ_TEXT_H_

#include <optional>
#include <string>
#include <string_view>

#include "feroq/types.h"

namespace feroq {

// The UTF-8 form of `text`; an unpaired surrogate becomes U+FFFD. Throws
// std::bad_alloc when the result cannot be had.
FEROQ_API std::string ToUtf8(std::u16string_view text);
// As above for a NUL-terminated string; null gives the empty string.
FEROQ_API std::string ToUtf8(const char16_t* text);

// The UTF-16 form of the UTF-8 `text`, or nothing when `text` is not
// well-formed UTF-8 (a byte that cannot start or continue a sequence, a
// sequence cut off by the end, an overlong form, a surrogate, a value above
// U+10FFFF) or holds a NUL, which no wide string can carry. Throws
// std::bad_alloc when the result cannot be had.
FEROQ_API std::optional<std::u16string> FromUtf8(std::string_view text);

}  // namespace feroq

#endif  // FEROQ_TEXT_H_
