// Text in the system's multibyte form, the other way from MultiByteToUtf16:
// what the farm's stand-in services hand out where the farm's own services
// hand out text in the system's multibyte code page (the farm name).
#ifndef FEROQ_PLATFORM_MULTIBYTE_OUTPUT_H_
#define FEROQ_PLATFORM_MULTIBYTE_OUTPUT_H_

#include <cstddef>
#include <string>

#include "platform/platform.h"

namespace feroq::platform {

// Appends the system's multibyte form of the `length` UTF-16 units at `text`
// to `*out`, so that MultiByteToUtf16 gives the text back wherever the
// system's code page can hold it. On Windows that is the ANSI code page (a
// character it lacks becomes the code page's default character); elsewhere
// UTF-8 (an unpaired surrogate becomes U+FFFD). Throws std::bad_alloc.
FEROQ_PLATFORM_API void AppendUtf16AsMultiByte(const char16_t* text, std::size_t length, std::string* out);

}  // namespace feroq::platform

#endif  // FEROQ_PLATFORM_MULTIBYTE_OUTPUT_H_
