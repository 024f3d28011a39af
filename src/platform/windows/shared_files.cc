// Files that several processes share: what this process may do with one
// (the system's own access check, by opening it), and making one whose
// content no process sees half written (see platform.h).
#include <atomic>
#include <new>
#include <string>

#include "platform/platform.h"
#include "platform/windows/owner_only.h"
#include "platform/windows/system.h"

namespace feroq::platform {
namespace {

// True when `path` opens with `access`; a directory is opened as one
// (writing to a directory is adding files to it).
bool OpensWith(const std::wstring& path, DWORD access) {
  ScopedHandle handle(::CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  return handle.valid();
}

std::atomic<unsigned> g_staging_number{0};

}  // namespace

FileAccess ProbeFileAccess(const std::string& path) noexcept {
  try {
    std::wstring wide;
    if (!Utf8ToSystemWide(path, &wide) || wide.empty()) return FileAccess::kMissing;
    const DWORD attributes = ::GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
      const DWORD error = ::GetLastError();
      return error == ERROR_ACCESS_DENIED ? FileAccess::kNoAccess : FileAccess::kMissing;
    }
    if (!OpensWith(wide, GENERIC_READ)) return FileAccess::kNoAccess;
    const bool read_only_file =
        (attributes & FILE_ATTRIBUTE_READONLY) != 0 && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
    return !read_only_file && OpensWith(wide, GENERIC_READ | GENERIC_WRITE) ? FileAccess::kReadWrite
                                                                           : FileAccess::kReadOnly;
  } catch (const std::bad_alloc&) {
    return FileAccess::kMissing;
  }
}

CreateFileResult CreateOwnerOnlyFileHolding(const std::string& path, const void* data, std::size_t size) noexcept {
  try {
    // Written under a name of its own, then moved into place without
    // replacing: the move fails when the name exists, so the test and the
    // creation are one step, and a process that opens `path` finds it
    // complete.
    std::wstring target;
    if (!Utf8ToSystemWide(path, &target) || target.empty()) return CreateFileResult::kFailed;
    const std::wstring staging = target + L".new-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
                                 std::to_wstring(g_staging_number.fetch_add(1));
    OwnerOnlySecurity security;
    if (!security.ok()) return CreateFileResult::kFailed;
    bool written = false;
    {
      ScopedHandle file(::CreateFileW(staging.c_str(), GENERIC_WRITE, 0, security.attributes(), CREATE_NEW,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
      if (!file.valid()) return CreateFileResult::kFailed;
      written = true;
      const char* bytes = static_cast<const char*>(data);
      for (std::size_t left = size; written && left > 0;) {
        const DWORD chunk = left > 0x40000000u ? 0x40000000u : static_cast<DWORD>(left);
        DWORD n = 0;
        written = ::WriteFile(file.get(), bytes + (size - left), chunk, &n, nullptr) && n > 0;
        if (written) left -= n;
      }
      written = written && ::FlushFileBuffers(file.get());
    }
    CreateFileResult result = CreateFileResult::kFailed;
    if (written) {
      if (::MoveFileExW(staging.c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH)) {
        return CreateFileResult::kCreated;
      }
      const DWORD error = ::GetLastError();
      if (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS) result = CreateFileResult::kAlreadyExists;
    }
    ::DeleteFileW(staging.c_str());
    return result;
  } catch (...) {
    return CreateFileResult::kFailed;
  }
}

}  // namespace feroq::platform
