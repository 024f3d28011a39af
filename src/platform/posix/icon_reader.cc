// ExtractIcon32 on POSIX: reads the file (bounded by kMaxIconSourceBytes)
// when it starts like an icon file or an executable, and hands its bytes to
// the portable ExtractIcon32FromBytes. No exception leaves; running out of
// memory is kIconUnreadable.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <new>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/posix/paths.h"
#include "platform/portable/icon_containers.h"

namespace feroq::platform {

namespace {

using icons::ByteView;

// Bytes enough to recognise either kind of file.
constexpr std::size_t kSniffBytes = 6;

// Closes a descriptor on every path.
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

// Reads up to `bytes` bytes at `offset` into `dest`; the number read, or -1
// on a read error.
long long ReadAt(int fd, BYTE* dest, std::size_t bytes, off_t offset) {
  std::size_t done = 0;
  while (done < bytes) {
    const ssize_t got = ::pread(fd, dest + done, bytes - done, offset + static_cast<off_t>(done));
    if (got < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (got == 0) break;
    done += static_cast<std::size_t>(got);
  }
  return static_cast<long long>(done);
}

// Reads the whole of the file at `path` into `*content` when it starts like
// an icon file or an executable. kIconNotAnIconFile when it cannot be opened,
// is not a regular file or starts like neither; kIconUnreadable for a read error
// or a file beyond kMaxIconSourceBytes.
IconExtractResult ReadIconSource(const char16_t* path, std::vector<BYTE>* content) {
  std::string utf8;
  if (!PathToUtf8(path, &utf8)) return kIconNotAnIconFile;
  int fd = -1;
  do {
    // Non-blocking, so that a named pipe cannot hold the open.
    fd = ::open(utf8.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return kIconNotAnIconFile;
  Descriptor file(fd);
  struct stat status {};
  if (::fstat(fd, &status) != 0) return kIconUnreadable;
  if (!S_ISREG(status.st_mode)) return kIconNotAnIconFile;

  BYTE head[kSniffBytes] = {};
  const long long head_bytes = ReadAt(fd, head, sizeof(head), 0);
  if (head_bytes < 0) return kIconUnreadable;
  const ByteView sniff(head, static_cast<std::size_t>(head_bytes));
  if (!icons::LooksLikeIcoFile(sniff) && !icons::LooksLikeExecutable(sniff)) return kIconNotAnIconFile;

  if (status.st_size < 0 || static_cast<std::uint64_t>(status.st_size) > kMaxIconSourceBytes) {
    return kIconUnreadable;
  }
  // One byte more than the size, to notice a file that grew meanwhile.
  content->resize(static_cast<std::size_t>(status.st_size) + 1);
  const long long got = ReadAt(fd, content->data(), content->size(), 0);
  if (got < 0 || static_cast<std::size_t>(got) > static_cast<std::size_t>(status.st_size)) return kIconUnreadable;
  content->resize(static_cast<std::size_t>(got));
  return kIconOk;
}

}  // namespace

IconExtractResult ExtractIcon32(const char16_t* path, LONG index, BYTE mask[kIconMaskBytes],
                                BYTE colors[kIconColorBytes]) noexcept {
  try {
    std::vector<BYTE> content;
    if (const IconExtractResult read = ReadIconSource(path, &content); read != kIconOk) return read;
    return ExtractIcon32FromBytes(content.data(), content.size(), index, mask, colors);
  } catch (const std::bad_alloc&) {
    return kIconUnreadable;
  }
}

}  // namespace feroq::platform
