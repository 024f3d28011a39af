// The environment, the user's data directory, and directories and files
// that only their owner may use.
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace feroq::platform {
namespace {

bool IsAbsolute(const std::string& path) { return !path.empty() && path[0] == '/'; }

// The home directory: HOME when it is absolute, else the user database's entry.
std::string HomeDirectory() {
  std::string home;
  if (GetEnvironmentValue("HOME", &home) && IsAbsolute(home)) return home;
  std::vector<char> buffer(16384);
  passwd entry{};
  passwd* found = nullptr;
  if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr &&
      found->pw_dir != nullptr && found->pw_dir[0] == '/') {
    return found->pw_dir;
  }
  return std::string();
}

void DropTrailingSlashes(std::string* path) {
  while (path->size() > 1 && path->back() == '/') path->pop_back();
}

}  // namespace

bool GetEnvironmentValue(const char* name, std::string* value) {
  const char* setting = std::getenv(name);
  if (setting == nullptr) return false;
  value->assign(setting);
  return true;
}

std::string UserDataDirectory() {
  // A relative XDG_DATA_HOME is to be ignored.
  std::string data;
  if (GetEnvironmentValue("XDG_DATA_HOME", &data) && IsAbsolute(data)) {
    DropTrailingSlashes(&data);
    return data;
  }
  std::string home = HomeDirectory();
  if (home.empty()) return home;
  DropTrailingSlashes(&home);
  if (home != "/") home += '/';
  return home + ".local/share";
}

bool CreateOwnerOnlyDirectories(const std::string& path) noexcept {
  try {
    // Each prefix ending before a '/', then the directory itself.
    for (std::size_t end = path.find('/', 1);; end = path.find('/', end + 1)) {
      const std::string prefix = path.substr(0, end);
      if (::mkdir(prefix.c_str(), 0700) == 0) {
        // The umask may have taken bits away; the directory is the owner's.
        if (::chmod(prefix.c_str(), 0700) != 0) return false;
      } else if (errno != EEXIST) {
        return false;
      }
      if (end == std::string::npos) break;
    }
  } catch (const std::bad_alloc&) {
    return false;
  }
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

CreateFileResult CreateOwnerOnlyFile(const std::string& path) noexcept {
  int fd = -1;
  do {
    fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return errno == EEXIST ? CreateFileResult::kAlreadyExists : CreateFileResult::kFailed;
  // The umask may have taken bits away; the file is the owner's.
  const bool owner_only = ::fchmod(fd, 0600) == 0;
  ::close(fd);
  return owner_only ? CreateFileResult::kCreated : CreateFileResult::kFailed;
}

}  // namespace feroq::platform
