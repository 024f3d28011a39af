// An application object made from a farm identifier (every object a listing
// hands out) shares one heap block with its record and the room of the
// record's user table: the object at the block's start, then the record,
// then the user table's room. One allocation and one release instead of
// three of each, and the memory that making and releasing the object
// touches (the object, the record's members, the user table's count of
// names made) lies together instead of in three blocks.
#ifndef FEROQ_APPS_APP_BLOCK_H_
#define FEROQ_APPS_APP_BLOCK_H_

#include <cstddef>

#if defined(__SANITIZE_ADDRESS__)
#define FEROQ_APP_BLOCK_POISONED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define FEROQ_APP_BLOCK_POISONED 1
#endif
#endif
#if defined(FEROQ_APP_BLOCK_POISONED)
#include <sanitizer/asan_interface.h>
#endif

#include "feroq/services/zqapp.h"
#include "feroq/zqwinapp_object.h"

namespace feroq::app_block {

constexpr std::size_t RoundUp(std::size_t bytes, std::size_t step) { return (bytes + step - 1) / step * step; }

inline constexpr std::size_t kRecordOffset = RoundUp(sizeof(ZQWinAppObject), alignof(ZQApp));
// Heap blocks are aligned to 16 bytes: so is the user table's room.
inline constexpr std::size_t kSlotsOffset = RoundUp(kRecordOffset + sizeof(ZQApp), 16);

// Under AddressSanitizer the block's record and user table room are
// unusable until the record is made, so that a read of the record that does
// not make it first is reported. `record_bytes`: from the record's place to
// the block's end.
inline void MarkRecordUnmade([[maybe_unused]] void* place, [[maybe_unused]] std::size_t record_bytes) {
#if defined(FEROQ_APP_BLOCK_POISONED)
  ASAN_POISON_MEMORY_REGION(place, record_bytes);
#endif
}
inline void MarkRecordMade([[maybe_unused]] void* place, [[maybe_unused]] std::size_t record_bytes) {
#if defined(FEROQ_APP_BLOCK_POISONED)
  ASAN_UNPOISON_MEMORY_REGION(place, record_bytes);
#endif
}

// Whether `record` is the one made in `app`'s own block. No record made
// apart (a heap block of its own) can lie there.
inline bool HoldsRecord(const ZQWinAppObject* app, const ZQApp* record) {
  return reinterpret_cast<const char*>(record) == reinterpret_cast<const char*>(app) + kRecordOffset;
}

// Destroys `app`'s record `record` (null: nothing): in place when it lies in
// the object's block, which goes with the object; otherwise its own block
// goes too.
inline void DestroyRecord(const ZQWinAppObject* app, ZQApp* record) {
  if (record == nullptr) return;
  if (HoldsRecord(app, record)) {
    record->~ZQApp();
  } else {
    delete record;
  }
}

}  // namespace feroq::app_block

#endif  // FEROQ_APPS_APP_BLOCK_H_
