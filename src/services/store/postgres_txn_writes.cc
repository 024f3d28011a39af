// PostgresTxn's writes: the farm-store changes as statements over the schema
// of postgres_schema.cc, most queued to reach the server with the next read
// or the commit.
#include "services/store/postgres_txn.h"

#include <algorithm>
#include <limits>
#include <new>

#include "feroq/services/farm_admin.h"
#include "services/store/postgres_txn_guarded.h"
#include "services/store/sqlite_record_format.h"

namespace feroq::store::postgres {
namespace {

using sqlite::FoldedKey;

}  // namespace

void PostgresTxn::SetFarmName(const std::u16string& name) {
  Guarded([&] { Queue("UPDATE farm SET name = $1::bytea WHERE id = 1", Params().Text(name)); });
}

void PostgresTxn::PutFolder(const FolderRecord& f) {
  Guarded([&] {
    Queue(
        "INSERT INTO folders(id, parent, name, creation_serial, name_key) VALUES ($1::int8, $2::int8, $3::bytea,"
        " $4::int8, $5::bytea) ON CONFLICT (id) DO UPDATE SET parent = excluded.parent, name = excluded.name,"
        " creation_serial = excluded.creation_serial, name_key = excluded.name_key",
        Params().Id(f.id).Id(f.parent_id).Text(f.name).Id(f.creation_serial).Bytes(FoldedKey(f.name)));
    folders_[f.id] = f;
  });
}

void PostgresTxn::DeleteFolder(ULONG64 id) {
  Guarded([&] {
    Queue("DELETE FROM folders WHERE id = $1::int8", Params().Id(id));
    folders_[id] = std::nullopt;
  });
}

namespace {

// What both application writes below do with an existing row of the same
// identifier: take the new values, a holder column keeping its value where
// its name stays.
#define FEROQ_APPLICATION_UPSERT                                                                   \
  " ON CONFLICT (id) DO UPDATE SET folder = excluded.folder, name_key = excluded.name_key,"       \
  " record = excluded.record, name = excluded.name, display_key = excluded.display_key,"          \
  " browser_holder = CASE WHEN a.name_key = excluded.name_key THEN a.browser_holder"             \
  " ELSE excluded.browser_holder END,"                                                           \
  " display_holder = CASE WHEN a.folder = excluded.folder AND a.display_key = excluded.display_key" \
  " THEN a.display_holder ELSE excluded.display_holder END"

// An application's row from its record; a holder column takes `holder`
// ($7: 0 holds the name, the row's id does not) when its name is new to
// the row, and keeps its value otherwise.
constexpr char kWriteApplication[] =
    "INSERT INTO applications AS a(id, folder, name_key, record, name, display_key, browser_holder,"
    " display_holder) VALUES ($1::int8, $2::int8, $3::bytea, $4::bytea, $5::bytea, $6::bytea, $7::int8, $7::int8)"
    FEROQ_APPLICATION_UPSERT;

// The same write, made only when no folder of the application's folder has
// its display name (folders and applications share their folder's names,
// but only the applications' are in a unique index) unless the row already
// had that name there; it changes no row otherwise.
constexpr char kWriteApplicationHoldingNames[] =
    "INSERT INTO applications AS a(id, folder, name_key, record, name, display_key, browser_holder,"
    " display_holder) SELECT $1::int8, $2::int8, $3::bytea, $4::bytea, $5::bytea, $6::bytea, $7::int8, $7::int8"
    " WHERE NOT EXISTS (SELECT 1 FROM folders WHERE parent = $2::int8 AND name_key = $6::bytea)"
    " OR EXISTS (SELECT 1 FROM applications WHERE id = $1::int8 AND folder = $2::int8 AND display_key = $6::bytea)"
    FEROQ_APPLICATION_UPSERT;

// The same queued on the guess that the names are free: where a folder has
// the name, the row's identifier is null, which the server refuses, so
// that the transaction fails there and its commit cannot commit the rest
// of it.
constexpr char kGuessApplicationHoldingNames[] =
    "INSERT INTO applications AS a(id, folder, name_key, record, name, display_key, browser_holder,"
    " display_holder) SELECT CASE WHEN NOT EXISTS (SELECT 1 FROM folders WHERE parent = $2::int8 AND"
    " name_key = $6::bytea) OR EXISTS (SELECT 1 FROM applications WHERE id = $1::int8 AND folder = $2::int8 AND"
    " display_key = $6::bytea) THEN $1::int8 END, $2::int8, $3::bytea, $4::bytea, $5::bytea, $6::bytea, $7::int8,"
    " $7::int8" FEROQ_APPLICATION_UPSERT;

// The same for an identifier this transaction has just handed out, which
// no row can have yet: a plain insert, without the check for an existing
// row and the machinery of ON CONFLICT.
constexpr char kInsertApplicationHoldingNames[] =
    "INSERT INTO applications(id, folder, name_key, record, name, display_key, browser_holder, display_holder)"
    " SELECT CASE WHEN NOT EXISTS (SELECT 1 FROM folders WHERE parent = $2::int8 AND name_key = $6::bytea)"
    " THEN $1::int8 END, $2::int8, $3::bytea, $4::bytea, $5::bytea, $6::bytea, $7::int8, $7::int8";

Params ApplicationParams(const ApplicationRecord& a, ULONG64 holder) {
  return Params().Id(a.id).Id(a.folder_id).Bytes(FoldedKey(a.data.browser_name))
      .Bytes(sqlite::EncodeAppRecord(a.data)).Text(a.data.friendly_name).Bytes(FoldedKey(a.data.friendly_name))
      .Id(holder);
}

}  // namespace

bool PostgresTxn::WriteApplication(const ApplicationRecord& a, ULONG64 holder) {
  const Params p = ApplicationParams(a, holder);
  // A refused statement would end the whole transaction: it runs inside a
  // savepoint (which only a transaction block has).
  c_.OpenBlock();
  c_.QueueText("SAVEPOINT feroq_put_application");
  try {
    Run(kWriteApplication, p);
  } catch (const PostgresStoreError& e) {
    if (!e.unique_violation() || e.statement() != kWriteApplication) throw;
    c_.QueueText("ROLLBACK TO SAVEPOINT feroq_put_application");
    return false;
  }
  c_.QueueText("RELEASE SAVEPOINT feroq_put_application");
  return true;
}

void PostgresTxn::PutApplication(const ApplicationRecord& a) {
  Guarded([&] {
    app_names_.erase(a.id);
    if (!WriteApplication(a, 0)) {
      // A name another application holds: kept without holding it, then
      // each name taken up where it is free.
      if (!WriteApplication(a, a.id)) {
        throw PostgresStoreError(admin::kFarmFileCorrupt, "", "farm: application name index");
      }
      Queue("UPDATE applications a SET browser_holder = 0 WHERE id = $1::int8 AND NOT EXISTS (SELECT 1 FROM"
            " applications b WHERE b.name_key = a.name_key AND b.browser_holder = 0)",
            Params().Id(a.id));
      Queue("UPDATE applications a SET display_holder = 0 WHERE id = $1::int8 AND NOT EXISTS (SELECT 1 FROM"
            " applications b WHERE b.folder = a.folder AND b.display_key = a.display_key AND b.display_holder = 0)",
            Params().Id(a.id));
    }
    KnowApplication(a);
  });
}

bool PostgresTxn::PutApplicationHoldingNames(const ApplicationRecord& a) {
  return Guarded([&] {
    app_names_.erase(a.id);
    const Params p = ApplicationParams(a, 0);
    if (guess_names_) {
      // Almost every publish and save takes free names: the write goes with
      // the next statement instead of costing a round trip of its own.
      const auto handed_out = std::find(handed_out_.begin(), handed_out_.end(), a.id);
      const bool fresh = handed_out != handed_out_.end();
      if (fresh) handed_out_.erase(handed_out);
      c_.Queue(fresh ? kInsertApplicationHoldingNames : kGuessApplicationHoldingNames, p,
               PgConnection::Expect::kOneRowChanged);
      KnowApplication(a);
      return true;
    }
    c_.OpenBlock();
    c_.QueueText("SAVEPOINT feroq_put_application");
    try {
      if (Run(kWriteApplicationHoldingNames, p).Changed() == 0) {
        c_.QueueText("RELEASE SAVEPOINT feroq_put_application");
        return false;  // a folder has the name
      }
    } catch (const PostgresStoreError& e) {
      if (!e.unique_violation() || e.statement() != kWriteApplicationHoldingNames) throw;
      c_.QueueText("ROLLBACK TO SAVEPOINT feroq_put_application");
      return false;
    }
    c_.QueueText("RELEASE SAVEPOINT feroq_put_application");
    KnowApplication(a);
    return true;
  });
}

void PostgresTxn::DeleteApplication(ULONG64 id) {
  Guarded([&] {
    Queue("DELETE FROM applications WHERE id = $1::int8", Params().Id(id));
    app_names_[id] = std::nullopt;
  });
}

void PostgresTxn::PutServer(const ServerRecord& server) {
  Guarded([&] {
    Queue(
        "INSERT INTO servers(id, name, name_key) VALUES ($1::int8, $2::bytea, $3::bytea)"
        " ON CONFLICT (id) DO UPDATE SET name = excluded.name, name_key = excluded.name_key",
        Params().Id(server.id).Text(server.name).Bytes(FoldedKey(server.name)));
  });
}

void PostgresTxn::TakeWritersTurn() {
  if (took_turn_) return;
  Queue("INSERT INTO serials(kind, last) VALUES (0, 0) ON CONFLICT (kind) DO UPDATE SET last = serials.last",
        Params());
  took_turn_ = true;
}

void PostgresTxn::DeleteServer(ULONG64 id) {
  Guarded([&] {
    TakeWritersTurn();  // no application written meanwhile may name it
    Queue("DELETE FROM servers WHERE id = $1::int8", Params().Id(id));
  });
}

void PostgresTxn::PutAccount(const AccountRecord& a) {
  Guarded([&] {
    const std::string dn_key = FoldedKey(a.dn), type_key = FoldedKey(a.authority_type),
                      instance_key = FoldedKey(a.instance), account_key = FoldedKey(a.account_name);
    // The row with the same DN is replaced; another account with the same
    // (authority, instance, account) loses its place to this one. The
    // caller looked for both keys: a writer adding either meanwhile
    // collides instead of replacing it.
    TakeWritersTurn();
    Queue("DELETE FROM accounts WHERE dn_key = $1::bytea OR (authority_key = $2::bytea AND instance_key = $3::bytea"
          " AND account_key = $4::bytea)",
          Params().Bytes(dn_key).Bytes(type_key).Bytes(instance_key).Bytes(account_key));
    Queue("INSERT INTO accounts(dn_key, authority_key, instance_key, account_key, authority_type, instance,"
          " account_name, kind, dn) VALUES ($1::bytea, $2::bytea, $3::bytea, $4::bytea, $5::bytea, $6::bytea,"
          " $7::bytea, $8::int8, $9::bytea)",
          Params().Bytes(dn_key).Bytes(type_key).Bytes(instance_key).Bytes(account_key).Text(a.authority_type)
              .Text(a.instance).Text(a.account_name).Int(a.kind).Text(a.dn));
  });
}

void PostgresTxn::DeleteAccount(const std::u16string& dn) {
  Guarded([&] { Queue("DELETE FROM accounts WHERE dn_key = $1::bytea", Params().Bytes(FoldedKey(dn))); });
}

// What every statement that logs an event adds: a notification, delivered
// to every listener when the transaction commits and not at all when it
// rolls back (the server sends one for a transaction's many).
#define FEROQ_NOTIFY_WAITERS " RETURNING pg_notify('feroq_farm_events', '')"

ULONG64 PostgresTxn::AppendEvent(USHORT event_id, const std::vector<BYTE>& record,
                                 const std::optional<std::u16string>& object_dn) {
  return Guarded([&] {
    UseKind(0);
    ULONG64 sequence = 0;
    if (remembered_ != nullptr && remembered_->count(0) != 0 && !KnownSerial(0)) kept_remembered_ = true;
    if (std::optional<std::int64_t> last = CountFrom(0)) {
      sequence = static_cast<ULONG64>(*last + 1);
      if (owed_serials_.empty()) {
        // The counter and the row in one statement: when the counter no
        // longer held the value counted from, the row's sequence is null,
        // which the server refuses (failing the transaction before its
        // commit).
        c_.Queue(
            "WITH next AS (UPDATE serials SET last = $2::int8 WHERE kind = 0 AND last = $1::int8 RETURNING last)"
            " INSERT INTO events(sequence, event_id, record, object_dn) SELECT (SELECT last FROM next), $3::int8,"
            " $4::bytea, $5::bytea" FEROQ_NOTIFY_WAITERS,
            Params().Int(*last).Id(sequence).Int(event_id).Bytes(record).OptionalText(object_dn),
            PgConnection::Expect::kCounterHeld);
      } else {
        // The event's counter and the last owed identifier counter are
        // updated by one statement (two rows); the row's sequence is null
        // unless both held the values counted from.
        const OwedSerial other = owed_serials_.back();
        owed_serials_.pop_back();
        FlushSerials();
        c_.Queue(
            "WITH next AS (UPDATE serials SET last = CASE WHEN kind = 0 THEN $2::int8 ELSE $5::int8 END"
            " WHERE kind IN (0, $3::int8) AND last = CASE WHEN kind = 0 THEN $1::int8 ELSE $4::int8 END RETURNING 1)"
            " INSERT INTO events(sequence, event_id, record, object_dn) SELECT CASE WHEN (SELECT count(*) FROM next)"
            " = 2 THEN $2::int8 END, $6::int8, $7::bytea, $8::bytea" FEROQ_NOTIFY_WAITERS,
            Params().Int(*last).Id(sequence).Int(other.kind).Int(other.in_row).Int(serials_.at(other.kind))
                .Int(event_id).Bytes(record).OptionalText(object_dn),
            PgConnection::Expect::kCounterHeld);
      }
    } else {
      // The sequence (kind 0 of the serials: no object kind is 0) and the
      // row in one statement.
      sequence = Run(
                      "WITH next AS (INSERT INTO serials(kind, last) VALUES (0, 1) ON CONFLICT (kind) DO UPDATE"
                      " SET last = serials.last + 1 RETURNING last) INSERT INTO events(sequence, event_id, record,"
                      " object_dn) SELECT last, $1::int8, $2::bytea, $3::bytea FROM next RETURNING sequence,"
                      " pg_notify('feroq_farm_events', '')",
                      Params().Int(event_id).Bytes(record).OptionalText(object_dn))
                     .Id(0, 0);
    }
    serials_[0] = static_cast<std::int64_t>(sequence);
    appended_events_ = true;
    return sequence;
  });
}

LONG PostgresTxn::AllocateEventQueueHandle() {
  return Guarded([&] {
    Result r = Run("UPDATE farm SET last_queue_handle = last_queue_handle + 1 WHERE id = 1 AND last_queue_handle <"
                      " $1::int8 RETURNING last_queue_handle",
                      Params().Int(std::numeric_limits<LONG>::max()));
    if (r.Rows() == 0) throw std::bad_alloc();
    return static_cast<LONG>(r.Int(0, 0));
  });
}

void PostgresTxn::PutEventQueue(const EventQueueRecord& q) {
  Guarded([&] {
    Queue(
        "INSERT INTO event_queues(handle, event_ids, read_position, delivered, owner_host, owner_process,"
        " owner_start, last_wait) VALUES ($1::int8, $2::bytea, $3::int8, $4::int8, $5::bytea, $6::int8, $7::int8,"
        " $8::int8) ON CONFLICT (handle) DO UPDATE SET event_ids = excluded.event_ids,"
        " read_position = excluded.read_position, delivered = excluded.delivered, owner_host = excluded.owner_host,"
        " owner_process = excluded.owner_process, owner_start = excluded.owner_start, last_wait = excluded.last_wait",
        Params().Int(q.handle).Bytes(sqlite::EncodeEventIds(q.event_ids)).Id(q.read_position).Id(q.delivered)
            .Bytes(q.owner_host).Int(q.owner_process).Id(q.owner_start).Id(q.last_wait));
  });
}

void PostgresTxn::DeleteEventQueue(LONG handle) {
  Guarded([&] { Queue("DELETE FROM event_queues WHERE handle = $1::int8", Params().Int(handle)); });
}

void PostgresTxn::DeleteEventsThrough(ULONG64 sequence) {
  Guarded([&] {
    const bool full = !trims_.through || trims_.trims % kFullTrimInterval == 0;
    ++trims_.trims;
    if ((full || *trims_.through < sequence) && !took_farm_row_) {
      // A queue made meanwhile at an entry this trim deletes collides.
      Queue("UPDATE farm SET last_queue_handle = last_queue_handle WHERE id = 1", Params());
      took_farm_row_ = true;
    }
    if (full) {
      Queue("DELETE FROM events WHERE sequence <= $1::int8", Params().Id(sequence));
    } else if (*trims_.through < sequence) {
      Queue("DELETE FROM events WHERE sequence <= $1::int8 AND sequence > $2::int8",
            Params().Id(sequence).Id(*trims_.through));
    } else {
      return;  // nothing at or below `sequence` is left
    }
    trims_.through = sequence;
  });
}

void PostgresTxn::Clear() {
  Guarded([&] {
    TakeWritersTurn();
    for (const char* sql : {"DELETE FROM serials", "DELETE FROM folders", "DELETE FROM applications",
                            "DELETE FROM servers", "DELETE FROM accounts", "DELETE FROM events",
                            "DELETE FROM event_queues", "UPDATE farm SET name = '', last_queue_handle = 0"}) {
      c_.QueueText(sql);
    }
    folders_.clear();
    app_names_.clear();
    trims_.through.reset();
    prefetch_kinds_.clear();
    serials_.clear();
    owed_serials_.clear();
    remembered_ = nullptr;
    remembered_folders_ = nullptr;
    cleared_ = true;
  });
}

}  // namespace feroq::store::postgres
