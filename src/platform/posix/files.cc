// Files on POSIX: plain descriptors, UTF-16 paths converted to UTF-8.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <new>
#include <string>

#include "platform/platform.h"
#include "platform/posix/paths.h"

namespace feroq::platform {

struct FileHandle {
  int descriptor;
};

FileHandle* CreateFileForWrite(const WCHAR* path) noexcept {
  std::string utf8;
  try {
    if (!PathToUtf8(path, &utf8)) return nullptr;
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
  auto* file = new (std::nothrow) FileHandle{-1};
  if (file == nullptr) return nullptr;
  do {
    file->descriptor = ::open(utf8.c_str(), O_CREAT | O_TRUNC | O_WRONLY | O_CLOEXEC, 0666);
  } while (file->descriptor < 0 && errno == EINTR);
  if (file->descriptor < 0) {
    delete file;
    return nullptr;
  }
  return file;
}

bool WriteFileBytes(FileHandle* file, const void* data, std::size_t bytes) noexcept {
  if (file == nullptr || (data == nullptr && bytes != 0)) return false;
  const char* next = static_cast<const char*>(data);
  while (bytes > 0) {
    const ssize_t written = ::write(file->descriptor, next, bytes);
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    next += written;
    bytes -= static_cast<std::size_t>(written);
  }
  return true;
}

bool CloseFile(FileHandle* file) noexcept {
  if (file == nullptr) return true;
  // close is not retried on EINTR: on Linux the descriptor is gone either way.
  const bool closed = ::close(file->descriptor) == 0 || errno == EINTR;
  delete file;
  return closed;
}

}  // namespace feroq::platform
