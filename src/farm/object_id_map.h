// The object ID map: the registry of live application and folder objects of
// one farm object, keyed by identifier. It does not own the objects.
#ifndef FEROQ_FARM_OBJECT_ID_MAP_H_
#define FEROQ_FARM_OBJECT_ID_MAP_H_

#include <functional>
#include <unordered_map>
#include <new>

#include "feroq/common_object.h"
#include "platform/platform.h"

namespace feroq {

// Allocates from the platform heap, so that a failing heap reaches the map's
// insertions as std::bad_alloc.
template <typename T>
struct PlatformAllocator {
  using value_type = T;
  PlatformAllocator() = default;
  template <typename U>
  PlatformAllocator(const PlatformAllocator<U>&) noexcept {}
  T* allocate(std::size_t n) {
    void* block = platform::HeapAllocZero(n * sizeof(T));
    if (block == nullptr) throw std::bad_alloc();
    return static_cast<T*>(block);
  }
  void deallocate(T* block, std::size_t) noexcept { platform::HeapFree(block); }
  template <typename U>
  bool operator==(const PlatformAllocator<U>&) const noexcept {
    return true;
  }
};

// Hashed rather than ordered: nothing walks the registry in order, and a
// listing of a big farm registers one object per application, where an
// ordered map's walk from the root for each lookup and insertion costs more
// than making the object.
struct ObjectIdMap {
  std::unordered_map<ULONG64, CommonObject*, std::hash<ULONG64>, std::equal_to<ULONG64>,
                     PlatformAllocator<std::pair<const ULONG64, CommonObject*>>>
      entries;
  // The farm's root folder identifier once it has been read (0 before): the
  // root folder of a farm never changes, so a publish into the root folder
  // does not read it again each time the root folder object is made anew.
  ULONG64 root_folder_id = 0;

  // Removes `id`'s entry. The registry keeps no bucket storage once its last
  // entry has gone, so a farm object that holds no objects holds no
  // registry memory either.
  template <typename KeyOrPosition>
  void Erase(const KeyOrPosition& at) {
    entries.erase(at);
    if (entries.empty()) decltype(entries)().swap(entries);
  }

  static void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return platform::HeapAllocZero(size);
  }
  static void operator delete(void* block) noexcept { platform::HeapFree(block); }
};

// Removes the registry entry of `id` when it refers to `object`. An
// unregistered or detached object that shares its identifier with a
// registered one (as after a rename event, which hands out both) must not
// take the registered object's entry with it when it is released.
void UnregisterIfCurrent(void* id_map, ULONG64 id, const CommonObject* object);

}  // namespace feroq

#endif  // FEROQ_FARM_OBJECT_ID_MAP_H_
