// Where farm files live and how they are made: the default path, its
// directories (0700) and the file itself (0600). SQLite makes the file's
// -wal and -shm companions with the file's own mode.
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>
#include <vector>

#include "feroq/farm_admin.h"
#include "services/store/sqlite_farm_store.h"

namespace feroq::store {
namespace {

std::string HomeDirectory() {
  if (const char* home = std::getenv("HOME"); home != nullptr && home[0] == '/') return home;
  std::vector<char> buffer(16384);
  passwd entry{};
  passwd* found = nullptr;
  if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr &&
      found->pw_dir != nullptr && found->pw_dir[0] == '/') {
    return found->pw_dir;
  }
  return std::string();
}

}  // namespace

std::string DefaultFarmFilePath() {
  // Relative XDG_DATA_HOME values are to be ignored.
  if (const char* data = std::getenv("XDG_DATA_HOME"); data != nullptr && data[0] == '/') {
    return std::string(data) + "/feroq/farm.db";
  }
  const std::string home = HomeDirectory();
  if (home.empty()) return std::string();
  return home + "/.local/share/feroq/farm.db";
}

VSTATUS CreateFarmFileDirectories(const std::string& path) {
  const std::size_t last_slash = path.rfind('/');
  if (last_slash == std::string::npos || last_slash == 0) return VORN_OK;
  const std::string directory = path.substr(0, last_slash);
  // Each prefix ending before a '/', then the directory itself.
  for (std::size_t end = directory.find('/', 1);; end = directory.find('/', end + 1)) {
    const std::string prefix = directory.substr(0, end);
    if (mkdir(prefix.c_str(), 0700) == 0) {
      // The umask may have taken bits away; the directory is the owner's.
      if (chmod(prefix.c_str(), 0700) != 0) return admin::kFarmFileUnavailable;
    } else if (errno != EEXIST) {
      return admin::kFarmFileUnavailable;
    }
    if (end == std::string::npos) break;
  }
  struct stat info{};
  if (stat(directory.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) return admin::kFarmFileUnavailable;
  return VORN_OK;
}

namespace sqlite {

// Creates the farm file at `path` (mode 0600) unless it exists. 0 or
// kFarmFileUnavailable.
VSTATUS CreateFarmFileIfMissing(const std::string& path) {
  const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) return errno == EEXIST ? VORN_OK : admin::kFarmFileUnavailable;
  const bool ok = fchmod(fd, 0600) == 0;
  close(fd);
  return ok ? VORN_OK : admin::kFarmFileUnavailable;
}

}  // namespace sqlite
}  // namespace feroq::store
