// The system library's value types: wide strings, string lists, the hash
// table keyed by wide strings, and the re-entrant lock.
//
// Allocation failures inside these types raise std::bad_alloc, except in the
// operations that return a result code (VORNMultiString::CopyOrConcatString
// and the hash table's operations), which report 0x80000002 instead; a
// failed operation leaves its object unchanged. Nothing else raises. Memory
// comes from the platform heap, so tests can make it fail.
#ifndef FEROQ_VORN_SYSTEM_H_
#define FEROQ_VORN_SYSTEM_H_

#include <cstddef>
#include <mutex>

#include "feroq/services/service_codes.h"
#include "feroq/types.h"

// A NUL-terminated UTF-16 string value. Callers read the two public members
// directly: `m_string` is never null (an empty string is a lone NUL) and
// `m_size` is the size in bytes including the NUL, so 2 means empty.
class FEROQ_SERVICES_API VORNString {
 public:
  VORNString();
  VORNString(const VORNString& other);
  // A null `text` makes an empty string.
  VORNString(const char16_t* text);  // NOLINT: implicit, as the system type is
  // The decimal text form of `value`; converts back with ToUInt64.
  explicit VORNString(ULONG64 value);
  ~VORNString();

  VORNString& operator=(const VORNString& other);
  // A null `text` empties the string.
  VORNString& operator=(const char16_t* text);

  // The value of a decimal text form; 0 when the text is not one.
  ULONG64 ToUInt64() const;
  explicit operator ULONG64() const { return ToUInt64(); }

  const char16_t* c_str() const { return m_string; }
  // Length in UTF-16 units, without the NUL.
  ULONG Length() const { return m_size / 2 - 1; }
  bool IsEmpty() const { return m_size <= 2; }
  bool operator==(const VORNString& other) const;

  // Arrays of strings that a service hands out (new[] here, delete[] in the
  // caller's library) live on the platform heap both libraries share.
  static void* operator new[](std::size_t size);
  static void operator delete[](void* block) noexcept;

  char16_t* m_string;
  ULONG m_size;
#if defined(FEROQ_FARM_RECORD_LAYOUTS)
  // The rest of the system library's 72 bytes, which records that hold a
  // string keep; never read.
  BYTE m_reserved[64] = {};
#endif
};
#if defined(FEROQ_FARM_RECORD_LAYOUTS)
static_assert(sizeof(VORNString) == 72);
static_assert(offsetof(VORNString, m_string) == 0 && offsetof(VORNString, m_size) == 4);
#endif

// An ordered list of strings, read with GetHeadString/GetNextString.
class FEROQ_SERVICES_API VORNMultiString {
 public:
  VORNMultiString();
  VORNMultiString(const VORNMultiString&) = delete;
  VORNMultiString& operator=(const VORNMultiString&) = delete;
  ~VORNMultiString();

  // An empty or null `text` empties the list; any other makes it that one string.
  VORNMultiString& operator=(const char16_t* text);
  // flag 0 appends `text` to the list; any other flag replaces the list with it.
  // Returns 0, or 0x80000002 when memory runs out (the list is then unchanged).
  VSTATUS CopyOrConcatString(const VORNString& text, ULONG flag);
  // The first string (and restarts the walk), or null for an empty list.
  const char16_t* GetHeadString();
  // The string after the one last returned, or null after the last.
  const char16_t* GetNextString();
  ULONG GetCount() const;

  // As VORNString's arrays.
  static void* operator new[](std::size_t size);
  static void operator delete[](void* block) noexcept;

 private:
  struct Impl;
  Impl* impl_;
};

// One node of an enumeration list from VORN_TABLE_HashTable::BeginEnum: the
// key first, the value second, the next node as its fifth word.
struct _ENUMNODE {
  const char16_t* key;
  void* value;
  ULONG hash;
  ULONG reserved;
  _ENUMNODE* next;
};

// A table from wide-string keys to pointer values. Keys are copied; values are
// the caller's (the table never frees them). Results: 0 success, non-zero
// failure. The virtual operations stand in this order.
class FEROQ_SERVICES_API VORN_TABLE_HashTable {
 private:
  virtual VORN_TABLE_HashTable& operator=(const VORN_TABLE_HashTable& other);

 public:
  VORN_TABLE_HashTable();
  VORN_TABLE_HashTable(const VORN_TABLE_HashTable&) = delete;
  virtual ~VORN_TABLE_HashTable();
  // Adds `key`; a key already present takes `value` as its new value.
  virtual VSTATUS AddItem(const char16_t* key, void* value);
  // Changes the value of a present key; fails for an absent one.
  virtual VSTATUS UpdateItem(const char16_t* key, void* value);
  // The stored key whose value is `value`, or null.
  virtual const char16_t* FindItem(void* value);
  // 0 and `*value` when `key` is present; non-zero otherwise.
  virtual VSTATUS FindItem(const char16_t* key, void** value);
  // 0 when `key` was removed; non-zero when absent.
  virtual VSTATUS DeleteItem(const char16_t* key);
  virtual USHORT GetCount();
  // 0 and a chain of nodes (null for an empty table); release with EndEnum.
  virtual VSTATUS BeginEnum(_ENUMNODE** list);
  virtual VSTATUS EndEnum(_ENUMNODE* list);
  // Removes every key.
  virtual VSTATUS FlushTable();

 private:
  struct Impl;
  Impl* impl_;
};

// A re-entrant lock: the thread that holds it may take it again.
class FEROQ_SERVICES_API CCriticalSection {
 public:
  CCriticalSection() = default;
  CCriticalSection(const CCriticalSection&) = delete;
  CCriticalSection& operator=(const CCriticalSection&) = delete;
  void Lock() { mutex_.lock(); }
  void Unlock() { mutex_.unlock(); }

 private:
  std::recursive_mutex mutex_;
};

// Holds a CCriticalSection from construction to destruction (also when an
// exception passes).
class CCriticalSectionGrabber {
 public:
  explicit CCriticalSectionGrabber(CCriticalSection& section) : section_(section) { section_.Lock(); }
  ~CCriticalSectionGrabber() { section_.Unlock(); }
  CCriticalSectionGrabber(const CCriticalSectionGrabber&) = delete;
  CCriticalSectionGrabber& operator=(const CCriticalSectionGrabber&) = delete;

 private:
  CCriticalSection& section_;
};

#endif  // FEROQ_VORN_SYSTEM_H_
