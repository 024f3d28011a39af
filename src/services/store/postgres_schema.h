// The schema of a farm in a PostgreSQL database: recognising it, creating
// it in an empty database, upgrading an older one, and the farm's two roles.
#ifndef FEROQ_SERVICES_STORE_POSTGRES_SCHEMA_H_
#define FEROQ_SERVICES_STORE_POSTGRES_SCHEMA_H_

#include <cstdint>
#include <string>

#include "services/store/postgres_connection.h"

namespace feroq::store::postgres {

// The schema version this build reads and writes (feroq_schema.version).
inline constexpr std::int64_t kPgSchemaVersion = 1;
// The channel a commit that appended events notifies.
inline constexpr char kEventChannel[] = "feroq_farm_events";

// Makes sure the database behind `connection` holds a farm of
// kPgSchemaVersion, in one transaction that holds the farm's schema lock,
// so that two hosts doing the same at once take turns:
// - a farm of this version is left as it is (nothing is written, so a role
//   that may only read opens it);
// - a farm of an older version is upgraded step by step;
// - an empty database (no table, view or sequence in the current schema)
//   gets the schema when `create` is set (an empty farm: no name, no
//   folders); without `create` it is refused with kFarmFileMissing.
// Raises PostgresStoreError: kFarmFileNotAFarm for a database that holds
// tables of something else (it is left untouched), kFarmFileTooNew for a
// farm of a newer version, kFarmReadOnly when an upgrade or creation is
// needed and the role may not make it, and the connection codes.
void PrepareFarmSchema(PgConnection& connection, bool create);

// Creates (or, when they exist, grants again) the farm's two roles,
// `prefix`_admin, which may change the farm, and `prefix`_reader, which
// may read it and wait for its events and also keep its own event queues
// (the one change a watcher makes), both without login: an administrator
// grants them to login roles. Needs a role that may create roles.
// Raises PostgresStoreError.
void CreateFarmRoles(PgConnection& connection, const std::string& prefix);

}  // namespace feroq::store::postgres

#endif  // FEROQ_SERVICES_STORE_POSTGRES_SCHEMA_H_
