// Text conversion on Windows, as the system does it: the multibyte text is
// in the ANSI code page (MultiByteToWideChar with CP_ACP, refusing invalid
// sequences). The library's case-blind comparison is the C runtime's
// _wcsicmp; the farm's name keys fold with the portable table
// (portable/case_folding.cc), so that a farm file means the same on every
// system.
#include <cwchar>
#include <string>

#include "platform/multibyte_output.h"
#include "platform/platform.h"
#include "platform/windows/system.h"

namespace feroq::platform {

bool Utf8ToSystemWide(const std::string& utf8, std::wstring* wide) {
  std::u16string units;
  if (!AppendUtf8AsUtf16(utf8.data(), utf8.size(), &units)) return false;
  wide->assign(units.begin(), units.end());
  return true;
}

std::string SystemWideToUtf8(const wchar_t* wide, std::size_t length) {
  std::string utf8;
  AppendUtf16AsUtf8(reinterpret_cast<const char16_t*>(wide), length, &utf8, true);
  return utf8;
}

int MultiByteToUtf16(const char* source, int source_bytes, char16_t* dest, int capacity) noexcept {
  if (source == nullptr || capacity < 0 || (capacity > 0 && dest == nullptr)) return 0;
  if (source_bytes == 0) return 0;
  return ::MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, source, source_bytes,
                               capacity == 0 ? nullptr : reinterpret_cast<wchar_t*>(dest), capacity);
}

void AppendUtf16AsMultiByte(const char16_t* text, std::size_t length, std::string* out) {
  if (length == 0) return;
  const int units = static_cast<int>(length);
  const int bytes = ::WideCharToMultiByte(CP_ACP, 0, SystemWide(text), units, nullptr, 0, nullptr, nullptr);
  if (bytes <= 0) return;
  const std::size_t before = out->size();
  out->resize(before + static_cast<std::size_t>(bytes));
  ::WideCharToMultiByte(CP_ACP, 0, SystemWide(text), units, out->data() + before, bytes, nullptr, nullptr);
}

int CompareWideNoCase(const char16_t* a, const char16_t* b) noexcept {
  return ::_wcsicmp(SystemWide(a), SystemWide(b));
}

}  // namespace feroq::platform
