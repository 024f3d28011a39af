// VORN_TABLE_HashTable: separate chaining over a power-of-two bucket array.
//
// Every entry is one platform heap block holding the link, the key's hash,
// the value and the key's own copy of the text, so a key costs one
// allocation. The bucket array doubles when the entries outnumber the
// buckets; if that growth cannot be allocated the table keeps its current
// buckets (longer chains, same results). Lookups by key cost O(1) on
// average; FindItem by value walks every entry.
//
// Results: 0 on success, VORN_E_FAILURE (0x80000001) for an absent or null
// key, VORN_E_OUTOFMEMORY (0x80000002) when the heap refuses; these
// operations report memory failures as results rather than raising, and a
// failed operation leaves the table unchanged. The table state itself is
// allocated on the first AddItem, so constructing a table never fails.
#include <cstring>
#include <new>

#include "feroq/services/vorn_system.h"
#include "platform/platform.h"

namespace {

struct Entry {
  Entry* next;
  void* value;
  ULONG hash;
  ULONG key_units;  // without the NUL
  char16_t* Key() { return reinterpret_cast<char16_t*>(this + 1); }
};
static_assert(alignof(Entry) >= alignof(char16_t));

constexpr ULONG kFirstBucketCount = 16;

std::size_t UnitLength(const char16_t* text) {
  std::size_t length = 0;
  while (text[length] != u'\0') ++length;
  return length;
}

// FNV-1a over the UTF-16 units.
ULONG HashKey(const char16_t* key, std::size_t units) {
  std::uint32_t hash = 2166136261u;
  for (std::size_t i = 0; i < units; ++i) {
    hash ^= static_cast<std::uint32_t>(key[i]);
    hash *= 16777619u;
  }
  return hash;
}

// `buckets` has `bucket_count` slots (a power of two); `count` entries in all.
struct TableState {
  Entry** buckets;
  ULONG bucket_count;
  ULONG count;
};

// The slot that holds the link to the entry for `key`: the link is null when
// the key is absent (and the slot is then where a new entry may be linked).
Entry** FindLink(TableState* impl, const char16_t* key, std::size_t units, ULONG hash) {
  Entry** link = &impl->buckets[hash & (impl->bucket_count - 1)];
  while (*link != nullptr) {
    Entry* entry = *link;
    if (entry->hash == hash && entry->key_units == units &&
        std::memcmp(entry->Key(), key, units * sizeof(char16_t)) == 0) {
      break;
    }
    link = &entry->next;
  }
  return link;
}

Entry* FindEntry(TableState* impl, const char16_t* key) {
  if (impl == nullptr || key == nullptr) return nullptr;
  const std::size_t units = UnitLength(key);
  return *FindLink(impl, key, units, HashKey(key, units));
}

// Doubles the buckets; on allocation failure keeps the current ones.
void GrowBuckets(TableState* impl) {
  const ULONG grown = impl->bucket_count * 2;
  if (grown == 0) return;
  auto* buckets = static_cast<Entry**>(feroq::platform::HeapAllocZero(grown * sizeof(Entry*)));
  if (buckets == nullptr) return;
  for (ULONG i = 0; i < impl->bucket_count; ++i) {
    Entry* entry = impl->buckets[i];
    while (entry != nullptr) {
      Entry* next = entry->next;
      Entry** slot = &buckets[entry->hash & (grown - 1)];
      entry->next = *slot;
      *slot = entry;
      entry = next;
    }
  }
  feroq::platform::HeapFree(impl->buckets);
  impl->buckets = buckets;
  impl->bucket_count = grown;
}

void FreeEntries(TableState* impl) {
  for (ULONG i = 0; i < impl->bucket_count; ++i) {
    Entry* entry = impl->buckets[i];
    while (entry != nullptr) {
      Entry* next = entry->next;
      feroq::platform::HeapFree(entry);
      entry = next;
    }
    impl->buckets[i] = nullptr;
  }
  impl->count = 0;
}

// A new, empty table state of type `State` (a TableState); null when the
// heap refuses.
template <typename State>
State* NewState() {
  auto* state = static_cast<State*>(feroq::platform::HeapAllocZero(sizeof(State)));
  if (state == nullptr) return nullptr;
  state->buckets = static_cast<Entry**>(feroq::platform::HeapAllocZero(kFirstBucketCount * sizeof(Entry*)));
  if (state->buckets == nullptr) {
    feroq::platform::HeapFree(state);
    return nullptr;
  }
  state->bucket_count = kFirstBucketCount;
  return state;
}

void DeleteState(TableState* state) {
  if (state == nullptr) return;
  FreeEntries(state);
  feroq::platform::HeapFree(state->buckets);
  feroq::platform::HeapFree(state);
}

// Links a new entry for an absent key; false when the heap refuses.
bool InsertNew(TableState* impl, const char16_t* key, std::size_t units, ULONG hash, void* value) {
  auto* entry = static_cast<Entry*>(feroq::platform::HeapAllocZero(sizeof(Entry) + (units + 1) * sizeof(char16_t)));
  if (entry == nullptr) return false;
  entry->value = value;
  entry->hash = hash;
  entry->key_units = static_cast<ULONG>(units);
  std::memcpy(entry->Key(), key, units * sizeof(char16_t));
  Entry** slot = &impl->buckets[hash & (impl->bucket_count - 1)];
  entry->next = *slot;
  *slot = entry;
  ++impl->count;
  if (impl->count > impl->bucket_count) GrowBuckets(impl);
  return true;
}

}  // namespace

struct VORN_TABLE_HashTable::Impl : TableState {};

VORN_TABLE_HashTable::VORN_TABLE_HashTable() : impl_(nullptr) {}

VORN_TABLE_HashTable::~VORN_TABLE_HashTable() { DeleteState(impl_); }

// Makes this table hold copies of the other's keys with the same values.
// Raises std::bad_alloc, with this table unchanged, when memory runs out.
VORN_TABLE_HashTable& VORN_TABLE_HashTable::operator=(const VORN_TABLE_HashTable& other) {
  if (this == &other) return *this;
  Impl* copy = nullptr;
  if (other.impl_ != nullptr && other.impl_->count != 0) {
    copy = NewState<Impl>();
    if (copy == nullptr) throw std::bad_alloc();
    for (ULONG i = 0; i < other.impl_->bucket_count; ++i) {
      for (Entry* entry = other.impl_->buckets[i]; entry != nullptr; entry = entry->next) {
        if (!InsertNew(copy, entry->Key(), entry->key_units, entry->hash, entry->value)) {
          DeleteState(copy);
          throw std::bad_alloc();
        }
      }
    }
  }
  DeleteState(impl_);
  impl_ = copy;
  return *this;
}

VSTATUS VORN_TABLE_HashTable::AddItem(const char16_t* key, void* value) {
  if (key == nullptr) return feroq::VORN_E_FAILURE;
  const std::size_t units = UnitLength(key);
  if (units > 0x7FFFFFFFu) return feroq::VORN_E_FAILURE;
  if (impl_ == nullptr) {
    impl_ = NewState<Impl>();
    if (impl_ == nullptr) return feroq::VORN_E_OUTOFMEMORY;
  }
  const ULONG hash = HashKey(key, units);
  Entry* present = *FindLink(impl_, key, units, hash);
  if (present != nullptr) {
    present->value = value;
    return feroq::VORN_OK;
  }
  if (impl_->count == 0xFFFFFFFFu) return feroq::VORN_E_FAILURE;
  return InsertNew(impl_, key, units, hash, value) ? feroq::VORN_OK : feroq::VORN_E_OUTOFMEMORY;
}

VSTATUS VORN_TABLE_HashTable::UpdateItem(const char16_t* key, void* value) {
  Entry* entry = FindEntry(impl_, key);
  if (entry == nullptr) return feroq::VORN_E_FAILURE;
  entry->value = value;
  return feroq::VORN_OK;
}

const char16_t* VORN_TABLE_HashTable::FindItem(void* value) {
  if (impl_ == nullptr) return nullptr;
  for (ULONG i = 0; i < impl_->bucket_count; ++i) {
    for (Entry* entry = impl_->buckets[i]; entry != nullptr; entry = entry->next) {
      if (entry->value == value) return entry->Key();
    }
  }
  return nullptr;
}

VSTATUS VORN_TABLE_HashTable::FindItem(const char16_t* key, void** value) {
  Entry* entry = FindEntry(impl_, key);
  if (entry == nullptr) return feroq::VORN_E_FAILURE;
  if (value != nullptr) *value = entry->value;
  return feroq::VORN_OK;
}

VSTATUS VORN_TABLE_HashTable::DeleteItem(const char16_t* key) {
  if (impl_ == nullptr || key == nullptr) return feroq::VORN_E_FAILURE;
  const std::size_t units = UnitLength(key);
  Entry** link = FindLink(impl_, key, units, HashKey(key, units));
  Entry* entry = *link;
  if (entry == nullptr) return feroq::VORN_E_FAILURE;
  *link = entry->next;
  --impl_->count;
  feroq::platform::HeapFree(entry);
  return feroq::VORN_OK;
}

// The number of keys, held at 0xFFFF when there are more (a 16-bit count
// that wrapped would make a full table look empty).
USHORT VORN_TABLE_HashTable::GetCount() {
  if (impl_ == nullptr) return 0;
  return impl_->count > 0xFFFFu ? USHORT{0xFFFF} : static_cast<USHORT>(impl_->count);
}

// The chain is one heap block of nodes linked in bucket order; its keys
// point at the table's own copies, so the chain is valid only until the
// table next changes. EndEnum releases it.
VSTATUS VORN_TABLE_HashTable::BeginEnum(_ENUMNODE** list) {
  if (list == nullptr) return feroq::VORN_E_FAILURE;
  *list = nullptr;
  if (impl_ == nullptr || impl_->count == 0) return feroq::VORN_OK;
  auto* nodes = static_cast<_ENUMNODE*>(feroq::platform::HeapAllocZero(impl_->count * sizeof(_ENUMNODE)));
  if (nodes == nullptr) return feroq::VORN_E_OUTOFMEMORY;
  ULONG filled = 0;
  for (ULONG i = 0; i < impl_->bucket_count; ++i) {
    for (Entry* entry = impl_->buckets[i]; entry != nullptr; entry = entry->next) {
      _ENUMNODE& node = nodes[filled];
      node.key = entry->Key();
      node.value = entry->value;
      node.hash = entry->hash;
      node.next = filled + 1 < impl_->count ? &nodes[filled + 1] : nullptr;
      ++filled;
    }
  }
  *list = nodes;
  return feroq::VORN_OK;
}

// `list` must be the head that BeginEnum returned (or null).
VSTATUS VORN_TABLE_HashTable::EndEnum(_ENUMNODE* list) {
  feroq::platform::HeapFree(list);
  return feroq::VORN_OK;
}

VSTATUS VORN_TABLE_HashTable::FlushTable() {
  if (impl_ != nullptr) FreeEntries(impl_);
  return feroq::VORN_OK;
}
