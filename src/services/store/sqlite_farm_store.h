// The SQLite farm store: one farm per file, shared by every process that
// opens the file.
//
// - The file is a SQLite database in WAL mode (readers never wait for the
//   writer); the schema is in sqlite_schema.cc, its version in PRAGMA
//   user_version, and an older file is upgraded in place when opened.
// - Each Write() is one BEGIN IMMEDIATE transaction: writers in this and
//   other processes take turns, waiting up to the busy timeout (5 s) before
//   Write() gives up with kFarmBusy. Identifier serials live in the file and
//   are bumped inside that transaction, so identifiers are unique across
//   processes. A Write() that returned 0 is in the WAL file: it survives the
//   process being killed at any point (synchronous=NORMAL; a power loss may
//   take back the newest commits but never leaves a damaged file).
// - Each Read() is one deferred read transaction: a snapshot of the last
//   commit when it began. Application records it reads are kept decoded in
//   the store for later reads, and dropped as soon as a read transaction
//   sees that the file has changed (sqlite_record_cache.h). ReadMany()
//   takes kept records too but keeps none of those it reads: a walk that
//   reads each record once would only push the records in use out.
// - WaitForEventAfter: a commit that appended events raises the farm's
//   change signal (platform::OpenChangeSignal: on POSIX the companion file
//   `path`-wake, made beside the farm file with its permissions), which wakes
//   waiters in every process of this machine at once. A waiter also reads the
//   newest event sequence every SqliteOpenOptions::poll_interval_ms, for the
//   commits of processes that cannot raise the signal (or when this process
//   cannot open it: then commits through the same store object still wake
//   its waiters at once).
// - Thread safety: one writer connection behind a mutex, and a pool of
//   reader connections, so reads run beside a write and beside each other.
//   A store must not be used across fork(): a child process opens the file
//   itself (SQLite connections do not survive a fork).
//
// SQLite failures come back from Read() and Write() as the farm file codes
// of feroq/services/farm_admin.h (kFarmFileCorrupt, kFarmFileUnavailable, kFarmBusy);
// the transaction is rolled back first.
#ifndef FEROQ_SERVICES_STORE_SQLITE_FARM_STORE_H_
#define FEROQ_SERVICES_STORE_SQLITE_FARM_STORE_H_

#include <memory>
#include <string>

#include "services/store/farm_store.h"

namespace feroq::store {

// How often a waiter reads the newest event sequence by default: the upper
// bound on how long a commit that raised no change signal takes to wake a
// WaitForEventAfter (plus the time to read the sequence).
inline constexpr LONG kSqliteFarmPollIntervalMs = 20;

struct SqliteOpenOptions {
  // Whether a missing file is created (mode 0600, whatever the umask) as an
  // empty store: no farm name, no folders; InitializeNewFarm makes it a new
  // farm. The directory must exist. Without it a missing file is refused
  // with kFarmFileMissing.
  bool create_if_missing = true;
  // How often WaitForEventAfter reads the newest event sequence while it
  // waits, in milliseconds (at least 1): how late it may see a commit that
  // raised no change signal.
  LONG poll_interval_ms = kSqliteFarmPollIntervalMs;
};

// Opens the farm file at `path`. Opening takes no write lock unless the
// file must be created, upgraded or have its name keys remade, so it never
// waits for another process's writer on a farm file of this version.
//
// A file this user may read but not write opens for reading only (Write
// answers kFarmReadOnly); its -wal and -shm companions, when missing, are
// made first, for their owner only (SQLite would make them with the file's
// own mode, such as 0400, which then locks out the owner once the file is
// writable again). A file whose companions are missing in a folder this user
// cannot write to is refused with kFarmCompanionsMissing; with companions
// that this user may only read it opens for reading only.
//
// Returns 0 and the store, or: kFarmFileMissing, kFarmFileUnavailable (the
// file cannot be created or opened, or its file system refuses WAL mode),
// kFarmCompanionsMissing, kFarmReadOnly (a file opened for reading only that
// would need upgrading), kFarmFileNotAFarm, kFarmFileTooNew,
// kFarmFileCorrupt, kFarmBusy (another process holds the file through an
// upgrade), VORN_E_OUTOFMEMORY. On failure an existing file is left as it
// was.
FEROQ_SERVICES_API VSTATUS OpenSqliteFarmStore(const std::string& path, const SqliteOpenOptions& options,
                                               std::shared_ptr<FarmStore>* store);
// The same with the default options (a missing file is created).
FEROQ_SERVICES_API VSTATUS OpenSqliteFarmStore(const std::string& path,
                                               std::shared_ptr<FarmStore>* store);

// Runs SQLite's PRAGMA integrity_check on the file at `path` through a
// connection of its own. Returns 0 when the file is sound ("ok" in
// `*report`), kFarmFileCorrupt with SQLite's findings in `*report`, or
// kFarmFileNotAFarm / kFarmFileUnavailable when it cannot be read.
FEROQ_SERVICES_API VSTATUS CheckSqliteFarmFile(const std::string& path, std::string* report);

// The default farm file: feroq/farm.db in the user's data directory
// (platform::UserDataDirectory: on POSIX $XDG_DATA_HOME when it is an
// absolute path, else $HOME/.local/share); empty when none is known.
FEROQ_SERVICES_API std::string DefaultFarmFilePath();

// Creates the directories above `path` that do not exist yet, each for its
// owner only (mode 0700; existing ones are left as they are). 0 or kFarmFileUnavailable.
FEROQ_SERVICES_API VSTATUS CreateFarmFileDirectories(const std::string& path);

}  // namespace feroq::store

#endif  // FEROQ_SERVICES_STORE_SQLITE_FARM_STORE_H_
