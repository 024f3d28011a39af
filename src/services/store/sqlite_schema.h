// The farm file's schema: recognising a farm file, creating the schema in a
// new file, upgrading an older one in place.
#ifndef FEROQ_SERVICES_STORE_SQLITE_SCHEMA_H_
#define FEROQ_SERVICES_STORE_SQLITE_SCHEMA_H_

#include <cstdint>

#include "services/store/sqlite_connection.h"

namespace feroq::store::sqlite {

// PRAGMA application_id of every farm file ("FERQ").
inline constexpr std::int64_t kFarmApplicationId = 0x46455251;
// PRAGMA user_version of the schema this build reads and writes.
inline constexpr std::int64_t kFarmSchemaVersion = 5;
// The row of the serials table that keeps the sequence of the newest event
// trimmed from the log (no object kind is 0).
inline constexpr std::int64_t kEventSerialKind = 0;
// The oldest schema version a connection that may not write can read, through
// ReadOlderFarmThroughViews.
inline constexpr std::int64_t kOldestVersionReadThroughViews = 1;

// Makes the database behind `connection` a farm file of kFarmSchemaVersion
// in WAL mode, safely against other processes doing the same at once:
// - an empty database (no schema objects, user_version 0, application_id 0,
//   such as a file just created) gets the schema: an empty farm (no name, no
//   folders);
// - a farm file of an older version is upgraded step by step, in one
//   transaction;
// - a farm file of this version is left as it is, except that the folded
//   name keys are made again when they were made with other case classes
//   (FoldingFingerprint).
// Raises SqliteStoreError: kFarmFileNotAFarm for a file that is not a SQLite
// database or a database that is not a farm file, kFarmFileTooNew for a
// newer schema version (both leave the file untouched), kFarmFileCorrupt for
// a farm whose folders do not form a tree (a folder among its own
// ancestors), and the codes of SqliteStatusCode for other failures.
//
// With `read_only` (a connection that may not write) nothing is changed: a
// file that would need its schema made or its keys remade, or one older than
// kOldestVersionReadThroughViews, is refused with kFarmReadOnly; a file of an
// older version is read through ReadOlderFarmThroughViews.
void PrepareFarmSchema(SqliteConnection& connection, bool read_only = false);

// On a connection that may not write to a farm file of an older schema
// version that PrepareFarmSchema accepted: temporary views in the place of
// the tables whose columns later versions added, filling those columns as an
// upgrade would (events without a name, queues without an owner). Nothing
// for a file of this version. Must run before the connection prepares a
// statement, and before PRAGMA query_only. Raises SqliteStoreError.
void ReadOlderFarmThroughViews(SqliteConnection& connection);

}  // namespace feroq::store::sqlite

#endif  // FEROQ_SERVICES_STORE_SQLITE_SCHEMA_H_
