// UTF-16 to UTF-8 and back, shared by every platform implementation.
#include "platform/portable/utf8.h"

#include "platform/platform.h"

namespace feroq::platform {

bool AppendUtf16AsUtf8(const char16_t* text, std::size_t length, std::string* out, bool replace_invalid) {
  for (std::size_t i = 0; i < length; ++i) {
    char32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < length && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      if (!replace_invalid) return false;
      c = 0xFFFD;
    }
    if (c < 0x80) {
      out->push_back(static_cast<char>(c));
    } else if (c < 0x800) {
      out->push_back(static_cast<char>(0xC0 | (c >> 6)));
      out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
      out->push_back(static_cast<char>(0xE0 | (c >> 12)));
      out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
      out->push_back(static_cast<char>(0xF0 | (c >> 18)));
      out->push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
      out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  return true;
}

std::size_t DecodeUtf8CodePoint(const unsigned char* text, std::size_t length, char32_t* code_point) {
  if (length == 0) return 0;
  const unsigned char lead = text[0];
  std::size_t extra = 0;
  char32_t c = 0;
  char32_t minimum = 0;
  if (lead < 0x80) {
    *code_point = lead;
    return 1;
  }
  if ((lead & 0xE0) == 0xC0) {
    c = lead & 0x1F, extra = 1, minimum = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    c = lead & 0x0F, extra = 2, minimum = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    c = lead & 0x07, extra = 3, minimum = 0x10000;
  } else {
    return 0;  // a continuation byte, or no lead byte of UTF-8
  }
  if (extra >= length) return 0;  // cut off by the end
  for (std::size_t k = 1; k <= extra; ++k) {
    if ((text[k] & 0xC0) != 0x80) return 0;
    c = (c << 6) | (text[k] & 0x3F);
  }
  if (c < minimum || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return 0;
  *code_point = c;
  return extra + 1;
}

bool AppendUtf8AsUtf16(const char* text, std::size_t length, std::u16string* out) {
  // UTF-16 never takes more units than UTF-8 takes bytes: the string grows
  // once, the units are written in place, and it is cut to what was written.
  const std::size_t start = out->size();
  out->resize(start + length);
  char16_t* const first = out->data() + start;
  char16_t* unit = first;
  const auto* bytes = reinterpret_cast<const unsigned char*>(text);
  bool whole = true;
  for (std::size_t i = 0; i < length;) {
    const unsigned char byte = bytes[i];
    if (byte != 0 && byte < 0x80) {
      *unit++ = byte;
      ++i;
      continue;
    }
    char32_t c = 0;
    const std::size_t taken = DecodeUtf8CodePoint(bytes + i, length - i, &c);
    if (taken == 0 || c == 0) {
      whole = false;
      break;
    }
    unit += EncodeUtf16(c, unit);
    i += taken;
  }
  out->resize(start + static_cast<std::size_t>(unit - first));
  return whole;
}

}  // namespace feroq::platform
