// ExtractIcon32 on POSIX: reads the file (bounded by kMaxIconSourceBytes),
// recognises an ICO file or a PE executable, finds the icon the index
// selects, chooses and decodes one of its images and reduces it to the
// farm's form. No exception leaves; running out of memory is kIconFailed.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/posix/icon_containers.h"
#include "platform/posix/icon_image.h"

namespace feroq::platform {

namespace {

using icons::ByteView;

// The shell's index that asks for the number of icons instead of one.
constexpr LONG kCountIconsIndex = -1;
// Bytes enough to recognise either kind of file.
constexpr std::size_t kSniffBytes = 6;

// UTF-8 form of a UTF-16 path; false for an unpaired surrogate or an empty path.
bool PathToUtf8(const WCHAR* path, std::string* utf8) {
  if (path == nullptr || path[0] == u'\0') return false;
  std::size_t length = 0;
  while (path[length] != u'\0') ++length;
  return AppendUtf16AsUtf8(path, length, utf8, false);
}

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
// is not a regular file or starts like neither; kIconFailed for a read error
// or a file beyond kMaxIconSourceBytes.
IconExtractResult ReadIconSource(const WCHAR* path, std::vector<BYTE>* content) {
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
  if (::fstat(fd, &status) != 0) return kIconFailed;
  if (!S_ISREG(status.st_mode)) return kIconNotAnIconFile;

  BYTE head[kSniffBytes] = {};
  const long long head_bytes = ReadAt(fd, head, sizeof(head), 0);
  if (head_bytes < 0) return kIconFailed;
  const ByteView sniff(head, static_cast<std::size_t>(head_bytes));
  if (!icons::LooksLikeIcoFile(sniff) && !icons::LooksLikeExecutable(sniff)) return kIconNotAnIconFile;

  if (status.st_size < 0 || static_cast<std::uint64_t>(status.st_size) > kMaxIconSourceBytes) {
    return kIconFailed;
  }
  // One byte more than the size, to notice a file that grew meanwhile.
  content->resize(static_cast<std::size_t>(status.st_size) + 1);
  const long long got = ReadAt(fd, content->data(), content->size(), 0);
  if (got < 0 || static_cast<std::size_t>(got) > static_cast<std::size_t>(status.st_size)) return kIconFailed;
  content->resize(static_cast<std::size_t>(got));
  return kIconOk;
}

}  // namespace

IconExtractResult ExtractIcon32FromBytes(const BYTE* data, std::size_t size, LONG index,
                                         BYTE mask[kIconMaskBytes], BYTE colors[kIconColorBytes]) noexcept {
  if (data == nullptr && size != 0) return kIconFailed;
  try {
    const ByteView file(data, size);
    std::vector<ByteView> images;
    if (icons::LooksLikeIcoFile(file)) {
      // An icon file holds one icon; the count request answers 1.
      if (index != 0) return kIconNotAnIconFile;
      if (const IconExtractResult found = icons::ReadIcoImages(file, &images); found != kIconOk) return found;
    } else if (icons::LooksLikeExecutable(file)) {
      if (index == kCountIconsIndex) {
        std::uint32_t groups = 0;
        const IconExtractResult counted = icons::ReadPeIconGroup(file, index, &images, &groups);
        if (counted != kIconOk) return counted;
        return groups <= 1 ? kIconNotAnIconFile : kIconFailed;
      }
      if (const IconExtractResult found = icons::ReadPeIconGroup(file, index, &images); found != kIconOk) {
        return found;
      }
    } else {
      return kIconNotAnIconFile;
    }

    const int chosen = icons::ChooseIconImage(images);
    if (chosen < 0) return kIconFailed;
    const ByteView image = images[static_cast<std::size_t>(chosen)];
    icons::RgbaImage decoded;
    const bool ok = icons::IsPngImage(image) ? icons::DecodePngImage(image, &decoded)
                                             : icons::DecodeDibImage(image, &decoded);
    if (!ok || decoded.pixels.empty()) return kIconFailed;
    icons::RenderIcon32(decoded, mask, colors);
    return kIconOk;
  } catch (const std::bad_alloc&) {
    return kIconFailed;
  }
}

IconExtractResult ExtractIcon32(const WCHAR* path, LONG index, BYTE mask[kIconMaskBytes],
                                BYTE colors[kIconColorBytes]) noexcept {
  try {
    std::vector<BYTE> content;
    if (const IconExtractResult read = ReadIconSource(path, &content); read != kIconOk) return read;
    return ExtractIcon32FromBytes(content.data(), content.size(), index, mask, colors);
  } catch (const std::bad_alloc&) {
    return kIconFailed;
  }
}

}  // namespace feroq::platform
