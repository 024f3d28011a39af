// The public text conversions (feroq/text.h), over the platform's one
// UTF-16/UTF-8 conversion.
#include "feroq/text.h"

#include "platform/platform.h"

namespace feroq {

std::string ToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  platform::AppendUtf16AsUtf8(text.data(), text.size(), &out, true);
  return out;
}

std::string ToUtf8(const char16_t* text) { return text == nullptr ? std::string() : ToUtf8(std::u16string_view(text)); }

std::optional<std::u16string> FromUtf8(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  if (!platform::AppendUtf8AsUtf16(text.data(), text.size(), &out)) return std::nullopt;
  return out;
}

}  // namespace feroq
