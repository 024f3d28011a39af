// Files on Windows: CreateFileW, ReadFile, WriteFile and CloseHandle on the
// UTF-16 paths as they are.
#include <new>
#include <string>

#include "platform/platform.h"
#include "platform/windows/system.h"

namespace feroq::platform {

struct FileHandle {
  HANDLE handle;
};

namespace {

bool IsEmptyPath(const char16_t* path) { return path == nullptr || path[0] == u'\0'; }

}  // namespace

FileHandle* CreateFileForWrite(const char16_t* path) noexcept {
  if (IsEmptyPath(path)) return nullptr;
  auto* file = new (std::nothrow) FileHandle{INVALID_HANDLE_VALUE};
  if (file == nullptr) return nullptr;
  // Readers may share it while it is written; an existing file is replaced.
  file->handle = ::CreateFileW(SystemWide(path), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                               CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file->handle == INVALID_HANDLE_VALUE) {
    delete file;
    return nullptr;
  }
  return file;
}

bool WriteFileBytes(FileHandle* file, const void* data, std::size_t bytes) noexcept {
  if (file == nullptr || (data == nullptr && bytes != 0)) return false;
  const char* next = static_cast<const char*>(data);
  while (bytes > 0) {
    const DWORD chunk = bytes > 0x40000000u ? 0x40000000u : static_cast<DWORD>(bytes);
    DWORD written = 0;
    if (!::WriteFile(file->handle, next, chunk, &written, nullptr) || written == 0) return false;
    next += written;
    bytes -= written;
  }
  return true;
}

bool CloseFile(FileHandle* file) noexcept {
  if (file == nullptr) return true;
  const bool closed = ::CloseHandle(file->handle) != 0;
  delete file;
  return closed;
}

ReadFileResult ReadFileUpTo(const char16_t* path, std::size_t max_bytes, std::string* contents) noexcept {
  if (IsEmptyPath(path)) return ReadFileResult::kFailed;
  // A directory cannot be opened this way (it needs backup semantics) and
  // gives kFailed, as on POSIX.
  ScopedHandle file(::CreateFileW(SystemWide(path), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) {
    const DWORD error = ::GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? ReadFileResult::kNotFound
                                                                          : ReadFileResult::kFailed;
  }
  try {
    contents->clear();
    constexpr std::size_t kChunk = 64 * 1024;
    for (;;) {
      const std::size_t room = max_bytes + 1 - contents->size();
      const std::size_t want = room < kChunk ? room : kChunk;
      const std::size_t before = contents->size();
      contents->resize(before + want);
      DWORD got = 0;
      const BOOL read = ::ReadFile(file.get(), contents->data() + before, static_cast<DWORD>(want), &got, nullptr);
      contents->resize(before + got);
      if (!read) return ::GetLastError() == ERROR_BROKEN_PIPE ? ReadFileResult::kRead : ReadFileResult::kFailed;
      if (got == 0) return ReadFileResult::kRead;
      if (contents->size() > max_bytes) return ReadFileResult::kTooLarge;
    }
  } catch (const std::bad_alloc&) {
    return ReadFileResult::kFailed;
  }
}

}  // namespace feroq::platform
