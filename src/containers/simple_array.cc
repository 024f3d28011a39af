// VORN_SimpleArray<T>: the bounds-checked array that the record containers
// are built on.
//
// Storage comes from the platform heap (feroq::platform::HeapAllocZero, and
// HeapAllocUnfilled for strings), so a test can make it fail; elements of
// class type are constructed in it by placement new and destroyed before it
// is released. The array never grows
// by itself: its owner sets the size with ChangeSize.
//
// String elements are made when first reached. Their storage begins with
// the number of slots made so far (in the block, not in the array, whose
// layout is the farm's); the slots from there on are memory never written,
// which reads as empty strings. A record's user table holds room for twenty
// names and seldom uses any: its slots are then neither written when the
// record is made nor read when it goes, and the whole block is asked for
// at once, so a failure to get it still shows when the table is made.
// String storage may also be lent by the array's owner (UseLent: the room
// of a record that shares its owner's block); its first word then says so,
// and the array never releases it.
//
// Sizes follow the 32-bit layout of the farm's records: GetDataSize reports a
// 4-byte count followed by elements of 72 (VORNString), 4 (ULONG) or 76
// (UM_AccountInfo) bytes, whatever the in-memory size of T is here. A request
// whose 32-bit byte size (elements, plus the 4-byte count kept in front of
// class elements) does not fit in 32 bits asks the heap for the largest block
// there is, which fails; ChangeSize(1u << 30) on the ULONG array therefore
// fails as it does on the 32-bit platform.
#include <cstddef>
#include <cstdint>
#include <limits>
#include <new>
#include <type_traits>

#if defined(__SANITIZE_ADDRESS__)
#define FEROQ_SLOTS_POISONED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define FEROQ_SLOTS_POISONED 1
#endif
#endif
#if defined(FEROQ_SLOTS_POISONED)
#include <sanitizer/asan_interface.h>
#endif

#include "feroq/services/containers.h"
#include "platform/platform.h"
#include "services/system/vorn_string_arrays.h"

namespace {

// Size of one element in the farm's 32-bit layout.
template <typename T>
struct ElementTraits;

template <>
struct ElementTraits<VORNString> {
  static constexpr ULONG kElementSize = 72;
};

template <>
struct ElementTraits<ULONG> {
  static constexpr ULONG kElementSize = 4;
};

template <>
struct ElementTraits<UM_AccountInfo> {
  static constexpr ULONG kElementSize = 76;
};

// String storage: the count of slots made and whether the storage is lent,
// then the slots.
template <typename T>
constexpr bool kMadeOnDemand = std::is_same_v<T, VORNString>;
struct SlotsHead {
  ULONG made;
  ULONG lent;  // 1: the owner's storage, never released by the array
};
constexpr std::size_t kMadeCountBytes = 16;  // keeps the slots' alignment
static_assert(kMadeCountBytes % alignof(VORNString) == 0 && kMadeCountBytes >= sizeof(SlotsHead));

SlotsHead& HeadOf(VORNString* data) {
  return *std::launder(reinterpret_cast<SlotsHead*>(reinterpret_cast<char*>(data) - kMadeCountBytes));
}
ULONG& MadeSlots(VORNString* data) { return HeadOf(data).made; }
ULONG MadeSlots(const VORNString* data) { return MadeSlots(const_cast<VORNString*>(data)); }

// Under AddressSanitizer the slots not made yet are unusable, so that a read
// of one is reported.
void MarkSlotsUnmade([[maybe_unused]] VORNString* first, [[maybe_unused]] std::size_t count) {
#if defined(FEROQ_SLOTS_POISONED)
  ASAN_POISON_MEMORY_REGION(first, count * sizeof(VORNString));
#endif
}
void MarkSlotsMade([[maybe_unused]] VORNString* first, [[maybe_unused]] std::size_t count) {
#if defined(FEROQ_SLOTS_POISONED)
  ASAN_UNPOISON_MEMORY_REGION(first, count * sizeof(VORNString));
#endif
}

// Bytes to ask the heap for `count` elements of T. When the 32-bit layout's
// size would not fit in 32 bits, the largest possible request, which the heap
// cannot meet.
template <typename T>
std::size_t RequestBytes(ULONG count) {
  constexpr std::uint64_t kCountWord = std::is_class_v<T> ? 4 : 0;
  const std::uint64_t layout_bytes =
      static_cast<std::uint64_t>(count) * ElementTraits<T>::kElementSize + kCountWord;
  if (layout_bytes > std::numeric_limits<ULONG>::max()) {
    return std::numeric_limits<std::size_t>::max();
  }
  const std::uint64_t bytes = static_cast<std::uint64_t>(count) * sizeof(T) + (kMadeOnDemand<T> ? kMadeCountBytes : 0);
  if (bytes > std::numeric_limits<std::size_t>::max()) return std::numeric_limits<std::size_t>::max();
  return static_cast<std::size_t>(bytes);
}

// How many of the first `count` elements at `data` hold a value: those made
// (all of them but for strings).
template <typename T>
ULONG Filled(const T* data, ULONG count) {
  if constexpr (kMadeOnDemand<T>) {
    const ULONG made = MadeSlots(data);
    return made < count ? made : count;
  } else {
    return count;
  }
}

// Element `index` of `data`, within its storage; a string slot not made yet
// is made first (with those before it), as an empty string.
template <typename T>
T& Reach(T* data, ULONG index) {
  if constexpr (kMadeOnDemand<T>) {
    ULONG& made = MadeSlots(data);
    if (index >= made) {
      MarkSlotsMade(data + made, index + 1 - made);
      feroq::services::ConstructEmptyStrings(data + made, index + 1 - made);  // cannot fail
      made = index + 1;
    }
  }
  return data[index];
}

// Destroys `count` elements at `data` (class types only; of strings, those
// made) and releases the storage. Null `data` does nothing.
template <typename T>
void ReleaseElements(T* data, ULONG count) noexcept {
  if (data == nullptr) return;
  if constexpr (kMadeOnDemand<T>) {
    const SlotsHead head = HeadOf(data);
    feroq::services::DestroyStrings(data, head.made);
    if (head.lent == 0) feroq::platform::HeapFree(reinterpret_cast<char*>(data) - kMadeCountBytes);
    return;
  } else if constexpr (std::is_class_v<T>) {
    for (ULONG i = count; i > 0; --i) data[i - 1].~T();
  }
  feroq::platform::HeapFree(data);
}

// Storage for `count` (> 0) elements: class elements are default-constructed
// (strings when first reached), ULONG elements are left as the heap gives
// them. Raises std::bad_alloc when the heap yields no storage; an exception
// from an element's constructor destroys the ones already made, releases the
// storage and passes on.
template <typename T>
T* AllocateElements(ULONG count) {
  if constexpr (kMadeOnDemand<T>) {
    // Nothing of the slots is written: they are made when reached.
    void* block = feroq::platform::HeapAllocUnfilled(RequestBytes<T>(count));
    if (block == nullptr) throw std::bad_alloc();
    new (block) SlotsHead{0, 0};
    T* data = reinterpret_cast<T*>(static_cast<char*>(block) + kMadeCountBytes);
    MarkSlotsUnmade(data, count);
    return data;
  } else {
    void* block = feroq::platform::HeapAllocZero(RequestBytes<T>(count));
    if (block == nullptr) throw std::bad_alloc();
    T* data = static_cast<T*>(block);
    if constexpr (std::is_class_v<T>) {
      ULONG built = 0;
      try {
        for (; built < count; ++built) new (data + built) T();
      } catch (...) {
        ReleaseElements(data, built);
        throw;
      }
    }
    return data;
  }
}

}  // namespace

template <typename T>
VORN_SimpleArray<T>::VORN_SimpleArray() : count_(0), data_(nullptr) {}

template <typename T>
VORN_SimpleArray<T>::~VORN_SimpleArray() {
  ReleaseElements(data_, count_);
  data_ = nullptr;
}

template <typename T>
ULONG VORN_SimpleArray<T>::ChangeSize(ULONG count) {
  const ULONG old_count = count_;
  T* const old_data = data_;
  count_ = count;

  if (count == 0) {
    if (old_count != 0 && old_data != nullptr) {
      ReleaseElements(old_data, old_count);
      data_ = nullptr;
    }
    return 0;
  }

  T* fresh = nullptr;
  try {
    fresh = AllocateElements<T>(count);
    data_ = fresh;
    if (old_data != nullptr) {
      const ULONG kept = Filled(old_data, old_count < count ? old_count : count);
      for (ULONG i = 0; i < kept; ++i) Reach(fresh, i) = old_data[i];
    }
  } catch (const std::bad_alloc&) {
    // Out of memory: the array ends empty and the old contents are lost.
    ReleaseElements(fresh, count);
    ReleaseElements(old_data, old_count);
    data_ = nullptr;
    count_ = 0;
    return 0;
  } catch (...) {
    // Any other failure passes to the caller; nothing is kept or leaked.
    ReleaseElements(fresh, count);
    ReleaseElements(old_data, old_count);
    data_ = nullptr;
    count_ = 0;
    throw;
  }
  ReleaseElements(old_data, old_count);
  return count_;
}

template <typename T>
ULONG VORN_SimpleArray<T>::GetDataSize() const {
  return 4 + count_ * ElementTraits<T>::kElementSize;
}

template <typename T>
T& VORN_SimpleArray<T>::operator[](ULONG index) {
  if (data_ == nullptr || index >= count_) throw VORN_OutOfBoundsException();
  return Reach(data_, index);
}

// A string slot not made yet reads as an empty string (one shared, so that
// reading changes nothing and readers on several threads do not race).
template <typename T>
const T& VORN_SimpleArray<T>::operator[](ULONG index) const {
  if (data_ == nullptr || index >= count_) throw VORN_OutOfBoundsException();
  if constexpr (kMadeOnDemand<T>) {
    if (index >= MadeSlots(data_)) {
      static const VORNString kUnmadeSlot;
      return kUnmadeSlot;
    }
  }
  return data_[index];
}

template <typename T>
VORN_SimpleArray<T>& VORN_SimpleArray<T>::operator=(const VORN_SimpleArray& other) {
  if (this == &other) return *this;

  ReleaseElements(data_, count_);
  data_ = nullptr;

  count_ = other.count_;
  if (count_ == 0) return *this;

  // A failure here leaves the new count with no storage; element access
  // then raises VORN_OutOfBoundsException until the next ChangeSize.
  data_ = AllocateElements<T>(count_);
  const ULONG filled = other.data_ == nullptr ? count_ : Filled(other.data_, count_);
  for (ULONG i = 0; i < filled; ++i) Reach(data_, i) = other[i];
  return *this;
}

template <typename T>
std::size_t VORN_SimpleArray<T>::LentBytes(ULONG count)
  requires std::is_same_v<T, VORNString>
{
  return RequestBytes<T>(count);
}

template <typename T>
void VORN_SimpleArray<T>::UseLent(void* storage, ULONG count)
  requires std::is_same_v<T, VORNString>
{
  // (The test keeps compilers that instantiate every member of the explicit
  // instantiations below from compiling this for other elements.)
  if constexpr (kMadeOnDemand<T>) {
    new (storage) SlotsHead{0, 1};
    data_ = reinterpret_cast<T*>(static_cast<char*>(storage) + kMadeCountBytes);
    count_ = count;
    MarkSlotsUnmade(data_, count);
  }
}

template class VORN_SimpleArray<VORNString>;
template class VORN_SimpleArray<ULONG>;
template class VORN_SimpleArray<UM_AccountInfo>;
