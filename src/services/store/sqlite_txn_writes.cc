// SqliteTxn's writes: the farm-store changes as prepared statements over
// the schema of sqlite_schema.cc, the counters they hand out serials from,
// and what the transaction's memo learns from them.
#include "services/store/sqlite_txn.h"

#include <algorithm>
#include <limits>
#include <new>

#include "services/store/sqlite_record_format.h"
#include "services/store/sqlite_txn_guarded.h"

namespace feroq::store::sqlite {

void SqliteTxn::SetFarmName(const std::u16string& name) {
  Guarded([&] { Statement(c_, Sql::kSetFarmName).Bind(name).Run(); });
}

std::int64_t SqliteTxn::NextSerial(std::int64_t kind, std::int64_t limit) {
  bool bumped = false;
  {
    Statement bump(c_, Sql::kBumpSerial);
    bump.Bind(kind).Bind(limit).Run();
    bumped = bump.Changes() == 1;
  }
  std::optional<std::int64_t> serial;
  {
    Statement s(c_, Sql::kSerial);
    s.Bind(kind);
    if (s.Step()) serial = s.Int(0);
  }
  if (!bumped) {
    if (serial) throw std::bad_alloc();  // the counter has run out
    Statement(c_, Sql::kFirstSerial).Bind(kind).Run();
    serial = 1;
  }
  return *serial;
}

ULONG64 SqliteTxn::AllocateId(ULONG kind) {
  return Guarded([&] {
    // As in every backend: the last serial is never handed out, so that a
    // counter never wraps.
    constexpr std::int64_t kLimit = std::numeric_limits<ULONG>::max();
    if (kind != kObjectKindApplication) return MakeObjectId(kind, static_cast<ULONG>(NextSerial(kind, kLimit)));
    // Applications count on from the highest identifier in the table (or
    // one handed out before and gone since, kept in the serials table), so
    // that a publish writes no counter page.
    std::int64_t last = static_cast<std::int64_t>(highest_application_ & 0xFFFFFFFFu);
    if (memo_.last_app_serial) {
      last = std::max(last, *memo_.last_app_serial);
    } else {
      {
        Statement s(c_, Sql::kSerial);
        s.Bind(kind);
        if (s.Step()) last = std::max(last, s.Int(0));
      }
      Statement s(c_, Sql::kHighestApplicationId);
      s.BindId(MakeObjectId(kind, 0)).BindId(MakeObjectId(kind, 0xFFFFFFFFu));
      if (s.Step()) last = std::max(last, s.Int(0) & 0xFFFFFFFF);
    }
    if (last + 1 >= kLimit) throw std::bad_alloc();  // the counter has run out
    memo_.last_app_serial = last + 1;
    highest_application_ = MakeObjectId(kind, static_cast<ULONG>(last + 1));
    highest_application_written_ = false;
    unwritten_id_ = highest_application_;
    return highest_application_;
  });
}

void SqliteTxn::AdvanceSerial(ULONG kind, ULONG serial) {
  Guarded([&] { KeepSerial(kind, serial); });
}

void SqliteTxn::KeepSerial(ULONG kind, ULONG serial) {
  Statement(c_, Sql::kKeepSerial).Bind(static_cast<std::int64_t>(kind)).Bind(static_cast<std::int64_t>(serial)).Run();
  // The counters the memo knows count on from the kept serial too.
  if (kind == 0 && memo_.last_event) memo_.last_event = std::max<ULONG64>(*memo_.last_event, serial);
  if (kind == kObjectKindApplication && memo_.last_app_serial) {
    memo_.last_app_serial = std::max<std::int64_t>(*memo_.last_app_serial, serial);
  }
}

void SqliteTxn::BeforeCommit() {
  Guarded([&] {
    // An application identifier handed out without a row keeps its serial
    // from being handed out again.
    if (highest_application_ != 0 && !highest_application_written_) {
      KeepSerial(kObjectKindApplication, static_cast<ULONG>(highest_application_ & 0xFFFFFFFFu));
    }
  });
}

void SqliteTxn::PutFolder(const FolderRecord& f) {
  Guarded([&] {
    ForgetFolder(f.id);
    Statement(c_, Sql::kPutFolder).BindId(f.id).BindId(f.parent_id).Bind(f.name)
        .BindId(f.creation_serial).BindBlob(FoldedKey(f.name)).Run();
  });
}

void SqliteTxn::DeleteFolder(ULONG64 id) {
  Guarded([&] {
    ForgetFolder(id);
    Statement(c_, Sql::kDeleteFolder).BindId(id).Run();
  });
}

void SqliteTxn::ForgetFolder(ULONG64 id) {
  memo_.folders.erase(id);
  memo_.root_ids.reset();
}

void SqliteTxn::KnowName(const ApplicationName& name) const {
  if (memo_.app_names.size() >= TxnMemo::kMaxEntries) memo_.app_names.clear();
  memo_.app_names.insert_or_assign(name.id, name);
}

void SqliteTxn::Written(const ApplicationRecord& a) {
  if (unwritten_id_ == a.id) unwritten_id_ = 0;
  if (highest_application_ == a.id) highest_application_written_ = true;
  // A row written under an identifier no counter has handed out (a copied
  // farm's) raises the highest application serial like any other row.
  if (ObjectKindOf(a.id) == kObjectKindApplication && memo_.last_app_serial) {
    memo_.last_app_serial = std::max<std::int64_t>(*memo_.last_app_serial, a.id & 0xFFFFFFFFu);
  }
  KnowName(ApplicationName{a.id, a.folder_id, a.data.friendly_name});
}

SqliteTxn::EncodedApplication::EncodedApplication(const ApplicationRecord& a, std::string& record_bytes)
    : browser_key(FoldedKey(a.data.browser_name)), display_key(FoldedKey(a.data.friendly_name)), record(record_bytes) {
  EncodeAppRecord(a.data, record_bytes);
}

bool SqliteTxn::UpdateRecordInPlace(const ApplicationRecord& a, const EncodedApplication& encoded) {
  // An identifier this transaction has just handed out has no row yet.
  if (a.id == unwritten_id_) return false;
  // A row known to keep its folder and display name (a save that changes
  // neither, after the services read them) has only its record written.
  if (auto known = memo_.app_names.find(a.id);
      known != memo_.app_names.end() && known->second.folder_id == a.folder_id &&
      known->second.name == a.data.friendly_name) {
    return UpdateRecordOnly(a.id, encoded.record, encoded.browser_key);
  }
  Statement s(c_, Sql::kUpdateApplicationRecord);
  s.BindId(a.id).BindBlobInPlace(encoded.record).BindInPlace(a.data.friendly_name).BindId(a.folder_id)
      .BindBlobInPlace(encoded.browser_key).BindBlobInPlace(encoded.display_key).Run();
  return s.Changes() == 1;
}

bool SqliteTxn::UpdateRecordOnly(ULONG64 id, const std::string& record, const std::string& browser_key) {
  Statement s(c_, Sql::kUpdateRecordOnly);
  s.BindId(id).BindBlobInPlace(record).BindBlobInPlace(browser_key).Run();
  return s.Changes() == 1;
}

bool SqliteTxn::WriteApplication(const ApplicationRecord& a, const EncodedApplication& encoded, ULONG64 holder) {
  return Statement(c_, Sql::kPutApplication).BindId(a.id).BindId(a.folder_id).BindBlobInPlace(encoded.browser_key)
      .BindBlobInPlace(encoded.record).BindInPlace(a.data.friendly_name).BindBlobInPlace(encoded.display_key)
      .BindId(holder).BindId(holder).RunUnlessNotUnique();
}

void SqliteTxn::PutApplication(const ApplicationRecord& a) {
  Guarded([&] {
    const EncodedApplication encoded(a, memo_.record_bytes);
    if (UpdateRecordInPlace(a, encoded)) return Written(a);
    memo_.app_names.erase(a.id);
    if (WriteApplication(a, encoded, 0)) return Written(a);
    // A name another application holds: kept without holding it, then each
    // name taken up where it is free.
    if (!WriteApplication(a, encoded, a.id)) {
      throw SqliteStoreError(SqliteStatusCode(SQLITE_CORRUPT), "farm file: application name index");
    }
    Statement(c_, Sql::kHoldBrowserName).BindId(a.id).Run();
    Statement(c_, Sql::kHoldDisplayName).BindId(a.id).Run();
    Written(a);
  });
}

bool SqliteTxn::PutApplicationHoldingNames(const ApplicationRecord& a) {
  return Guarded([&] {
    const EncodedApplication encoded(a, memo_.record_bytes);
    if (UpdateRecordInPlace(a, encoded)) {
      Written(a);
      return true;
    }
    memo_.app_names.erase(a.id);
    // Folders and applications share their folder's names, but only the
    // applications' are in a unique index.
    {
      Statement s(c_, Sql::kFolderNameTaken);
      s.BindId(a.folder_id).BindBlobInPlace(encoded.display_key).BindId(a.id);
      if (s.Step()) return false;
    }
    if (!WriteApplication(a, encoded, 0)) return false;
    Written(a);
    return true;
  });
}

bool SqliteTxn::PutApplicationKeepingNames(const ApplicationRecord& a) {
  return Guarded([&] {
    if (a.id == unwritten_id_) return false;
    const auto known = memo_.app_names.find(a.id);
    // What the writer knows of the row decides without a statement.
    if (known != memo_.app_names.end() &&
        (known->second.folder_id != a.folder_id || known->second.name != a.data.friendly_name)) {
      return false;
    }
    // The display name's key is not written: the row keeps it.
    const std::string browser_key = FoldedKey(a.data.browser_name);
    EncodeAppRecord(a.data, memo_.record_bytes);
    const std::string& record = memo_.record_bytes;
    if (known != memo_.app_names.end()) {
      if (!UpdateRecordOnly(a.id, record, browser_key)) return false;
    } else {
      // The row is compared with the guess by the statement that writes it.
      Statement s(c_, Sql::kUpdateRecordKeepingNames);
      s.BindId(a.id).BindBlobInPlace(record).BindBlobInPlace(browser_key).BindId(a.folder_id)
          .BindInPlace(a.data.friendly_name).Run();
      if (s.Changes() != 1) return false;
    }
    Written(a);
    return true;
  });
}

void SqliteTxn::DeleteApplication(ULONG64 id) {
  Guarded([&] {
    memo_.app_names.erase(id);
    // The serial of an application that goes is not handed out again.
    if (ObjectKindOf(id) == kObjectKindApplication) KeepSerial(kObjectKindApplication, static_cast<ULONG>(id));
    Statement(c_, Sql::kDeleteApplication).BindId(id).Run();
  });
}

void SqliteTxn::PutServer(const ServerRecord& server) {
  Guarded([&] {
    Statement(c_, Sql::kPutServer).BindId(server.id).Bind(server.name)
        .BindBlob(FoldedKey(server.name)).Run();
  });
}

void SqliteTxn::DeleteServer(ULONG64 id) {
  Guarded([&] { Statement(c_, Sql::kDeleteServer).BindId(id).Run(); });
}

void SqliteTxn::PutAccount(const AccountRecord& a) {
  Guarded([&] {
    const std::string dn_key = FoldedKey(a.dn);
    const std::string type_key = FoldedKey(a.authority_type);
    const std::string instance_key = FoldedKey(a.instance);
    const std::string account_key = FoldedKey(a.account_name);
    // The row with the same DN is replaced; another account with the same
    // (authority, instance, account) loses its place to this one.
    Statement(c_, Sql::kDeleteAccountByDn).BindBlob(dn_key).Run();
    Statement(c_, Sql::kDeleteAccountByKey).BindBlob(type_key).BindBlob(instance_key)
        .BindBlob(account_key).Run();
    Statement(c_, Sql::kPutAccount).BindBlob(dn_key).BindBlob(type_key).BindBlob(instance_key)
        .BindBlob(account_key).Bind(a.authority_type).Bind(a.instance).Bind(a.account_name)
        .Bind(a.kind).Bind(a.dn).Run();
  });
}

void SqliteTxn::DeleteAccount(const std::u16string& dn) {
  Guarded([&] { Statement(c_, Sql::kDeleteAccountByDn).BindBlob(FoldedKey(dn)).Run(); });
}

ULONG64 SqliteTxn::AppendEvent(USHORT event_id, const std::vector<BYTE>& record,
                               const std::optional<std::u16string>& object_dn) {
  return Guarded([&] {
    // The log's own newest sequence counts on: an append writes only the
    // event's page.
    const ULONG64 last = LastEventSequence();
    if (last >= static_cast<ULONG64>(std::numeric_limits<std::int64_t>::max())) throw std::bad_alloc();
    const ULONG64 sequence = last + 1;
    Statement(c_, Sql::kAppendEvent).BindId(sequence).Bind(event_id).BindBlobInPlace(record).BindInPlace(object_dn)
        .Run();
    memo_.last_event = sequence;
    appended_events_ = true;
    return sequence;
  });
}

LONG SqliteTxn::AllocateEventQueueHandle() {
  return Guarded([&] {
    std::int64_t last = 0;
    {
      Statement s(c_, Sql::kLastQueueHandle);
      if (s.Step()) last = s.Int(0);
    }
    if (last >= std::numeric_limits<LONG>::max()) throw std::bad_alloc();
    Statement(c_, Sql::kSetLastQueueHandle).Bind(last + 1).Run();
    return static_cast<LONG>(last + 1);
  });
}

void SqliteTxn::PutEventQueue(const EventQueueRecord& q) {
  Guarded([&] {
    Statement(c_, Sql::kPutQueue).Bind(q.handle).BindBlob(EncodeEventIds(q.event_ids))
        .BindId(q.read_position).BindId(q.delivered).BindBlob(q.owner_host)
        .Bind(static_cast<std::int64_t>(q.owner_process)).BindId(q.owner_start).BindId(q.last_wait).Run();
  });
}

void SqliteTxn::DeleteEventQueue(LONG handle) {
  Guarded([&] { Statement(c_, Sql::kDeleteQueue).Bind(handle).Run(); });
}

void SqliteTxn::DeleteEventsThrough(ULONG64 sequence) {
  Guarded([&] {
    // Once the log is past its bound every append trims, mostly what an
    // earlier trim took already.
    if (sequence <= memo_.trimmed_through) return;
    Statement(c_, Sql::kKeepLastEvent).BindId(sequence).Run();
    // A trim that takes the newest entry takes them all (a log nobody reads
    // behind, the usual case).
    const ULONG64 newest = LastEventSequence();
    if (sequence >= newest) {
      Statement(c_, Sql::kDeleteAllEvents).Run();
    } else {
      Statement(c_, Sql::kDeleteEventsThrough).BindId(sequence).Run();
    }
    memo_.trimmed_through = std::min(sequence, newest);
  });
}

void SqliteTxn::Clear() {
  Guarded([&] {
    memo_.Clear();
    unwritten_id_ = 0;
    highest_application_ = 0;
    c_.Exec(
        "DELETE FROM serials; DELETE FROM folders; DELETE FROM applications;"
        "DELETE FROM servers; DELETE FROM accounts; DELETE FROM events;"
        "DELETE FROM event_queues; UPDATE farm SET name = '', last_queue_handle = 0;");
  });
}

}  // namespace feroq::store::sqlite
