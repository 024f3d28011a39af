// Where farm files live and how they are made and opened: the default path
// under the user's data directory, its directories and the file itself, all
// for their owner only, and whether a file opens for writing or for reading
// only. SQLite makes the file's -wal and -shm companions with the file's own
// mode; for a file this user may only read, they are made here first.
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

// Decides how the farm file at `path` is opened (see OpenSqliteFarmStore):
// creates it when missing and `create_if_missing`, makes missing companions
// of a file this user may only read, and sets `*read_only`. 0,
// kFarmFileMissing, kFarmFileUnavailable or kFarmCompanionsMissing.
VSTATUS ChooseFarmFileAccess(const std::string& path, bool create_if_missing, bool* read_only) {
  using platform::FileAccess;
  FileAccess file = platform::ProbeFileAccess(path);
  if (file == FileAccess::kMissing) {
    if (!create_if_missing) return admin::kFarmFileMissing;
    if (platform::CreateOwnerOnlyFile(path) == platform::CreateFileResult::kFailed) {
      return admin::kFarmFileUnavailable;
    }
    file = platform::ProbeFileAccess(path);
  }
  if (file != FileAccess::kReadWrite && file != FileAccess::kReadOnly) return admin::kFarmFileUnavailable;
  const std::size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  const bool folder_writable = platform::ProbeFileAccess(folder) == FileAccess::kReadWrite;
  bool companions_writable = true;
  for (const char* suffix : {"-wal", "-shm"}) {
    const std::string companion = path + suffix;
    const FileAccess access = platform::ProbeFileAccess(companion);
    if (access == FileAccess::kMissing) {
      if (!folder_writable) return admin::kFarmCompanionsMissing;
      // For a writable file SQLite makes it with the file's mode; for one
      // this user may only read, it would copy that mode too, so it is made
      // here first. SQLite also gives an empty companion the file's mode, so
      // it holds one byte: too short to be taken for a log or an index,
      // both of which SQLite then makes anew.
      static const char kOneByte = 0;
      if (file == FileAccess::kReadOnly &&
          platform::CreateOwnerOnlyFileHolding(companion, &kOneByte, 1) == platform::CreateFileResult::kFailed) {
        return admin::kFarmFileUnavailable;
      }
    } else if (access != FileAccess::kReadWrite) {
      companions_writable = false;
    }
  }
  *read_only = file == FileAccess::kReadOnly || !companions_writable;
  return VORN_OK;
}

}  // namespace sqlite
}  // namespace feroq::store
