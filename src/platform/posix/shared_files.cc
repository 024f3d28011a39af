// Files that several processes share: what this process may do with one,
// and making one whose content no process sees half written (see
// platform.h).
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "platform/platform.h"

namespace feroq::platform {

FileAccess ProbeFileAccess(const std::string& path) noexcept {
  if (::access(path.c_str(), F_OK) != 0) return FileAccess::kMissing;
  if (::access(path.c_str(), R_OK) != 0) return FileAccess::kNoAccess;
  return ::access(path.c_str(), W_OK) == 0 ? FileAccess::kReadWrite : FileAccess::kReadOnly;
}

CreateFileResult CreateOwnerOnlyFileHolding(const std::string& path, const void* data, std::size_t size) noexcept {
  try {
    // Written under a name of its own, then linked into place: linking fails
    // when the name exists, so the test and the creation are one step, and a
    // process that opens `path` finds it complete.
    std::string staging = path + ".new-XXXXXX";
    const int fd = ::mkstemp(staging.data());
    if (fd < 0) return CreateFileResult::kFailed;
    bool written = ::fchmod(fd, 0600) == 0;
    const char* bytes = static_cast<const char*>(data);
    for (std::size_t left = size; written && left > 0;) {
      const ssize_t n = ::write(fd, bytes + (size - left), left);
      if (n < 0 && errno == EINTR) continue;
      written = n > 0;
      if (written) left -= static_cast<std::size_t>(n);
    }
    written = ::close(fd) == 0 && written;
    CreateFileResult result = CreateFileResult::kFailed;
    if (written) {
      if (::link(staging.c_str(), path.c_str()) == 0) {
        result = CreateFileResult::kCreated;
      } else if (errno == EEXIST) {
        result = CreateFileResult::kAlreadyExists;
      }
    }
    ::unlink(staging.c_str());
    return result;
  } catch (...) {
    return CreateFileResult::kFailed;
  }
}

}  // namespace feroq::platform
