// Handles that give back what the library hands a test, on every path out of
// the test: object references, farm-heap blocks, environment settings; a
// mutable wide string for the calls that take char16_t*; and the one loop that
// makes each allocation of an operation fail in turn.
//
// They are written apart from the library's own holders on purpose, so a
// fault in those holders cannot hide behind the tests' bookkeeping.
#ifndef FEROQ_TESTS_SUPPORT_HANDLES_H_
#define FEROQ_TESTS_SUPPORT_HANDLES_H_

#include <cstdint>
#include <functional>
#include <list>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "feroq/common_object.h"
#include "feroq/farm_object.h"
#include "feroq/types.h"

namespace feroq::testing {

// One reference on an object of `farm`, given back with FreeObject when the
// handle goes. `&ref.out()` (or `ref.out()`) is the slot for a call that
// hands out a reference; what was held is given back first.
template <typename T = CommonObject>
class Ref {
 public:
  explicit Ref(FarmObject& farm, T* object = nullptr) noexcept : farm_(&farm), object_(object) {}
  ~Ref() { reset(); }
  Ref(const Ref&) = delete;
  Ref& operator=(const Ref&) = delete;
  Ref(Ref&& other) noexcept : farm_(other.farm_), object_(std::exchange(other.object_, nullptr)) {}

  T* get() const noexcept { return object_; }
  T* operator->() const noexcept { return object_; }
  explicit operator bool() const noexcept { return object_ != nullptr; }
  T*& out() noexcept {
    reset();
    return object_;
  }
  T* release() noexcept { return std::exchange(object_, nullptr); }
  void reset(T* object = nullptr) noexcept {
    if (object_ != nullptr) {
      CommonObject* handle = object_;
      farm_->FreeObject(handle);
    }
    object_ = object;
  }

 private:
  FarmObject* farm_;
  T* object_ = nullptr;
};

// A block of the farm's heap (a name, a DN, an array), given back with
// FarmObject::FreeMemory when the handle goes.
template <typename T>
class HeapBlock {
 public:
  explicit HeapBlock(FarmObject& farm) noexcept : farm_(&farm) {}
  ~HeapBlock() { reset(); }
  HeapBlock(const HeapBlock&) = delete;
  HeapBlock& operator=(const HeapBlock&) = delete;

  T* get() const noexcept { return block_; }
  T& operator[](std::size_t i) const noexcept { return block_[i]; }
  explicit operator bool() const noexcept { return block_ != nullptr; }
  T*& out() noexcept {
    reset();
    return block_;
  }
  void reset() noexcept {
    if (block_ != nullptr) farm_->FreeMemory(block_);
    block_ = nullptr;
  }

 private:
  FarmObject* farm_;
  T* block_ = nullptr;
};

// Farm-heap text; str() reads it (null reads as empty, see is_null()).
class HeapText : public HeapBlock<char16_t> {
 public:
  using HeapBlock::HeapBlock;
  std::u16string str() const { return get() == nullptr ? std::u16string() : std::u16string(get()); }
  bool is_null() const noexcept { return get() == nullptr; }
};

// Sets (or, with nullopt, unsets) the environment variable `name` of this
// process, as the C runtime and the system both see it.
void SetEnvironment(const char* name, const std::optional<std::string>& value);

// Sets (or, with nullopt, unsets) an environment variable until the
// override goes, then restores what was there.
class EnvOverride {
 public:
  EnvOverride(const char* name, std::optional<std::string> value);
  ~EnvOverride();
  EnvOverride(const EnvOverride&) = delete;
  EnvOverride& operator=(const EnvOverride&) = delete;

 private:
  std::string name_;
  std::optional<std::string> old_;
};

// A mutable copy of a wide literal for the calls that take char16_t*:
// `app->SetObjectName(W(u"Editor"))`. The copy lives to the end of the full
// expression; name it when a pointer must outlive that.
class W {
 public:
  explicit W(std::u16string_view text) : text_(text) {}
  operator char16_t*() noexcept { return text_.data(); }  // NOLINT: converts on purpose
  char16_t* get() noexcept { return text_.data(); }

 private:
  std::u16string text_;
};

// Mutable wide texts that live as long as the pool, for records whose
// char16_t* fields a test fills: `data.objectName = texts(u"Editor")`.
class TextPool {
 public:
  char16_t* operator()(std::u16string_view text) { return texts_.emplace_back(text).data(); }

 private:
  std::list<std::u16string> texts_;
};

// Whether the service call log (services/service_faults.h) holds a call of
// `operation` ("ZQAppSAL::Write").
bool ServiceWasCalled(const std::string& operation);

// Makes allocation n of `operation` fail, for n = 1, 2, ..., and after
// each run calls `check(failed)` with failures cleared again (`failed`:
// whether the run reached allocation n), until a run completes without
// reaching its failure point. With `persistent`, every allocation from n on
// fails. Returns how many runs met a failure; a test usually expects some.
int ForEachAllocationFailure(const std::function<void()>& operation, const std::function<void(bool failed)>& check,
                             bool persistent = false);

}  // namespace feroq::testing

#endif  // FEROQ_TESTS_SUPPORT_HANDLES_H_
