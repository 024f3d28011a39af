// PostgresTxn's counters: the prefetched and remembered serials it counts
// from, the identifiers it hands out, and the conditional updates of the
// counter rows it owes for them (AppendEvent, which counts the event
// sequence the same way, is with the writes).
#include "services/store/postgres_txn.h"

#include <algorithm>
#include <limits>
#include <new>

#include "services/store/postgres_txn_guarded.h"

namespace feroq::store::postgres {

void PostgresTxn::PrefetchSerials(const std::vector<ULONG>& kinds) {
  if (kinds.empty()) return;
  Guarded([&] {
    Params p;
    for (std::size_t i = 0; i < kPrefetchedKinds; ++i) p.Int(kinds[i < kinds.size() ? i : 0]);
    c_.QueueInto("SELECT kind, last FROM serials WHERE kind IN ($1::int8, $2::int8, $3::int8, $4::int8)", p,
                 &prefetched_);
    prefetch_kinds_.assign(kinds.begin(), kinds.begin() + std::min(kinds.size(), kPrefetchedKinds));
  });
}

std::optional<std::int64_t> PostgresTxn::KnownSerial(ULONG kind) const {
  if (auto known = serials_.find(kind); known != serials_.end()) return known->second;
  if (std::find(prefetch_kinds_.begin(), prefetch_kinds_.end(), kind) == prefetch_kinds_.end()) return std::nullopt;
  if (c_.Awaits(&prefetched_)) c_.Sync();
  prefetch_kinds_.clear();
  // What this transaction changed since is already known, and newer.
  for (int i = 0; i < prefetched_.Rows(); ++i) {
    serials_.emplace(static_cast<ULONG>(prefetched_.Int(i, 0)), prefetched_.Int(i, 1));
  }
  if (auto known = serials_.find(kind); known != serials_.end()) return known->second;
  return std::nullopt;
}

std::optional<std::int64_t> PostgresTxn::CountFrom(ULONG kind) const {
  if (std::optional<std::int64_t> known = KnownSerial(kind)) return known;
  if (remembered_ != nullptr) {
    if (auto remembered = remembered_->find(kind); remembered != remembered_->end()) return remembered->second;
  }
  return std::nullopt;
}

void PostgresTxn::UseKind(ULONG kind) {
  if (std::find(used_kinds_.begin(), used_kinds_.end(), kind) == used_kinds_.end()) used_kinds_.push_back(kind);
}

ULONG64 PostgresTxn::AllocateId(ULONG kind) {
  return Guarded([&] {
    UseKind(kind);
    // The last serial is never handed out, so that a counter never wraps.
    constexpr std::int64_t kLast = std::numeric_limits<ULONG>::max();
    if (std::optional<std::int64_t> last = CountFrom(kind)) {
      if (*last + 1 >= kLast) throw std::bad_alloc();  // the counter has run out
      // The row is updated with the next event or before the commit.
      const auto owed = std::find_if(owed_serials_.begin(), owed_serials_.end(),
                                     [&](const OwedSerial& o) { return o.kind == kind; });
      if (owed == owed_serials_.end()) owed_serials_.push_back(OwedSerial{kind, *last});
      serials_[kind] = *last + 1;
      return HandOut(MakeObjectId(kind, static_cast<ULONG>(*last + 1)));
    }
    // The row's lock, held to commit, makes concurrent writers take turns.
    Result r = Run(
        "INSERT INTO serials(kind, last) VALUES ($1::int8, 1) ON CONFLICT (kind) DO UPDATE SET last = serials.last + 1"
        " WHERE serials.last + 1 < $2::int8 RETURNING last",
        Params().Int(kind).Int(kLast));
    if (r.Rows() == 0) throw std::bad_alloc();  // the counter has run out
    serials_[kind] = r.Int(0, 0);
    return HandOut(MakeObjectId(kind, static_cast<ULONG>(r.Int(0, 0))));
  });
}

void PostgresTxn::QueueSerialUpdate(const OwedSerial& owed) {
  // A counter that no longer holds the value counted from becomes null,
  // which the server refuses (failing the transaction before its commit).
  c_.Queue("INSERT INTO serials(kind, last) VALUES ($1::int8, $3::int8) ON CONFLICT (kind) DO UPDATE"
           " SET last = CASE WHEN serials.last = $2::int8 THEN excluded.last END",
           Params().Int(owed.kind).Int(owed.in_row).Int(serials_.at(owed.kind)),
           PgConnection::Expect::kCounterHeld);
}

void PostgresTxn::CheckRemembered() {
  if (!answered_remembered_ || appended_events_ || remembered_ == nullptr) return;
  Guarded([&] {
    // Divides by zero, failing on the server, when the counter has moved.
    c_.Queue("WITH held AS (UPDATE serials SET last = last WHERE kind = 0 AND last = $1::int8 RETURNING 1)"
             " SELECT 1 / (SELECT count(*)::int4 FROM held)",
             Params().Int(remembered_->at(0)), PgConnection::Expect::kCounterHeld);
    answered_remembered_ = false;
    kept_remembered_ = true;
  });
}

void PostgresTxn::FlushSerials() {
  Guarded([&] {
    for (const OwedSerial& owed : owed_serials_) QueueSerialUpdate(owed);
    owed_serials_.clear();
  });
}

void PostgresTxn::AdvanceSerial(ULONG kind, ULONG serial) {
  Guarded([&] {
    FlushSerials();
    if (std::optional<std::int64_t> last = KnownSerial(kind)) {
      serials_[kind] = std::max<std::int64_t>(*last, serial);
    }
    Queue("INSERT INTO serials(kind, last) VALUES ($1::int8, $2::int8)"
          " ON CONFLICT (kind) DO UPDATE SET last = greatest(serials.last, excluded.last)",
          Params().Int(kind).Int(serial));
  });
}

}  // namespace feroq::store::postgres
