// Decoded application records kept in memory between the read transactions
// of one SQLite farm store, so that a record read again is not read from
// the file and decoded again.
//
// A record read at one state of the file must never be handed out at
// another. Each read transaction therefore asks its connection, with
// PRAGMA data_version, whether any other connection (the store's writer,
// another store object, another process) has committed since that
// connection's previous transaction; if one has, the cache is emptied and
// starts a new generation. A transaction uses and fills the cache only
// while the generation it began under is the current one: a transaction
// that began before a change that another transaction has since noticed
// neither reads nor adds entries. Write transactions do not use the cache.
//
// Thread-safe.
#ifndef FEROQ_SERVICES_STORE_SQLITE_RECORD_CACHE_H_
#define FEROQ_SERVICES_STORE_SQLITE_RECORD_CACHE_H_

#include <cstdint>
#include <mutex>
#include <optional>
#include <unordered_map>

#include "services/store/farm_store.h"

namespace feroq::store::sqlite {

class RecordCache {
 public:
  // The most records kept; past it the cache is emptied and fills again.
  static constexpr std::size_t kMaxRecords = 16384;

  // Begins a read transaction's use: `file_changed` says whether its
  // connection saw a commit by another connection since its previous
  // transaction (or cannot tell). Returns the generation to pass to Find
  // and Keep.
  std::uint64_t Begin(bool file_changed) {
    std::lock_guard lock(mutex_);
    if (file_changed) {
      records_.clear();
      ++generation_;
    }
    return generation_;
  }

  // A copy of the record of application `id` kept in `generation`, if it is
  // still the current one.
  std::optional<ApplicationRecord> Find(std::uint64_t generation, ULONG64 id) {
    std::lock_guard lock(mutex_);
    if (generation != generation_) return std::nullopt;
    auto found = records_.find(id);
    if (found == records_.end()) return std::nullopt;
    return found->second;
  }

  // Keeps a copy of `record`, read in `generation`, if that is still the
  // current one. Raises std::bad_alloc (the cache is then left as it was
  // or empty).
  void Keep(std::uint64_t generation, const ApplicationRecord& record) {
    std::lock_guard lock(mutex_);
    if (generation != generation_) return;
    if (records_.size() >= kMaxRecords) records_.clear();
    records_.insert_or_assign(record.id, record);
  }

 private:
  std::mutex mutex_;
  std::uint64_t generation_ = 0;
  std::unordered_map<ULONG64, ApplicationRecord> records_;
};

}  // namespace feroq::store::sqlite

#endif  // FEROQ_SERVICES_STORE_SQLITE_RECORD_CACHE_H_
