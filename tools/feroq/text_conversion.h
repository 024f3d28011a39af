// Text helpers of the tool: the library's UTF-8/UTF-16 conversions
// (feroq/text.h) and ASCII case folding.
#ifndef FEROQ_TOOLS_FEROQ_TEXT_CONVERSION_H_
#define FEROQ_TOOLS_FEROQ_TEXT_CONVERSION_H_

#include <optional>
#include <string>
#include <string_view>

#include "feroq/text.h"
#include "feroq/types.h"

namespace feroq::cli {

// UTF-16 and UTF-8 convert with the library's own conversion.
using feroq::FromUtf8;
using feroq::ToUtf8;

// Lower-cases ASCII letters only.
std::string AsciiLower(std::string_view text);
// Equal without regard to the case of ASCII letters.
bool EqualsIgnoringCase(std::string_view a, std::string_view b);

}  // namespace feroq::cli

#endif  // FEROQ_TOOLS_FEROQ_TEXT_CONVERSION_H_
