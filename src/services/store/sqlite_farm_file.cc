// Where farm files live and how they are made: the default path under the
// user's data directory, its directories and the file itself, all for their
// owner only. SQLite makes the file's -wal and -shm companions with the
// file's own mode.
#include <string>

#include "feroq/services/farm_admin.h"
#include "platform/platform.h"
#include "services/store/sqlite_farm_store.h"

namespace feroq::store {

std::string DefaultFarmFilePath() {
  const std::string data = platform::UserDataDirectory();
  if (data.empty()) return data;
  return data + "/feroq/farm.db";
}

VSTATUS CreateFarmFileDirectories(const std::string& path) {
  const std::size_t last_slash = path.rfind('/');
  if (last_slash == std::string::npos || last_slash == 0) return VORN_OK;
  return platform::CreateOwnerOnlyDirectories(path.substr(0, last_slash)) ? VORN_OK
                                                                          : admin::kFarmFileUnavailable;
}

namespace sqlite {

// Creates the farm file at `path` for its owner only unless it exists. 0 or
// kFarmFileUnavailable.
VSTATUS CreateFarmFileIfMissing(const std::string& path) {
  return platform::CreateOwnerOnlyFile(path) == platform::CreateFileResult::kFailed ? admin::kFarmFileUnavailable
                                                                                    : VORN_OK;
}

}  // namespace sqlite
}  // namespace feroq::store
