// Files on POSIX: plain descriptors, UTF-16 paths converted to UTF-8.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <new>
#include <string>

#include "platform/platform.h"
#include "platform/posix/paths.h"

namespace feroq::platform {

struct FileHandle {
  int descriptor;
};

FileHandle* CreateFileForWrite(const char16_t* path) noexcept {
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

ReadFileResult ReadFileUpTo(const char16_t* path, std::size_t max_bytes, std::string* contents) noexcept {
  try {
    std::string utf8;
    if (!PathToUtf8(path, &utf8)) return ReadFileResult::kFailed;
    int descriptor = -1;
    do {
      // Non-blocking, so that a pipe or device cannot hold the open or a read.
      descriptor = ::open(utf8.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    } while (descriptor < 0 && errno == EINTR);
    if (descriptor < 0) return errno == ENOENT ? ReadFileResult::kNotFound : ReadFileResult::kFailed;
    contents->clear();
    ReadFileResult result = ReadFileResult::kRead;
    constexpr std::size_t kChunk = 64 * 1024;
    // A regular file is read into a buffer of its size (and one byte more,
    // where the read that finds its end lands), instead of in chunks that
    // make the buffer grow, so reading many small files allocates each one
    // buffer of its own size.
    struct stat info{};
    const bool sized = ::fstat(descriptor, &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0;
    if (sized) contents->reserve(std::min<std::size_t>(static_cast<std::size_t>(info.st_size), max_bytes) + 1);
    for (;;) {
      const std::size_t room = max_bytes + 1 - contents->size();
      const std::size_t before = contents->size();
      const std::size_t spare = contents->capacity() - before;
      const std::size_t step = sized && spare > 0 ? spare : kChunk;
      const std::size_t want = room < step ? room : step;
      contents->resize(before + want);
      const ssize_t got = ::read(descriptor, contents->data() + before, want);
      contents->resize(before + (got > 0 ? static_cast<std::size_t>(got) : 0));
      if (got < 0 && errno == EINTR) continue;
      if (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK) result = ReadFileResult::kFailed;
      if (got <= 0) break;
      if (contents->size() > max_bytes) {
        result = ReadFileResult::kTooLarge;
        break;
      }
    }
    ::close(descriptor);
    return result;
  } catch (const std::bad_alloc&) {
    return ReadFileResult::kFailed;
  }
}

}  // namespace feroq::platform
