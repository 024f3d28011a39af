// The PostgreSQL farm store: one farm per database, shared by every host
// that reaches the server.
//
// - Opened from a libpq connection URI ("postgresql://..." or
//   "postgres://..."). Passwords come from ~/.pgpass, PGPASSFILE or
//   PGPASSWORD as libpq finds them (a password written into the URI works
//   too, but is taken out of every message). TLS is what the URI asks for
//   (sslmode=require, verify-ca, verify-full with sslrootcert=...): libpq
//   does it.
// - Each Write() is one REPEATABLE READ transaction (the server's implicit
//   one: no BEGIN and no COMMIT are sent, the pipeline's sync point commits
//   it; a write that needs a savepoint makes it a block) that takes the
//   writers' turn when it changes anything a rule spanning rows depends on
//   (PostgresTxn): whatever other hosts commit meanwhile, the outcome is
//   that of the writes one after the other, as with the farm file's single
//   writer. A write that collides with another (a row another transaction
//   changed after this one's snapshot, deadlock) is rolled back and its
//   function run again, up to kFarmWriteAttempts times in all with a short
//   random pause between attempts; after that Write() answers
//   kFarmWriteConflict. So a transaction function may run more than once:
//   whatever it does outside the transaction must bear repeating.
//   Identifier serials are counter rows bumped inside the transaction, so
//   no identifier is handed out twice; the names the services keep unique
//   are held by unique indexes, and a taken name is refused by the index.
// - Each Read() is one REPEATABLE READ, READ ONLY transaction: a snapshot.
//   ReadOne() sends its one statement alone, without BEGIN and ROLLBACK
//   (the statement sees a snapshot of its own); a function that asks a
//   second question is run again as a Read().
// - Connections: one for transactions, used by one thread at a time (the
//   store is safe for concurrent use; threads take turns on it), and one
//   more for each thread waiting for events at the same moment (kept for
//   the next wait). A call that finds the server gone (refused, shut down,
//   connection lost) answers kFarmFileUnavailable and has changed nothing,
//   with one exception: a write whose connection is lost after its commit
//   was sent and before the answer came back. The server then committed the
//   whole transaction if it had taken the commit in before the connection
//   went, and nothing of it otherwise; this store cannot tell which, and
//   answers kFarmFileUnavailable in both cases. A caller that must know
//   looks again after reconnecting. A publish or a folder creation run
//   again after such a commit is refused (its name is taken), so it never
//   makes a second object; a rename or a change of record run again writes
//   the same again. The next call connects again. A transaction that finds
//   its idle connection closed by the server (a restart between two calls)
//   connects again before running anything.
// - Statements travel in a pipeline (postgres_connection.h): a write costs
//   a round trip per answer its function needs before the commit (a
//   publish: two in all); what the database refuses among the queued
//   writes is answered with its code as any failure, and nothing is kept.
// - WaitForEventAfter: a commit that appended events sends NOTIFY on the
//   channel feroq_farm_events (delivered when it commits); waiters LISTEN on
//   their own connection and sleep in poll() on its socket until a
//   notification or the timeout, so a commit on any host wakes them within
//   the network's delay. A waiter that loses its connection tries to connect
//   again every kReconnectPauseMs until the timeout.
// - Event queues keep their owner (host, process, start token) as in every
//   backend; a queue is reclaimed when it is opened and its owner ran on
//   this host and has ended, or when nobody has waited on it for the idle
//   bound of services/event_service.h (owners on other hosts).
//
// Failures come back from Read() and Write() as the codes of
// postgres_connection.h (CodeOfSqlState), after the rollback.
#ifndef FEROQ_SERVICES_STORE_POSTGRES_FARM_STORE_H_
#define FEROQ_SERVICES_STORE_POSTGRES_FARM_STORE_H_

#include <memory>
#include <string>

#include "services/store/farm_store.h"

namespace feroq::store {

// How many times a write is run before a collision is reported.
inline constexpr int kFarmWriteAttempts = 8;
// How long a waiter that lost its connection waits before connecting again.
inline constexpr LONG kReconnectPauseMs = 250;

// Opens the farm in the database at `url`. With `create`, an empty database
// gets the farm's schema (an empty store: no name, no folders), otherwise
// it is refused with kFarmFileMissing. Answers kFarmFileUnavailable when
// the server cannot be reached, and the codes of PrepareFarmSchema
// (postgres_schema.h): kFarmFileNotAFarm for a database that holds
// something else, kFarmFileTooNew.
FEROQ_SERVICES_API VSTATUS OpenPostgresFarmStore(const std::string& url, bool create, std::shared_ptr<FarmStore>* store);

// Creates the farm's roles `prefix`_admin and `prefix`_reader in the
// database at `url` (see CreateFarmRoles in postgres_schema.h).
FEROQ_SERVICES_API VSTATUS CreatePostgresFarmRoles(const std::string& url, const std::string& prefix);

}  // namespace feroq::store

#endif  // FEROQ_SERVICES_STORE_POSTGRES_FARM_STORE_H_
