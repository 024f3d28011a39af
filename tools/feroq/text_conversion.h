// Conversions between the tool's UTF-8 text (command line, terminal, files)
// and the library's UTF-16 strings.
#ifndef FEROQ_TOOLS_FEROQ_TEXT_CONVERSION_H_
#define FEROQ_TOOLS_FEROQ_TEXT_CONVERSION_H_

#include <optional>
#include <string>
#include <string_view>

#include "feroq/types.h"

namespace feroq::cli {

// UTF-16 to UTF-8. A lone surrogate becomes U+FFFD. Null gives "".
std::string ToUtf8(std::u16string_view text);
std::string ToUtf8(const WCHAR* text);

// UTF-8 to UTF-16; nullopt for malformed UTF-8 (overlong forms, surrogates,
// truncated sequences, values above U+10FFFF) or an embedded NUL.
std::optional<std::u16string> FromUtf8(std::string_view text);

// Lower-cases ASCII letters only.
std::string AsciiLower(std::string_view text);
// Equal without regard to the case of ASCII letters.
bool EqualsIgnoringCase(std::string_view a, std::string_view b);

}  // namespace feroq::cli

#endif  // FEROQ_TOOLS_FEROQ_TEXT_CONVERSION_H_
