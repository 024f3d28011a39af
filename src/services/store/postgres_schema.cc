// The PostgreSQL farm schema and its migrations (see postgres_schema.h).
//
// Schema version 1; the same tables as the farm file's (sqlite_schema.cc),
// in the database's current schema. Identifiers and counters are int8 (a
// farm identifier bit for bit), texts bytea of UTF-16LE units, *_key
// columns folded keys (bytea compares bytewise, as the keys need).
//
//   feroq_schema  the one row: version, fold_fingerprint (the case classes
//                 the keys were made with); marks the database as a farm
//   farm          the one row (id 1): name, last_queue_handle
//   serials       kind -> the last serial handed out; kind 0 counts event
//                 sequences. A counter is a row, not a SEQUENCE: a sequence
//                 does not roll back, so a failed write would burn serials
//                 and clearing the farm could not be undone with the rest
//                 of its transaction. Concurrent writers take turns on the
//                 row (its lock is held to commit), so no serial is handed
//                 out twice.
//   folders, applications, servers, accounts, events, event_queues
//                 as in the farm file, with the same indexes; the names the
//                 services keep unique are held by the same UNIQUE indexes
//                 with holder columns (see sqlite_schema.cc), so a taken
//                 name is refused by the database itself.
#include "services/store/postgres_schema.h"

#include <cctype>

#include "feroq/services/farm_admin.h"
#include "services/store/sqlite_record_format.h"

namespace feroq::store::postgres {
namespace {

// The key of the transaction-scoped advisory lock that creation and
// upgrades take ("FERQ").
constexpr char kSchemaLock[] = "SELECT pg_advisory_xact_lock(1178948177)";

constexpr char kSchemaV1[] = R"sql(
CREATE TABLE feroq_schema(
  id int4 PRIMARY KEY CHECK (id = 1),
  version int8 NOT NULL,
  fold_fingerprint int8 NOT NULL);
CREATE TABLE farm(
  id int4 PRIMARY KEY CHECK (id = 1),
  name bytea NOT NULL,
  last_queue_handle int8 NOT NULL);
CREATE TABLE serials(kind int8 PRIMARY KEY, last int8 NOT NULL);
CREATE TABLE folders(
  id int8 PRIMARY KEY,
  parent int8 NOT NULL,
  name bytea NOT NULL,
  creation_serial int8 NOT NULL,
  name_key bytea NOT NULL);
CREATE INDEX folders_by_parent ON folders(parent, creation_serial, id);
CREATE INDEX folders_by_name ON folders(parent, name_key);
CREATE TABLE applications(
  id int8 PRIMARY KEY,
  folder int8 NOT NULL,
  name_key bytea NOT NULL,
  record bytea NOT NULL,
  name bytea NOT NULL,
  display_key bytea NOT NULL,
  browser_holder int8 NOT NULL,
  display_holder int8 NOT NULL);
CREATE UNIQUE INDEX applications_by_name ON applications(name_key, browser_holder);
CREATE UNIQUE INDEX applications_by_display ON applications(folder, display_key, display_holder);
CREATE TABLE servers(id int8 PRIMARY KEY, name bytea NOT NULL, name_key bytea NOT NULL);
CREATE INDEX servers_by_name ON servers(name_key, id);
CREATE TABLE accounts(
  dn_key bytea PRIMARY KEY,
  authority_key bytea NOT NULL,
  instance_key bytea NOT NULL,
  account_key bytea NOT NULL,
  authority_type bytea NOT NULL,
  instance bytea NOT NULL,
  account_name bytea NOT NULL,
  kind int8 NOT NULL,
  dn bytea NOT NULL,
  UNIQUE (authority_key, instance_key, account_key));
CREATE TABLE events(
  sequence int8 PRIMARY KEY,
  event_id int4 NOT NULL,
  record bytea NOT NULL,
  object_dn bytea);
CREATE TABLE event_queues(
  handle int8 PRIMARY KEY,
  event_ids bytea NOT NULL,
  read_position int8 NOT NULL,
  delivered int8 NOT NULL,
  owner_host bytea NOT NULL,
  owner_process int8 NOT NULL,
  owner_start int8 NOT NULL,
  last_wait int8 NOT NULL);
INSERT INTO farm(id, name, last_queue_handle) VALUES (1, '', 0);
)sql";

// Version 0 is the empty database: the first step creates the schema.
void CreateVersion1(PgConnection& connection) {
  connection.Exec(kSchemaV1);
  connection.Run("INSERT INTO feroq_schema(id, version, fold_fingerprint) VALUES (1, 1, $1::int8)",
                 Params().Int(sqlite::FoldingFingerprint()));
}

// Each step takes the schema from version `from` to `from` + 1 inside the
// upgrade's transaction; a new version appends its step.
struct Migration {
  std::int64_t from;
  void (*apply)(PgConnection&);
};
constexpr Migration kMigrations[] = {
    {0, &CreateVersion1},
};
static_assert(sizeof(kMigrations) / sizeof(kMigrations[0]) == kPgSchemaVersion,
              "one migration step per schema version");

// Makes every folded key again with this build's case classes.
void RemakeFoldedKeys(PgConnection& c) {
  Result folders = c.Run("SELECT id, name FROM folders");
  for (int i = 0; i < folders.Rows(); ++i) {
    c.Run("UPDATE folders SET name_key = $2::bytea WHERE id = $1::int8",
          Params().Id(folders.Id(i, 0)).Bytes(sqlite::FoldedKey(folders.Text(i, 1))));
  }
  Result servers = c.Run("SELECT id, name FROM servers");
  for (int i = 0; i < servers.Rows(); ++i) {
    c.Run("UPDATE servers SET name_key = $2::bytea WHERE id = $1::int8",
          Params().Id(servers.Id(i, 0)).Bytes(sqlite::FoldedKey(servers.Text(i, 1))));
  }
  // Names are held again from scratch, lowest identifier first.
  c.Exec("UPDATE applications SET browser_holder = id, display_holder = id");
  Result apps = c.Run("SELECT id, record FROM applications ORDER BY id");
  for (int i = 0; i < apps.Rows(); ++i) {
    const AppRecordData record = sqlite::DecodeAppRecord(apps.ByteVector(i, 1));
    c.Run("UPDATE applications SET name_key = $2::bytea, display_key = $3::bytea WHERE id = $1::int8",
          Params().Id(apps.Id(i, 0)).Bytes(sqlite::FoldedKey(record.browser_name))
              .Bytes(sqlite::FoldedKey(record.friendly_name)));
  }
  for (int i = 0; i < apps.Rows(); ++i) {
    const Params id = Params().Id(apps.Id(i, 0));
    c.Run("UPDATE applications a SET browser_holder = 0 WHERE id = $1::int8 AND NOT EXISTS (SELECT 1 FROM"
          " applications b WHERE b.name_key = a.name_key AND b.browser_holder = 0)", id);
    c.Run("UPDATE applications a SET display_holder = 0 WHERE id = $1::int8 AND NOT EXISTS (SELECT 1 FROM"
          " applications b WHERE b.folder = a.folder AND b.display_key = a.display_key AND b.display_holder = 0)",
          id);
  }
  // Accounts are keyed by their folded DN: taken out and put back.
  Result accounts = c.Run("SELECT authority_type, instance, account_name, kind, dn FROM accounts");
  c.Exec("DELETE FROM accounts");
  for (int i = 0; i < accounts.Rows(); ++i) {
    const std::u16string type = accounts.Text(i, 0), instance = accounts.Text(i, 1), name = accounts.Text(i, 2),
                         dn = accounts.Text(i, 4);
    c.Run("DELETE FROM accounts WHERE dn_key = $1::bytea OR (authority_key = $2::bytea AND instance_key = $3::bytea"
          " AND account_key = $4::bytea)",
          Params().Bytes(sqlite::FoldedKey(dn)).Bytes(sqlite::FoldedKey(type)).Bytes(sqlite::FoldedKey(instance))
              .Bytes(sqlite::FoldedKey(name)));
    c.Run("INSERT INTO accounts VALUES ($1::bytea, $2::bytea, $3::bytea, $4::bytea, $5::bytea, $6::bytea,"
          " $7::bytea, $8::int8, $9::bytea)",
          Params().Bytes(sqlite::FoldedKey(dn)).Bytes(sqlite::FoldedKey(type)).Bytes(sqlite::FoldedKey(instance))
              .Bytes(sqlite::FoldedKey(name)).Text(type).Text(instance).Text(name).Int(accounts.Int(i, 3)).Text(dn));
  }
  c.Run("UPDATE feroq_schema SET fold_fingerprint = $1::int8", Params().Int(sqlite::FoldingFingerprint()));
}

// Runs `fn` in a transaction holding the schema lock; rolls back if it raises.
template <class Fn>
void InSchemaTransaction(PgConnection& connection, Fn&& fn) {
  connection.Exec("BEGIN");
  try {
    connection.Exec(kSchemaLock);
    fn();
    connection.Exec("COMMIT");
  } catch (...) {
    PQclear(PQexec(connection.raw(), "ROLLBACK"));
    throw;
  }
}

// Quotes an identifier for SQL text (roles cannot be statement parameters).
std::string QuoteIdentifier(const std::string& name) {
  std::string quoted = "\"";
  for (char ch : name) {
    if (ch == '"') quoted += '"';
    quoted += ch;
  }
  return quoted + "\"";
}

}  // namespace

void PrepareFarmSchema(PgConnection& connection, bool create) {
  InSchemaTransaction(connection, [&] {
    const bool is_farm = connection.Run("SELECT to_regclass('feroq_schema') IS NOT NULL").Int(0, 0) != 0;
    std::int64_t version = 0;
    std::int64_t fingerprint = 0;
    if (is_farm) {
      Result row = connection.Run("SELECT version, fold_fingerprint FROM feroq_schema WHERE id = 1");
      if (row.Rows() != 1) throw PostgresStoreError(admin::kFarmFileNotAFarm, "", "farm: no schema version");
      version = row.Int(0, 0);
      fingerprint = row.Int(0, 1);
      if (version > kPgSchemaVersion) {
        throw PostgresStoreError(admin::kFarmFileTooNew, "",
                                 "farm: schema version " + std::to_string(version) + " is newer than this feroq's " +
                                     std::to_string(kPgSchemaVersion));
      }
    } else {
      // Anything in the schema (tables, views, sequences, ...) is another
      // program's data: a farm is made only in an empty database.
      const std::int64_t objects =
          connection.Run("SELECT count(*) FROM pg_class WHERE relnamespace = current_schema()::regnamespace")
              .Int(0, 0);
      if (objects != 0) {
        throw PostgresStoreError(admin::kFarmFileNotAFarm, "",
                                 "farm: the database holds tables that are not a feroq farm");
      }
      if (!create) {
        throw PostgresStoreError(admin::kFarmFileMissing, "",
                                 "farm: the database holds no farm yet (make one with `feroq farm init`)");
      }
    }
    for (const Migration& step : kMigrations) {
      if (step.from >= version) step.apply(connection);
    }
    if (version != 0 && version < kPgSchemaVersion) {
      connection.Run("UPDATE feroq_schema SET version = $1::int8", Params().Int(kPgSchemaVersion));
    }
    if (version != 0 && fingerprint != sqlite::FoldingFingerprint()) RemakeFoldedKeys(connection);
  });
}

void CreateFarmRoles(PgConnection& connection, const std::string& prefix) {
  for (char ch : prefix) {
    if (!std::isalnum(static_cast<unsigned char>(ch)) && ch != '_') {
      throw PostgresStoreError(VORN_E_INVALIDVALUE, "", "farm roles: the prefix may hold letters, digits and _ only");
    }
  }
  const std::string admin = QuoteIdentifier(prefix + "_admin");
  const std::string reader = QuoteIdentifier(prefix + "_reader");
  InSchemaTransaction(connection, [&] {
    for (const std::string* role : {&admin, &reader}) {
      const std::string name = role->substr(1, role->size() - 2);
      Result exists = connection.Run("SELECT count(*) FROM pg_roles WHERE rolname = convert_from($1::bytea, 'UTF8')",
                                     Params().Bytes(name));
      if (exists.Int(0, 0) == 0) connection.Exec(("CREATE ROLE " + *role + " NOLOGIN").c_str());
    }
    const std::string schema = connection.Run("SELECT convert_to(current_schema(), 'UTF8')").Bytes(0, 0);
    const std::string grants =
        "GRANT USAGE ON SCHEMA " + QuoteIdentifier(schema) + " TO " + admin + ", " + reader + ";" +
        "GRANT SELECT, INSERT, UPDATE, DELETE ON farm, serials, folders, applications, servers, accounts, events,"
        " event_queues TO " + admin + ";" +
        "GRANT SELECT ON feroq_schema TO " + admin + ";" +
        "GRANT SELECT ON feroq_schema, farm, serials, folders, applications, servers, accounts, events TO " +
        reader + ";" +
        // A watcher keeps its own queue: it makes, moves and removes queue
        // rows, counts queue handles and trims the log it has read.
        "GRANT SELECT, INSERT, UPDATE, DELETE ON event_queues TO " + reader + ";" +
        "GRANT UPDATE (last_queue_handle) ON farm TO " + reader + ";" + "GRANT DELETE ON events TO " + reader + ";";
    connection.Exec(grants.c_str());
  });
}

}  // namespace feroq::store::postgres
