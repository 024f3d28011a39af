// The object ID map: the registry of live application and folder objects of
// one farm object, keyed by identifier. It does not own the objects.
#ifndef FEROQ_FARM_OBJECT_ID_MAP_H_
#define FEROQ_FARM_OBJECT_ID_MAP_H_

#include <bit>
#include <cstddef>
#include <new>

#include "feroq/common_object.h"
#include "platform/platform.h"

namespace feroq {

// The registry's table: identifier and object side by side in one array,
// found by open addressing (linear probing), at most half full. Hashed
// rather than ordered: nothing walks the registry in order, and a listing
// of a big farm registers one object per application, so what an entry
// costs is what a listing pays for each application. Here an entry is 16
// bytes in the array (no block of its own to make, release and fetch), and
// the identifiers a listing registers in their order, which run one after
// another, lie four to a slot group: a group is placed by a hash of the
// identifier without its two lowest bits, and the slot in it by those bits,
// so that neighbours share a cache line while the groups spread over the
// table (runs of identifiers, of applications and folders alike, never
// pile up into one long cluster).
//
// The array comes from the platform heap, so that a failing heap reaches
// an insertion that must grow the table as std::bad_alloc (the table is
// then unchanged). An erasure moves later entries back into the place it
// leaves (no tombstones), so positions are valid only until the next
// insertion or erasure.
class ObjectTable {
 public:
  struct Entry {
    ULONG64 first;         // the identifier
    CommonObject* second;  // null: a free slot
  };
  using value_type = Entry;

  class iterator {
   public:
    iterator(Entry* at, Entry* end) : at_(at), end_(end) { Skip(); }
    Entry& operator*() const { return *at_; }
    Entry* operator->() const { return at_; }
    iterator& operator++() {
      ++at_;
      Skip();
      return *this;
    }
    bool operator==(const iterator& other) const { return at_ == other.at_; }

   private:
    friend class ObjectTable;
    void Skip() {
      while (at_ != end_ && at_->second == nullptr) ++at_;
    }
    Entry* at_;
    Entry* end_;
  };

  ObjectTable() = default;
  ObjectTable(const ObjectTable&) = delete;
  ObjectTable& operator=(const ObjectTable&) = delete;
  ~ObjectTable() { platform::HeapFree(slots_); }

  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  iterator begin() { return {slots_, slots_ + capacity_}; }
  iterator end() { return {slots_ + capacity_, slots_ + capacity_}; }

  iterator find(ULONG64 id) {
    if (size_ == 0) return end();
    for (std::size_t at = Home(id);; at = (at + 1) & (capacity_ - 1)) {
      Entry& entry = slots_[at];
      if (entry.second == nullptr) return end();
      if (entry.first == id) return {&entry, slots_ + capacity_};
    }
  }
  // Sets `id`'s object, adding the entry when there is none.
  void insert_or_assign(ULONG64 id, CommonObject* object) { Insert(id, object).second = object; }
  // Adds the entry unless `id` has one already.
  void emplace(ULONG64 id, CommonObject* object) { Insert(id, object); }
  void erase(ULONG64 id) {
    iterator found = find(id);
    if (found != end()) erase(found);
  }
  void erase(iterator position);
  // Room for `count` entries without growing; std::bad_alloc when the heap
  // has none (the table is then unchanged).
  void reserve(std::size_t count);
  // Empties the table and gives its array back.
  void clear();

 private:
  static constexpr std::size_t kGroup = 4;
  static constexpr std::size_t kSmallest = 16;

  std::size_t Home(ULONG64 id) const {
    const ULONG64 mixed = (id / kGroup) * 0x9E3779B97F4A7C15ull;
    return static_cast<std::size_t>(mixed >> group_shift_) * kGroup + static_cast<std::size_t>(id % kGroup);
  }
  // `id`'s entry, added with `object` when there is none (which may grow
  // the table, and raise std::bad_alloc).
  Entry& Insert(ULONG64 id, CommonObject* object);
  void Rehash(std::size_t capacity);

  Entry* slots_ = nullptr;
  std::size_t capacity_ = 0;  // a power of two, 0 or at least kSmallest
  std::size_t size_ = 0;
  int group_shift_ = 64;      // 64 - log2(capacity_ / kGroup)
};

// The registry of one farm object.
struct ObjectIdMap {
  ObjectTable entries;
  // The farm's root folder identifier once it has been read (0 before): the
  // root folder of a farm never changes, so a publish into the root folder
  // does not read it again each time the root folder object is made anew.
  ULONG64 root_folder_id = 0;

  // Removes `id`'s entry. The registry keeps no table storage once its last
  // entry has gone, so a farm object that holds no objects holds no
  // registry memory either.
  template <typename KeyOrPosition>
  void Erase(const KeyOrPosition& at) {
    entries.erase(at);
    if (entries.empty()) entries.clear();
  }

  static void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return platform::HeapAllocZero(size);
  }
  static void operator delete(void* block) noexcept { platform::HeapFree(block); }
};

inline ObjectTable::Entry& ObjectTable::Insert(ULONG64 id, CommonObject* object) {
  if (iterator found = find(id); found != end()) return *found;
  if ((size_ + 1) * 2 > capacity_) Rehash(capacity_ == 0 ? kSmallest : capacity_ * 2);
  std::size_t at = Home(id);
  while (slots_[at].second != nullptr) at = (at + 1) & (capacity_ - 1);
  slots_[at] = Entry{id, object};
  ++size_;
  return slots_[at];
}

// Each entry after the freed slot, up to the next free one, moves back into
// the hole when that is no earlier than its home slot, so that every entry
// stays reachable from its home without a mark in the freed slot.
inline void ObjectTable::erase(iterator position) {
  const std::size_t mask = capacity_ - 1;
  std::size_t hole = static_cast<std::size_t>(position.at_ - slots_);
  slots_[hole].second = nullptr;
  --size_;
  for (std::size_t next = (hole + 1) & mask; slots_[next].second != nullptr; next = (next + 1) & mask) {
    const std::size_t home = Home(slots_[next].first);
    if (((next - home) & mask) >= ((next - hole) & mask)) {
      slots_[hole] = slots_[next];
      slots_[next].second = nullptr;
      hole = next;
    }
  }
}

inline void ObjectTable::reserve(std::size_t count) {
  std::size_t capacity = kSmallest;
  while (capacity < count * 2) capacity *= 2;
  if (capacity > capacity_) Rehash(capacity);
}

inline void ObjectTable::clear() {
  platform::HeapFree(slots_);
  slots_ = nullptr;
  capacity_ = 0;
  size_ = 0;
  group_shift_ = 64;
}

inline void ObjectTable::Rehash(std::size_t capacity) {
  auto* slots = static_cast<Entry*>(platform::HeapAllocZero(capacity * sizeof(Entry)));
  if (slots == nullptr) throw std::bad_alloc();
  Entry* const old = slots_;
  const std::size_t old_capacity = capacity_;
  slots_ = slots;
  capacity_ = capacity;
  group_shift_ = 64 - std::countr_zero(capacity / kGroup);
  for (std::size_t i = 0; i < old_capacity; ++i) {
    if (old[i].second == nullptr) continue;
    std::size_t at = Home(old[i].first);
    while (slots_[at].second != nullptr) at = (at + 1) & (capacity_ - 1);
    slots_[at] = old[i];
  }
  platform::HeapFree(old);
}

// Removes the registry entry of `id` when it refers to `object`. An
// unregistered or detached object that shares its identifier with a
// registered one (as after a rename event, which hands out both) must not
// take the registered object's entry with it when it is released.
void UnregisterIfCurrent(void* id_map, ULONG64 id, const CommonObject* object);

}  // namespace feroq

#endif  // FEROQ_FARM_OBJECT_ID_MAP_H_
