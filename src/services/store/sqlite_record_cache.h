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
#include <memory>
#include <mutex>
#include <optional>
#include <unordered_map>
#include <utility>

#include "services/store/farm_store.h"

namespace feroq::store::sqlite {

class RecordCache {
 public:
  // The most memory the kept records take (as ApproximateBytes counts it).
  // The records are kept in two halves: new records go to the young half,
  // and when it is full the old half is dropped and the young one becomes
  // the old one. A record found in the old half moves back to the young
  // one, so the records in use survive a walk over many others (a listing,
  // an export), which gives way half the cache at a time, never all of it.
  static constexpr std::size_t kMaxBytes = std::size_t{8} << 20;

  // Begins a read transaction's use: `file_changed` says whether its
  // connection saw a commit by another connection since its previous
  // transaction (or cannot tell). Returns the generation to pass to Find
  // and Keep.
  std::uint64_t Begin(bool file_changed) {
    std::lock_guard lock(mutex_);
    if (file_changed) {
      young_ = Half{};
      old_ = Half{};
      ++generation_;
    }
    return generation_;
  }

  // The record of application `id` kept in `generation`, if it is still the
  // current one (null otherwise). Kept records are never changed, so the
  // caller may read it after the cache has dropped it.
  std::shared_ptr<const ApplicationRecord> Find(std::uint64_t generation, ULONG64 id) {
    std::lock_guard lock(mutex_);
    if (generation != generation_) return nullptr;
    if (auto found = young_.records.find(id); found != young_.records.end()) return found->second;
    auto found = old_.records.find(id);
    if (found == old_.records.end()) return nullptr;
    std::shared_ptr<const ApplicationRecord> kept = found->second;
    // In use again: into the young half, unless that would drop the half
    // it comes from.
    const std::size_t bytes = ApproximateBytes(*kept);
    if (young_.bytes + bytes <= kMaxBytes / 2) {
      auto node = old_.records.extract(found);
      old_.bytes -= bytes;
      young_.records.insert(std::move(node));
      young_.bytes += bytes;
    }
    return kept;
  }

  // Keeps `record`, read in `generation`, if that is still the current one.
  // Raises std::bad_alloc (the cache is then left without the record).
  void Keep(std::uint64_t generation, std::shared_ptr<const ApplicationRecord> record) {
    std::lock_guard lock(mutex_);
    if (generation != generation_) return;
    const std::size_t bytes = ApproximateBytes(*record);
    if (bytes > kMaxBytes / 2) return;
    const ULONG64 id = record->id;
    if (young_.records.count(id) != 0) return;  // found by another transaction meanwhile
    if (auto stale = old_.records.find(id); stale != old_.records.end()) {
      old_.bytes -= ApproximateBytes(*stale->second);
      old_.records.erase(stale);
    }
    if (young_.bytes + bytes > kMaxBytes / 2) {
      old_ = std::move(young_);
      young_ = Half{};
    }
    young_.records.emplace(id, std::move(record));
    young_.bytes += bytes;
  }

 private:
  // The memory a kept record takes: its texts, lists and the map's entry.
  static std::size_t ApproximateBytes(const ApplicationRecord& record) {
    const AppRecordData& d = record.data;
    constexpr std::size_t kEntry = sizeof(ApplicationRecord) + 8 * sizeof(void*);
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

  struct Half {
    std::unordered_map<ULONG64, std::shared_ptr<const ApplicationRecord>> records;
    std::size_t bytes = 0;
  };

  std::mutex mutex_;
  std::uint64_t generation_ = 0;
  Half young_;
  Half old_;
};

}  // namespace feroq::store::sqlite

#endif  // FEROQ_SERVICES_STORE_SQLITE_RECORD_CACHE_H_
