// Text helpers of the tool: the library's UTF-8/UTF-16 conversions
// (feroq/text.h) and ASCII case folding.
#ifndef FEROQ_TOOLS_FEROQ_TEXT_CONVERSION_H_
#define FEROQ_TOOLS_FEROQ_TEXT_CONVERSION_H_

#include <optional>
#include <string>
#include <string_view>
#include <vector>

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

// The fields of an option such as --server NAME:PROGRAM:DIR, split at each
// ':' that separates. A ':' is kept as text when it is inside double quotes
// (the quotes stay too: "C:\Program Files\a.exe" /x), when it follows a
// drive letter and precedes a backslash or slash (C:\..., D:/..., also later
// in a command line: /in D:\data), or when it is doubled ("::" is one ':').
std::vector<std::string> SplitOptionFields(std::string_view text);

}  // namespace feroq::cli

#endif  // FEROQ_TOOLS_FEROQ_TEXT_CONVERSION_H_
