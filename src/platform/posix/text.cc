// Text conversion on POSIX.
//
// How the system's multibyte charset is chosen: Windows converts the farm
// name from the system code page; here the process locale's LC_CTYPE stands
// in for it. The charset is what nl_langinfo(CODESET) reports for the
// current locale at the time of the call. A process that never called
// setlocale runs in the "C" locale, whose charset glibc calls
// "ANSI_X3.4-1968"; that locale, "POSIX", and any plain-ASCII charset are
// taken as UTF-8 (a superset of ASCII), so UTF-8 is the default. UTF-8 is
// decoded here, strictly (no overlong forms, no encoded surrogates, nothing
// above U+10FFFF); every other charset goes through iconv to UTF-16 in the
// host's byte order.
#include <iconv.h>
#include <langinfo.h>
#include <locale.h>

#include <cerrno>
#include <cstring>

#include "platform/platform.h"
#include "platform/portable/utf8.h"

namespace feroq::platform {
namespace {

bool CharsetIsUtf8OrAscii(const char* codeset) {
  static const char* const kNames[] = {"UTF-8",    "utf-8", "UTF8",     "utf8",
                                       "ANSI_X3.4-1968", "ASCII", "US-ASCII", "646"};
  if (codeset == nullptr || codeset[0] == '\0') return true;
  for (const char* name : kNames) {
    if (std::strcmp(codeset, name) == 0) return true;
  }
  return false;
}

bool LocaleUsesUtf8(const char** codeset) {
  const char* name = setlocale(LC_CTYPE, nullptr);
  *codeset = nl_langinfo(CODESET);
  if (name == nullptr || std::strcmp(name, "C") == 0 || std::strcmp(name, "POSIX") == 0) return true;
  return CharsetIsUtf8OrAscii(*codeset);
}

// Receives converted units: into `dest` while there is room, or only counts
// them when `dest` is null (the size query). Fails once `capacity` is passed.
struct Utf16Sink {
  char16_t* dest;
  int capacity;
  int written = 0;
  bool overflow = false;

  void Put(char32_t unit) {
    if (dest == nullptr) {
      ++written;
      return;
    }
    if (written >= capacity) {
      overflow = true;
      return;
    }
    dest[written++] = static_cast<char16_t>(unit);
  }
  void PutCodePoint(char32_t code_point) {
    char16_t units[2];
    const int count = EncodeUtf16(code_point, units);
    for (int k = 0; k < count; ++k) Put(units[k]);
  }
};

// Strict UTF-8 decoding; false on malformed input.
bool DecodeUtf8(const unsigned char* source, int bytes, Utf16Sink& sink) {
  for (int i = 0; i < bytes && !sink.overflow;) {
    char32_t code_point = 0;
    const std::size_t taken =
        DecodeUtf8CodePoint(source + i, static_cast<std::size_t>(bytes - i), &code_point);
    if (taken == 0) return false;
    sink.PutCodePoint(code_point);
    i += static_cast<int>(taken);
  }
  return !sink.overflow;
}

const char* HostUtf16Name() {
  return __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__ ? "UTF-16LE" : "UTF-16BE";
}

// Conversion from any iconv charset; false on malformed input or overflow.
bool DecodeWithIconv(const char* codeset, const char* source, int bytes, Utf16Sink& sink) {
  iconv_t converter = iconv_open(HostUtf16Name(), codeset);
  if (converter == reinterpret_cast<iconv_t>(-1)) return false;
  char* in = const_cast<char*>(source);
  std::size_t in_left = static_cast<std::size_t>(bytes);
  bool ok = true;
  while (in_left > 0) {
    char16_t chunk[256];
    char* out = reinterpret_cast<char*>(chunk);
    std::size_t out_left = sizeof(chunk);
    const std::size_t result = iconv(converter, &in, &in_left, &out, &out_left);
    const int produced = static_cast<int>((sizeof(chunk) - out_left) / sizeof(char16_t));
    for (int k = 0; k < produced; ++k) sink.Put(chunk[k]);
    if (sink.overflow) {
      ok = false;
      break;
    }
    if (result == static_cast<std::size_t>(-1) && errno != E2BIG) {
      ok = false;  // EILSEQ or EINVAL: malformed or truncated input
      break;
    }
  }
  if (ok) {  // a stateful charset may still owe its final units
    char16_t chunk[8];
    char* out = reinterpret_cast<char*>(chunk);
    std::size_t out_left = sizeof(chunk);
    ok = iconv(converter, nullptr, nullptr, &out, &out_left) != static_cast<std::size_t>(-1);
    const int produced = static_cast<int>((sizeof(chunk) - out_left) / sizeof(char16_t));
    for (int k = 0; k < produced; ++k) sink.Put(chunk[k]);
    ok = ok && !sink.overflow;
  }
  iconv_close(converter);
  return ok;
}

}  // namespace

int MultiByteToUtf16(const char* source, int source_bytes, char16_t* dest, int capacity) noexcept {
  if (source == nullptr || capacity < 0 || (capacity > 0 && dest == nullptr)) return 0;
  if (source_bytes < 0) source_bytes = static_cast<int>(std::strlen(source)) + 1;
  if (source_bytes == 0) return 0;
  Utf16Sink sink{capacity == 0 ? nullptr : dest, capacity};
  const char* codeset = nullptr;
  const bool ok = LocaleUsesUtf8(&codeset)
                      ? DecodeUtf8(reinterpret_cast<const unsigned char*>(source), source_bytes, sink)
                      : DecodeWithIconv(codeset, source, source_bytes, sink);
  return ok ? sink.written : 0;
}

int CompareWideNoCase(const char16_t* a, const char16_t* b) noexcept { return CompareUtf16NoCase(a, b); }

}  // namespace feroq::platform
