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

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <unordered_map>

#include "services/store/farm_store.h"

namespace feroq::store::sqlite {

class RecordCache {
 public:
  // The most memory the kept records take (as ApproximateBytes counts it);
  // a record that would pass it empties the cache, which fills again. A
  // walk over every record of a big farm (a listing, an export) thus holds
  // at most this much of it.
  static constexpr std::size_t kMaxBytes = std::size_t{8} << 20;

  // Begins a read transaction's use: `file_changed` says whether its
  // connection saw a commit by another connection since its previous
  // transaction (or cannot tell). Returns the generation to pass to Find
  // and Keep.
  std::uint64_t Begin(bool file_changed) {
    std::lock_guard lock(mutex_);
    if (file_changed) {
      records_.clear();
      bytes_ = 0;
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
    const std::size_t bytes = ApproximateBytes(record);
    if (bytes > kMaxBytes) return;
    if (bytes_ + bytes > kMaxBytes) {
      records_.clear();
      bytes_ = 0;
    }
    auto [kept, added] = records_.insert_or_assign(record.id, record);
    (void)kept;
    if (added) bytes_ += bytes;
  }

 private:
  // The memory a kept record takes: its texts, lists and the map's entry.
  static std::size_t ApproximateBytes(const ApplicationRecord& record) {
    const AppRecordData& d = record.data;
    constexpr std::size_t kEntry = sizeof(ApplicationRecord) + 4 * sizeof(void*);
    std::size_t bytes = kEntry + d.icon.size();
    for (const std::u16string* text : {&d.browser_name, &d.friendly_name, &d.initial_program,
                                       &d.work_directory, &d.description, &d.folder_text}) {
      bytes += text->size() * sizeof(char16_t);
    }
    for (const std::u16string& user : d.users) bytes += sizeof(user) + user.size() * sizeof(char16_t);
    for (const AppServerData& server : d.servers) {
      bytes += sizeof(server) + (server.initial_program.size() + server.work_directory.size()) * sizeof(char16_t);
    }
    return bytes;
  }

  std::mutex mutex_;
  std::uint64_t generation_ = 0;
  std::size_t bytes_ = 0;
  std::unordered_map<ULONG64, ApplicationRecord> records_;
};

}  // namespace feroq::store::sqlite

#endif  // FEROQ_SERVICES_STORE_SQLITE_RECORD_CACHE_H_
