// UTF-16 paths as POSIX calls take them.
#ifndef FEROQ_PLATFORM_POSIX_PATHS_H_
#define FEROQ_PLATFORM_POSIX_PATHS_H_

#include <string>

#include "platform/platform.h"

namespace feroq::platform {

// Appends the UTF-8 form of the NUL-terminated UTF-16 `path` to `*utf8`;
// false for a null or empty path or an unpaired surrogate. Throws
// std::bad_alloc.
inline bool PathToUtf8(const char16_t* path, std::string* utf8) {
  if (path == nullptr || path[0] == u'\0') return false;
  std::size_t length = 0;
  while (path[length] != u'\0') ++length;
  return AppendUtf16AsUtf8(path, length, utf8, false);
}

}  // namespace feroq::platform

#endif  // FEROQ_PLATFORM_POSIX_PATHS_H_
