// The record containers: the growable array template, the user table and the
// server table that every application record carries.
//
// Unlike the rest of the interface these raise exceptions:
// VORN_OutOfBoundsException for a bad index, and std::bad_alloc where the
// comments say so.
#ifndef FEROQ_CONTAINERS_H_
#define FEROQ_CONTAINERS_H_

#include <cstddef>
#include <type_traits>

#include "feroq/services/service_codes.h"
#include "feroq/services/user_service.h"
#include "feroq/services/vorn_system.h"

namespace feroq::services {
class RecordAccess;
}

// Raised for an index outside an array; carries nothing.
class FEROQ_SERVICES_API VORN_OutOfBoundsException {
 public:
  VORN_OutOfBoundsException() = default;
};

class FEROQ_SERVICES_API VORN_SimpleArrayBase {
 public:
  VORN_SimpleArrayBase() = default;
  VORN_SimpleArrayBase(const VORN_SimpleArrayBase&) = default;
  VORN_SimpleArrayBase& operator=(const VORN_SimpleArrayBase&) = default;
  ~VORN_SimpleArrayBase() = default;

  virtual ULONG Count() const = 0;
  virtual ULONG ChangeSize(ULONG count) = 0;
  virtual ULONG GetDataSize() const = 0;
};

// A bounds-checked array that grows only when its owner says so.
// Instantiated for VORNString (72-byte elements as reported by GetDataSize),
// ULONG (4) and UM_AccountInfo (76).
template <typename T>
class VORN_SimpleArray : public VORN_SimpleArrayBase {
 public:
  VORN_SimpleArray();
  VORN_SimpleArray(const VORN_SimpleArray&) = delete;
  virtual ~VORN_SimpleArray();

  ULONG Count() const override { return count_; }
  // Resizes to exactly `count` elements, keeping the first min(old, new).
  // Returns the new count; on allocation failure the array ends empty
  // (count 0, old contents lost) and 0 is returned.
  ULONG ChangeSize(ULONG count) override;
  // 4 plus the count times the element size.
  ULONG GetDataSize() const override;
  // Raises VORN_OutOfBoundsException when the index is not below the count
  // or the array holds no storage.
  T& operator[](ULONG index);
  const T& operator[](ULONG index) const;
  // Copies `other`. On allocation failure raises std::bad_alloc, leaving this
  // array with the new count but no storage.
  VORN_SimpleArray& operator=(const VORN_SimpleArray& other);

  // Strings only. Room for `count` strings in `storage` (LentBytes(count)
  // bytes, aligned as a heap block), which the array's owner lends and keeps
  // until the array is destroyed: the array never releases it, and leaves it
  // for storage of its own at its next ChangeSize or assignment. Nothing is
  // allocated, so nothing can fail. For an array without storage.
  static std::size_t LentBytes(ULONG count)
    requires std::is_same_v<T, VORNString>;
  void UseLent(void* storage, ULONG count)
    requires std::is_same_v<T, VORNString>;

 private:
  ULONG count_;
  T* data_;
};

extern template class FEROQ_SERVICES_API VORN_SimpleArray<VORNString>;
extern template class FEROQ_SERVICES_API VORN_SimpleArray<ULONG>;
extern template class FEROQ_SERVICES_API VORN_SimpleArray<UM_AccountInfo>;

// The users authorised to run an application: an ordered list of account
// directory names. Every operation but GetCount, GetUserCount and SizeOfUsers
// holds the table's re-entrant lock. Codes: 0 success, 0x80000001 failure,
// 0x801D1101 no (more) entries, 0x801D1107 no iteration, 0x801D1108 an
// iteration is already in progress.
class FEROQ_SERVICES_API USERTABLE {
 public:
  USERTABLE();
  // As USERTABLE(), with the room for 20 names in `slots` (LentSlotsBytes()
  // bytes, aligned as a heap block) that the caller lends and keeps until
  // the table is destroyed (VORN_SimpleArray::UseLent): nothing is
  // allocated, so nothing can fail. Null: USERTABLE().
  explicit USERTABLE(void* slots);
  static std::size_t LentSlotsBytes();
  // Copies the names of `other` (whose lock is not taken); no iteration.
  USERTABLE(const USERTABLE& other);
  virtual ~USERTABLE();

  USHORT GetCount() const;
  USHORT GetUserCount() const;
  ULONG SizeOfUsers() const;
  VSTATUS SetArraySize(ULONG capacity);
  VSTATUS AddUser(const VORNString& name);
  VSTATUS RemoveUser(const VORNString& name);
  VSTATUS FindUser(const VORNString& name);
  VSTATUS GetFirstUser(VORNString& name);
  VSTATUS GetNextUser(VORNString& name);
  void StopGetUser();
  VSTATUS GetAllUsers(VORNMultiString& list);
  VSTATUS RemoveAllUsers();
  VSTATUS RemoveDuplicates();
  // Takes the names of `other` and returns a copy of the result by value.
  USERTABLE operator=(const USERTABLE& other);

 private:
  // The store's own view of the table (src/services/record_access.h).
  friend class feroq::services::RecordAccess;

  VORN_SimpleArray<VORNString> names_;
  ULONG count_;
  ULONG cursor_;
  ULONG size_total_;
  CCriticalSection lock_;
};

// One server entry of an application: the server's own initial program and
// working directory.
struct FEROQ_SERVICES_API _ZQAPP_SERVER_CONFIG {
  _ZQAPP_SERVER_CONFIG();
  ~_ZQAPP_SERVER_CONFIG();
  _ZQAPP_SERVER_CONFIG(const _ZQAPP_SERVER_CONFIG&) = default;
  _ZQAPP_SERVER_CONFIG& operator=(const _ZQAPP_SERVER_CONFIG&) = default;

  // Bit 2: initialProgram holds the server's own initial program.
  // Bit 1: workDirectory holds the server's own working directory.
  BYTE flags;
  VORNString initialProgram;
  VORNString workDirectory;
};
#if defined(FEROQ_FARM_RECORD_LAYOUTS)
static_assert(sizeof(_ZQAPP_SERVER_CONFIG) == 148);
static_assert(offsetof(_ZQAPP_SERVER_CONFIG, initialProgram) == 4);
static_assert(offsetof(_ZQAPP_SERVER_CONFIG, workDirectory) == 76);
#endif

namespace feroq {
constexpr BYTE kServerConfigHasWorkDirectory = 1;
constexpr BYTE kServerConfigHasInitialProgram = 2;
}  // namespace feroq

// The servers that publish an application, keyed by server identifier, each
// with its own _ZQAPP_SERVER_CONFIG (owned by the table). No lock. Codes: 0
// success, 0x80000001 failure, 0x80000002 out of memory, 0x801D1101 no (more)
// entries, 0x801D1107 no enumeration, 0x801D1108 an enumeration is open.
class FEROQ_SERVICES_API SERVERTABLE : public VORN_TABLE_HashTable {
 public:
  SERVERTABLE();
  // Copies `other` through its own enumeration; a source whose enumeration is
  // open gives an empty copy.
  SERVERTABLE(SERVERTABLE& other);
  ~SERVERTABLE() override;

  VSTATUS AddServer(ULONG64 id, const _ZQAPP_SERVER_CONFIG& config);
  VSTATUS RemoveServer(ULONG64 id);
  VSTATUS FindServer(ULONG64 id, _ZQAPP_SERVER_CONFIG& config);
  VSTATUS GetFirstServer(ULONG64& id, _ZQAPP_SERVER_CONFIG& config);
  VSTATUS GetNextServer(ULONG64& id, _ZQAPP_SERVER_CONFIG& config);
  void StopGetServer();
  USHORT GetServerCount();
  ULONG SizeOfServers() const;
  VSTATUS RemoveAllServers();
  SERVERTABLE& operator=(SERVERTABLE& other);

 private:
  ULONG size_total_;
  _ENUMNODE* enumeration_;
  _ENUMNODE* cursor_;
};

#endif  // FEROQ_CONTAINERS_H_
