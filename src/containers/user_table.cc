// USERTABLE: the ordered list of account directory names that an
// application record carries.
//
// Names sit in slots 0..count_-1 of names_, whose Count() is the capacity.
// Two names are the same account when UMCompareAcctDNs says so (directory
// names compare without regard to case); plain string equality never
// decides identity. Every slot access goes through the array's bounds check
// and raises VORN_OutOfBoundsException when it fails.
//
// Locking: every operation but GetCount, GetUserCount and SizeOfUsers holds
// lock_ for its whole run through a CCriticalSectionGrabber (released also
// when an exception passes). The lock is re-entrant: GetAllUsers calls the
// iteration operations while holding it.
//
// Memory: moving names between slots exchanges their texts and never
// allocates, so removals cannot fail. Copying a name into the table or into a
// caller's string can: AddUser then answers 0x80000001 with the table
// unchanged; GetFirstUser and GetNextUser let std::bad_alloc pass with the
// table (cursor included) unchanged.
#include <new>
#include <utility>

#include "feroq/services/containers.h"

namespace {

constexpr ULONG kNotIterating = 0xFFFFFFFFu;
constexpr ULONG kInitialCapacity = 20;
constexpr char16_t kEmptyText[] = u"";

// The whole state of a VORNString is its two public members, so exchanging
// them moves texts between strings without allocating.
void ExchangeText(VORNString& a, VORNString& b) noexcept {
  std::swap(a.m_string, b.m_string);
  std::swap(a.m_size, b.m_size);
}

bool SameAccount(const VORNString& a, const VORNString& b) {
  return (UMCompareAcctDNs(a.c_str(), b.c_str()) & 0xFFu) == 1;
}

}  // namespace

USERTABLE::USERTABLE() : USERTABLE(nullptr) {}

USERTABLE::USERTABLE(void* slots) : count_(0), cursor_(kNotIterating), size_total_(0) {
  if (slots != nullptr) {
    names_.UseLent(slots, kInitialCapacity);
  } else {
    // A failure leaves capacity 0; AddUser tries again.
    names_.ChangeSize(kInitialCapacity);
  }
}

std::size_t USERTABLE::LentSlotsBytes() { return VORN_SimpleArray<VORNString>::LentBytes(kInitialCapacity); }

// The source's lock is not taken: the caller keeps `other` unchanged while
// it is copied. Raises std::bad_alloc when the names cannot be copied.
USERTABLE::USERTABLE(const USERTABLE& other) : count_(0), cursor_(kNotIterating), size_total_(0) {
  CCriticalSectionGrabber hold(lock_);
  cursor_ = kNotIterating;
  names_ = other.names_;
  count_ = other.count_;
  size_total_ = other.size_total_;
}

// Members go in reverse order: the lock, then the names.
USERTABLE::~USERTABLE() = default;

USHORT USERTABLE::GetCount() const { return static_cast<USHORT>(count_); }

USHORT USERTABLE::GetUserCount() const { return static_cast<USHORT>(count_); }

ULONG USERTABLE::SizeOfUsers() const { return size_total_; }

// Shrinking below the count drops the names beyond the new capacity (their
// sizes leave the size total), so that no slot beyond the capacity is ever
// read. If the storage cannot be made the table has lost its names; it is
// left empty and 0x80000001 is returned.
VSTATUS USERTABLE::SetArraySize(ULONG capacity) {
  CCriticalSectionGrabber hold(lock_);
  while (count_ > capacity) {
    --count_;
    size_total_ -= names_[count_].m_size;
  }
  names_.ChangeSize(capacity);
  if (names_.Count() == 0 && capacity != 0) {
    count_ = 0;
    size_total_ = 0;
    return feroq::VORN_E_FAILURE;
  }
  return feroq::VORN_OK;
}

VSTATUS USERTABLE::AddUser(const VORNString& name) {
  CCriticalSectionGrabber hold(lock_);
  if (name.m_size <= 2) return feroq::VORN_E_FAILURE;
  if (names_.Count() == 0) names_.ChangeSize(kInitialCapacity);
  if (count_ >= names_.Count()) {
    names_.ChangeSize(count_ * 2);
    if (names_.Count() == 0) {
      // The array dropped its storage: the table is now empty.
      count_ = 0;
      size_total_ = 0;
      return feroq::VORN_E_FAILURE;
    }
  }
  try {
    names_[count_] = name;
  } catch (const std::bad_alloc&) {
    return feroq::VORN_E_FAILURE;
  }
  ++count_;
  size_total_ += name.m_size;
  return feroq::VORN_OK;
}

// Removes the first entry of the same account; the later ones move down one
// slot. An absent account is not an error. The cursor is not adjusted.
VSTATUS USERTABLE::RemoveUser(const VORNString& name) {
  CCriticalSectionGrabber hold(lock_);
  ULONG found = 0;
  while (found < count_ && !SameAccount(names_[found], name)) ++found;
  if (found == count_) return feroq::VORN_OK;

  for (ULONG k = found; k + 1 < count_; ++k) ExchangeText(names_[k], names_[k + 1]);
  names_[count_ - 1] = kEmptyText;
  --count_;
  size_total_ -= name.m_size;
  return feroq::VORN_OK;
}

VSTATUS USERTABLE::FindUser(const VORNString& name) {
  CCriticalSectionGrabber hold(lock_);
  for (ULONG i = 0; i < count_; ++i) {
    if (SameAccount(names_[i], name)) return feroq::VORN_OK;
  }
  return feroq::VORN_E_FAILURE;
}

VSTATUS USERTABLE::GetFirstUser(VORNString& name) {
  CCriticalSectionGrabber hold(lock_);
  if (cursor_ != kNotIterating) return feroq::ZQAPP_E_ITERATING;
  if (count_ == 0) return feroq::ZQAPP_E_NO_MORE;
  name = names_[0];
  cursor_ = 1;
  return feroq::VORN_OK;
}

VSTATUS USERTABLE::GetNextUser(VORNString& name) {
  CCriticalSectionGrabber hold(lock_);
  if (cursor_ == kNotIterating) return feroq::ZQAPP_E_NOT_ITERATING;
  if (cursor_ >= count_) {
    cursor_ = kNotIterating;
    return feroq::ZQAPP_E_NO_MORE;
  }
  name = names_[cursor_];
  ++cursor_;
  return feroq::VORN_OK;
}

void USERTABLE::StopGetUser() {
  CCriticalSectionGrabber hold(lock_);
  cursor_ = kNotIterating;
}

// Empties `list`, then appends every name in order. 0 on success (an empty
// table gives an empty list); 0x80000001 when an iteration was already in
// progress (it continues unaffected) or memory ran out (the iteration this
// call started is then stopped).
VSTATUS USERTABLE::GetAllUsers(VORNMultiString& list) {
  list = kEmptyText;
  CCriticalSectionGrabber hold(lock_);
  VORNString name;
  VSTATUS status = feroq::VORN_OK;
  try {
    status = GetFirstUser(name);
    while (status == feroq::VORN_OK) {
      if (list.CopyOrConcatString(name, 0) != feroq::VORN_OK) {
        StopGetUser();
        return feroq::VORN_E_FAILURE;
      }
      status = GetNextUser(name);
    }
  } catch (const std::bad_alloc&) {
    // Only GetFirstUser/GetNextUser copy names, and they change nothing when
    // they fail; an iteration in progress here is this call's own.
    StopGetUser();
    return feroq::VORN_E_FAILURE;
  }
  return status == feroq::ZQAPP_E_NO_MORE ? feroq::VORN_OK : feroq::VORN_E_FAILURE;
}

VSTATUS USERTABLE::RemoveAllUsers() {
  CCriticalSectionGrabber hold(lock_);
  for (ULONG i = 0; i < count_; ++i) names_[i] = kEmptyText;
  count_ = 0;
  size_total_ = 0;
  return feroq::VORN_OK;
}

// Keeps the first entry of each account in place; each later one is
// replaced by the last used entry, which is then examined in its turn.
VSTATUS USERTABLE::RemoveDuplicates() {
  CCriticalSectionGrabber hold(lock_);
  if (count_ <= 1) return feroq::VORN_OK;
  for (ULONG i = 0; i + 1 < count_; ++i) {
    ULONG j = i + 1;
    while (j < count_) {
      if (!SameAccount(names_[i], names_[j])) {
        ++j;
        continue;
      }
      size_total_ -= names_[j].m_size;
      --count_;
      if (j < count_) ExchangeText(names_[j], names_[count_]);
      names_[count_] = kEmptyText;
    }
  }
  return feroq::VORN_OK;
}

// Takes the names of `other` and returns a copy of the result. When the
// names cannot be copied std::bad_alloc passes and this table is left empty
// with no capacity (AddUser starts it again at 20).
USERTABLE USERTABLE::operator=(const USERTABLE& other) {
  CCriticalSectionGrabber hold(lock_);
  cursor_ = kNotIterating;
  try {
    names_ = other.names_;
  } catch (const std::bad_alloc&) {
    names_.ChangeSize(0);
    count_ = 0;
    size_total_ = 0;
    throw;
  }
  count_ = other.count_;
  size_total_ = other.size_total_;
  USERTABLE copy(*this);
  return copy;
}
