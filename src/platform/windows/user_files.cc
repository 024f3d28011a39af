// The environment, the user's data directory (%LOCALAPPDATA%), and
// directories and files that only their owner may use (an access list of
// the user alone, not inherited from the folder above).
#include <new>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/windows/owner_only.h"
#include "platform/windows/system.h"

namespace feroq::platform {
namespace {

// "C:\..." or "C:/...", or a UNC path "\\server\...".
bool IsAbsolute(const std::string& path) {
  auto separator = [](char c) { return c == '\\' || c == '/'; };
  if (path.size() >= 3 && path[1] == ':' && separator(path[2])) return true;
  return path.size() >= 2 && separator(path[0]) && separator(path[1]);
}

void DropTrailingSeparators(std::string* path) {
  while (path->size() > 3 && (path->back() == '\\' || path->back() == '/')) path->pop_back();
}

bool IsDirectory(const std::wstring& path) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

}  // namespace

OwnerOnlySecurity::OwnerOnlySecurity() noexcept {
  try {
    HANDLE token = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) return;
    ScopedHandle owned_token(token);
    DWORD needed = 0;
    ::GetTokenInformation(token, TokenUser, nullptr, 0, &needed);
    if (needed == 0) return;
    user_.resize(needed);
    if (!::GetTokenInformation(token, TokenUser, user_.data(), needed, &needed)) return;
    PSID sid = reinterpret_cast<TOKEN_USER*>(user_.data())->User.Sid;
    acl_.resize(sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) + ::GetLengthSid(sid));
    auto* acl = reinterpret_cast<ACL*>(acl_.data());
    if (!::InitializeAcl(acl, static_cast<DWORD>(acl_.size()), ACL_REVISION) ||
        !::AddAccessAllowedAceEx(acl, ACL_REVISION, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE, GENERIC_ALL, sid) ||
        !::InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION) ||
        !::SetSecurityDescriptorDacl(&descriptor_, TRUE, acl, FALSE) ||
        !::SetSecurityDescriptorControl(&descriptor_, SE_DACL_PROTECTED, SE_DACL_PROTECTED)) {
      return;
    }
    attributes_.nLength = sizeof(attributes_);
    attributes_.lpSecurityDescriptor = &descriptor_;
    attributes_.bInheritHandle = FALSE;
    ok_ = true;
  } catch (const std::bad_alloc&) {
    ok_ = false;
  }
}

bool GetEnvironmentValue(const char* name, std::string* value) {
  std::wstring wide_name;
  if (!Utf8ToSystemWide(name, &wide_name)) return false;
  std::wstring buffer(256, L'\0');
  for (;;) {
    ::SetLastError(ERROR_SUCCESS);
    const DWORD length = ::GetEnvironmentVariableW(wide_name.c_str(), buffer.data(),
                                                   static_cast<DWORD>(buffer.size()));
    if (length == 0) {
      // 0 is both "not set" and "set to the empty text".
      if (::GetLastError() == ERROR_ENVVAR_NOT_FOUND) return false;
      value->clear();
      return true;
    }
    if (length < buffer.size()) {
      *value = SystemWideToUtf8(buffer.data(), length);
      return true;
    }
    buffer.resize(length);  // the size needed, terminator included
  }
}

std::string UserDataDirectory() {
  // %LOCALAPPDATA%, or the profile's AppData\Local when it is not set.
  std::string data;
  if (GetEnvironmentValue("LOCALAPPDATA", &data) && IsAbsolute(data)) {
    DropTrailingSeparators(&data);
    return data;
  }
  std::string profile;
  if (!GetEnvironmentValue("USERPROFILE", &profile) || !IsAbsolute(profile)) return std::string();
  DropTrailingSeparators(&profile);
  return profile + "\\AppData\\Local";
}

bool CreateOwnerOnlyDirectories(const std::string& path) noexcept {
  try {
    std::wstring wide;
    if (!Utf8ToSystemWide(path, &wide) || wide.empty()) return false;
    OwnerOnlySecurity security;
    if (!security.ok()) return false;
    // Each prefix ending before a separator, then the directory itself. A
    // drive ("C:") or the server and share of a UNC path are never made.
    std::size_t start = 1;
    if (wide.size() >= 2 && wide[1] == L':') start = 3;
    for (std::size_t end = wide.find_first_of(L"\\/", start);; end = wide.find_first_of(L"\\/", end + 1)) {
      const std::wstring prefix = wide.substr(0, end);
      if (!::CreateDirectoryW(prefix.c_str(), security.attributes())) {
        const DWORD error = ::GetLastError();
        // A prefix that cannot be made (a UNC server, a drive root) but is
        // not the last is left to the next step to settle.
        if (error != ERROR_ALREADY_EXISTS && end == std::wstring::npos) return false;
      }
      if (end == std::wstring::npos) break;
    }
    return IsDirectory(wide);
  } catch (const std::bad_alloc&) {
    return false;
  }
}

CreateFileResult CreateOwnerOnlyFile(const std::string& path) noexcept {
  try {
    std::wstring wide;
    if (!Utf8ToSystemWide(path, &wide) || wide.empty()) return CreateFileResult::kFailed;
    OwnerOnlySecurity security;
    if (!security.ok()) return CreateFileResult::kFailed;
    ScopedHandle file(::CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE, 0, security.attributes(), CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file.valid()) return CreateFileResult::kCreated;
    const DWORD error = ::GetLastError();
    return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS ? CreateFileResult::kAlreadyExists
                                                                       : CreateFileResult::kFailed;
  } catch (const std::bad_alloc&) {
    return CreateFileResult::kFailed;
  }
}

}  // namespace feroq::platform
