// The Windows headers as the platform layer includes them, and the
// conversions between feroq's strings and the system's wide strings.
//
// Only src/platform/windows includes this header. feroq's wide strings are
// char16_t; the system's are wchar_t, which is 16 bits of UTF-16 on Windows,
// so a feroq string is handed to the system as it is.
#ifndef FEROQ_PLATFORM_WINDOWS_SYSTEM_H_
#define FEROQ_PLATFORM_WINDOWS_SYSTEM_H_

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <string>

#include "platform/platform.h"

namespace feroq::platform {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows wide strings are UTF-16");

// The system's view of a NUL-terminated feroq wide string.
inline const wchar_t* SystemWide(const char16_t* text) noexcept {
  return reinterpret_cast<const wchar_t*>(text);
}

// The wide form of the UTF-8 `utf8`: true and `*wide` set, or false when
// the text is not UTF-8 or holds a NUL. Throws std::bad_alloc.
bool Utf8ToSystemWide(const std::string& utf8, std::wstring* wide);

// The UTF-8 form of `length` wide units at `wide` (unpaired surrogates
// become U+FFFD). Throws std::bad_alloc.
std::string SystemWideToUtf8(const wchar_t* wide, std::size_t length);

// Closes a handle on every path; INVALID_HANDLE_VALUE and null are none.
class ScopedHandle {
 public:
  explicit ScopedHandle(HANDLE handle) noexcept : handle_(handle) {}
  ~ScopedHandle() {
    if (valid()) ::CloseHandle(handle_);
  }
  ScopedHandle(const ScopedHandle&) = delete;
  ScopedHandle& operator=(const ScopedHandle&) = delete;
  bool valid() const noexcept { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }
  HANDLE get() const noexcept { return handle_; }

 private:
  HANDLE handle_;
};

}  // namespace feroq::platform

#endif  // FEROQ_PLATFORM_WINDOWS_SYSTEM_H_
