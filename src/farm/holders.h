// Holders for what the library takes for its own use: heap blocks, object
// references and the blocks and arrays the services hand out. Each gives its
// pointer back with the one call that fits it when the holder goes, on every
// path, unless the pointer was handed on with release() first.
#ifndef FEROQ_FARM_HOLDERS_H_
#define FEROQ_FARM_HOLDERS_H_

#include <cstddef>
#include <new>
#include <type_traits>

#include "feroq/app_data.h"
#include "feroq/common_object.h"
#include "feroq/farm_object.h"
#include "feroq/services/directory_services.h"
#include "feroq/services/zqapp.h"
#include "platform/platform.h"

namespace feroq {

// Holds one pointer and gives it back with `Release`, a small function
// object, when the holder goes or is reset. Movable, not copyable.
template <typename T, typename Release>
class Held {
 public:
  Held() = default;
  explicit Held(Release release, T* held = nullptr) noexcept : release_(release), held_(held) {}
  explicit Held(T* held) noexcept
    requires std::is_default_constructible_v<Release>
      : held_(held) {}
  ~Held() { reset(); }
  Held(const Held&) = delete;
  Held& operator=(const Held&) = delete;
  Held(Held&& other) noexcept : release_(other.release_), held_(other.release()) {}
  Held& operator=(Held&& other) noexcept {
    if (this != &other) {
      reset(other.release());
      release_ = other.release_;
    }
    return *this;
  }

  T* get() const noexcept { return held_; }
  T* operator->() const noexcept { return held_; }
  explicit operator bool() const noexcept { return held_ != nullptr; }

  // The slot for a call's out-parameter: `&held.out()` where the call takes
  // T**, `held.out()` where it takes T*&. What was held is given back first.
  T*& out() noexcept {
    reset();
    return held_;
  }
  // Stops holding; the caller now owns the pointer.
  T* release() noexcept {
    T* held = held_;
    held_ = nullptr;
    return held;
  }
  // Gives back what is held and holds `held` instead.
  void reset(T* held = nullptr) noexcept {
    if (held_ != nullptr) release_(held_);
    held_ = held;
  }

 private:
  [[no_unique_address]] Release release_{};
  T* held_ = nullptr;
};

// A block of the farm's heap, which is the platform's process heap:
// FarmObject::FreeMemory is platform::HeapFree.
struct HeapRelease {
  void operator()(void* block) const noexcept { platform::HeapFree(block); }
};
template <typename T>
using FarmBlock = Held<T, HeapRelease>;

// One reference on an object of `farm`, given back with FreeObject.
struct ObjectRelease {
  ObjectRelease(FarmObject* owner = nullptr) noexcept : farm(owner) {}  // NOLINT: converts on purpose
  void operator()(CommonObject* object) const noexcept { farm->FreeObject(object); }
  FarmObject* farm;
};
template <typename T = CommonObject>
using ObjectRef = Held<T, ObjectRelease>;

// A block the folder service handed out (a name, a list of children),
// given back with that service's FreeMemory.
struct FolderServiceRelease {
  FolderServiceRelease(VORNCommonApplicationSAL* owner = nullptr) noexcept  // NOLINT: converts on purpose
      : service(owner) {}
  void operator()(void* block) const noexcept { service->FreeMemory(static_cast<unsigned char*>(block)); }
  VORNCommonApplicationSAL* service;
};
template <typename T>
using FolderServiceBlock = Held<T, FolderServiceRelease>;

// An array the server service made with new[] (EnumerateAllServerAddresses).
template <typename T>
struct ArrayDelete {
  void operator()(T* array) const noexcept { delete[] array; }
};
template <typename T>
using ServiceArray = Held<T, ArrayDelete<T>>;

// The application store's identifier list (EnumApps), made with operator new.
struct OperatorDelete {
  void operator()(void* block) const noexcept { ::operator delete(block); }
};
using StoreIdList = Held<ULONG64, OperatorDelete>;

// Memory of the RPC client (an event record, the farm name).
struct RpcMemoryRelease {
  void operator()(void* block) const noexcept { VORNFree_RPC_Mem(block); }
};
template <typename T>
using RpcBlock = Held<T, RpcMemoryRelease>;

// The application store's detailed-error chain.
struct DetailChainRelease {
  void operator()(_VORN_ZQAPP_DETAILED_ERR* chain) const noexcept { ReleaseZQAppErrMemory(chain); }
};
using DetailChain = Held<_VORN_ZQAPP_DETAILED_ERR, DetailChainRelease>;

// An array of object references on the farm's heap, as EnumerateApps and
// EnumerateChildren hand it out. Every element still held is given back with
// FreeObject when the holder goes, then the array itself.
class ObjectArray {
 public:
  explicit ObjectArray(FarmObject* farm) noexcept : farm_(farm) {}
  ~ObjectArray() { reset(); }
  ObjectArray(const ObjectArray&) = delete;
  ObjectArray& operator=(const ObjectArray&) = delete;

  // The slot for the enumeration's array; say how many elements it holds
  // with set_count once the call has written it.
  CommonObject**& out() noexcept {
    reset();
    return items_;
  }
  void set_count(std::size_t count) noexcept { count_ = items_ == nullptr ? 0 : count; }
  std::size_t count() const noexcept { return count_; }
  CommonObject* operator[](std::size_t i) const noexcept { return items_[i]; }
  // Hands element `i` (and its reference) to the caller.
  CommonObject* Take(std::size_t i) noexcept {
    CommonObject* object = items_[i];
    items_[i] = nullptr;
    return object;
  }
  // Gives element `i`'s reference back now.
  void ReleaseAt(std::size_t i) noexcept {
    if (CommonObject* object = Take(i); object != nullptr) farm_->FreeObject(object);
  }

 private:
  void reset() noexcept {
    for (std::size_t i = 0; i < count_; ++i) ReleaseAt(i);
    platform::HeapFree(items_);
    items_ = nullptr;
    count_ = 0;
  }

  FarmObject* farm_;
  CommonObject** items_ = nullptr;
  std::size_t count_ = 0;
};

}  // namespace feroq

#endif  // FEROQ_FARM_HOLDERS_H_
