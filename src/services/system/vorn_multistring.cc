// VORNMultiString: an ordered list of strings with one walk cursor.
//
// Storage, all from the platform heap: the list state (allocated on first
// use, so an empty list owns nothing and constructing one never fails), an
// array of item pointers that doubles when full, and one block per item
// holding its text and NUL. Operations that run out of memory leave the list
// exactly as it was.
#include <cstring>
#include <new>

#include "feroq/services/vorn_system.h"
#include "platform/platform.h"

namespace {

constexpr ULONG kFirstCapacity = 8;

std::size_t UnitLength(const char16_t* text) {
  std::size_t length = 0;
  while (text[length] != u'\0') ++length;
  return length;
}

// A heap copy of `text` with its NUL; null when the heap refuses.
char16_t* CopyText(const char16_t* text) {
  const std::size_t length = UnitLength(text);
  auto* copy = static_cast<char16_t*>(feroq::platform::HeapAllocZero((length + 1) * sizeof(char16_t)));
  if (copy != nullptr) std::memcpy(copy, text, length * sizeof(char16_t));
  return copy;
}

// Items 0 to count-1 are live text blocks. `cursor` is the index of the
// item that GetNextString returns next: a walk that was never started with
// GetHeadString begins at the first item, and emptying or replacing the
// list restarts it. Appending during a walk is allowed; the walk then goes
// on into the new items.
struct ListState {
  char16_t** items;
  ULONG count;
  ULONG capacity;
  ULONG cursor;
};

void FreeItems(ListState* impl) {
  for (ULONG i = 0; i < impl->count; ++i) feroq::platform::HeapFree(impl->items[i]);
  impl->count = 0;
  impl->cursor = 0;
}

// Makes room for one more item; false when memory runs out (nothing changed).
bool ReserveOneMore(ListState* impl) {
  if (impl->count < impl->capacity) return true;
  const ULONG grown = impl->capacity == 0 ? kFirstCapacity : impl->capacity * 2;
  if (grown <= impl->capacity) return false;  // the count cannot grow further
  void* items = feroq::platform::HeapReAllocZero(impl->items, grown * sizeof(char16_t*));
  if (items == nullptr) return false;
  impl->items = static_cast<char16_t**>(items);
  impl->capacity = grown;
  return true;
}

}  // namespace

struct VORNMultiString::Impl : ListState {};

VORNMultiString::VORNMultiString() : impl_(nullptr) {}

VORNMultiString::~VORNMultiString() {
  if (impl_ == nullptr) return;
  FreeItems(impl_);
  feroq::platform::HeapFree(impl_->items);
  feroq::platform::HeapFree(impl_);
}

VORNMultiString& VORNMultiString::operator=(const char16_t* text) {
  if (text == nullptr || text[0] == u'\0') {
    if (impl_ != nullptr) FreeItems(impl_);
    return *this;
  }
  if (CopyOrConcatString(VORNString(text), 1) != feroq::VORN_OK) throw std::bad_alloc();
  return *this;
}

VSTATUS VORNMultiString::CopyOrConcatString(const VORNString& text, ULONG flag) {
  if (impl_ == nullptr) {
    impl_ = static_cast<Impl*>(feroq::platform::HeapAllocZero(sizeof(Impl)));
    if (impl_ == nullptr) return feroq::VORN_E_OUTOFMEMORY;
  }
  // Take every resource first so that a failure changes nothing.
  const bool replacing_into_room = flag != 0 && impl_->capacity > 0;
  if (!replacing_into_room && !ReserveOneMore(impl_)) return feroq::VORN_E_OUTOFMEMORY;
  char16_t* copy = CopyText(text.m_string);
  if (copy == nullptr) return feroq::VORN_E_OUTOFMEMORY;
  if (flag != 0) FreeItems(impl_);
  impl_->items[impl_->count++] = copy;
  return feroq::VORN_OK;
}

const char16_t* VORNMultiString::GetHeadString() {
  if (impl_ == nullptr) return nullptr;
  impl_->cursor = 0;
  return GetNextString();
}

const char16_t* VORNMultiString::GetNextString() {
  if (impl_ == nullptr || impl_->cursor >= impl_->count) return nullptr;
  return impl_->items[impl_->cursor++];
}

ULONG VORNMultiString::GetCount() const { return impl_ == nullptr ? 0 : impl_->count; }

void* VORNMultiString::operator new[](std::size_t size) {
  void* block = feroq::platform::HeapAllocZero(size);
  if (block == nullptr) throw std::bad_alloc();
  return block;
}

void VORNMultiString::operator delete[](void* block) noexcept { feroq::platform::HeapFree(block); }
