// SERVERTABLE: the servers that publish an application, each with its own
// _ZQAPP_SERVER_CONFIG, kept in the system library's hash table.
//
// Keys are server identifiers in the text form of VORNString(ULONG64);
// enumeration turns them back with VORNString::ToUInt64. Values are records
// that the table allocates from the platform heap and owns: it destroys and
// frees them when they are replaced, removed, flushed or when the table goes.
//
// Each entry adds its share to the size total: the initial program's size
// field plus the working directory's size field plus 9. A replaced entry's
// share stays in the total (only RemoveServer and RemoveAllServers lower it).
//
// No lock: callers serialise access, and finish or stop an enumeration
// before they add or remove entries.
#include <new>
#include <utility>

#include "feroq/services/containers.h"
#include "platform/platform.h"

namespace {

// The whole state of a VORNString is its two public members, so exchanging
// them moves texts between strings without allocating.
void ExchangeText(VORNString& a, VORNString& b) noexcept {
  std::swap(a.m_string, b.m_string);
  std::swap(a.m_size, b.m_size);
}

ULONG ShareOf(const _ZQAPP_SERVER_CONFIG& record) {
  return record.initialProgram.m_size + record.workDirectory.m_size + 9;
}

// Copies the two texts and the flags byte of `source` into `target`. Raises
// std::bad_alloc with `target` unchanged.
void CopyRecord(const _ZQAPP_SERVER_CONFIG& source, _ZQAPP_SERVER_CONFIG& target) {
  VORNString initial_program(source.initialProgram);
  VORNString work_directory(source.workDirectory);
  ExchangeText(target.initialProgram, initial_program);
  ExchangeText(target.workDirectory, work_directory);
  target.flags = source.flags;
}

// A new empty record from the platform heap, or null.
_ZQAPP_SERVER_CONFIG* NewRecord() noexcept {
  void* block = feroq::platform::HeapAllocZero(sizeof(_ZQAPP_SERVER_CONFIG));
  if (block == nullptr) return nullptr;
  return new (block) _ZQAPP_SERVER_CONFIG();  // the constructor does not allocate
}

void DeleteRecord(_ZQAPP_SERVER_CONFIG* record) noexcept {
  if (record == nullptr) return;
  record->~_ZQAPP_SERVER_CONFIG();
  feroq::platform::HeapFree(record);
}

// Fills `id` and `config` from an enumeration node. 0, or 0x80000002 with
// both unchanged.
VSTATUS ReadNode(const _ENUMNODE* node, ULONG64& id, _ZQAPP_SERVER_CONFIG& config) {
  try {
    const ULONG64 key = VORNString(node->key).ToUInt64();
    if (node->value != nullptr) {
      CopyRecord(*static_cast<const _ZQAPP_SERVER_CONFIG*>(node->value), config);
    }
    id = key;
  } catch (const std::bad_alloc&) {
    return feroq::VORN_E_OUTOFMEMORY;
  }
  return feroq::VORN_OK;
}

// Adds every entry of `source` to `target`, reading `source` through its own
// enumeration, which ends as a completed one does (or is stopped if the copy
// ends early). A source whose enumeration is already open refuses, and
// nothing is added. False when the copy could not be completed: an entry
// could not be read or added (the heap or the hash table refused); the
// entries added so far stay in `target`.
bool AddEntriesOf(SERVERTABLE& source, SERVERTABLE& target) {
  ULONG64 id = 0;
  _ZQAPP_SERVER_CONFIG record;
  VSTATUS status = source.GetFirstServer(id, record);
  if (status == feroq::ZQAPP_E_ITERATING || status == feroq::ZQAPP_E_NO_MORE) return true;
  if (status != feroq::VORN_OK) return false;
  while (status == feroq::VORN_OK) {
    if (target.AddServer(id, record) != feroq::VORN_OK) {
      source.StopGetServer();
      return false;
    }
    status = source.GetNextServer(id, record);
  }
  if (status == feroq::ZQAPP_E_NO_MORE) return true;
  source.StopGetServer();
  return false;
}

}  // namespace

// The store leaves the flags to whoever fills the entry; they start at 0 here
// so that an entry never carries indeterminate bits.
_ZQAPP_SERVER_CONFIG::_ZQAPP_SERVER_CONFIG() : flags(0), initialProgram(), workDirectory() {}

// Members go in reverse order: the working directory, then the initial program.
_ZQAPP_SERVER_CONFIG::~_ZQAPP_SERVER_CONFIG() = default;

SERVERTABLE::SERVERTABLE() : size_total_(0), enumeration_(nullptr), cursor_(nullptr) {}

// Adds every entry of `other`, read through its own enumeration (which ends
// as a completed one does). A source whose enumeration is already open
// refuses to start another, and the copy stays empty. When the copy cannot
// be completed (memory ran out) the entries copied so far are freed and
// std::bad_alloc passes.
SERVERTABLE::SERVERTABLE(SERVERTABLE& other)
    : size_total_(0), enumeration_(nullptr), cursor_(nullptr) {
  const bool complete = AddEntriesOf(other, *this);
  enumeration_ = nullptr;
  cursor_ = nullptr;
  if (!complete) {
    RemoveAllServers();
    throw std::bad_alloc();
  }
}

// Frees every record, then the hash table goes. (If the hash table cannot
// list its entries the records are not freed.)
SERVERTABLE::~SERVERTABLE() {
  StopGetServer();
  _ENUMNODE* list = nullptr;
  VSTATUS status = feroq::VORN_E_FAILURE;
  try {
    status = BeginEnum(&list);
  } catch (const std::bad_alloc&) {
    status = feroq::VORN_E_FAILURE;
  }
  if (status != feroq::VORN_OK) return;
  for (_ENUMNODE* node = list; node != nullptr; node = node->next) {
    DeleteRecord(static_cast<_ZQAPP_SERVER_CONFIG*>(node->value));
    node->value = nullptr;
  }
  EndEnum(list);
}

// Inserts or replaces the entry of `id` with a copy of `config`. 0;
// 0x80000002 when the record cannot be made (table unchanged); 0x80000001
// when the hash table refuses (the new record is freed).
VSTATUS SERVERTABLE::AddServer(ULONG64 id, const _ZQAPP_SERVER_CONFIG& config) {
  _ZQAPP_SERVER_CONFIG* record = nullptr;
  try {
    const VORNString key(id);
    record = NewRecord();
    if (record == nullptr) return feroq::VORN_E_OUTOFMEMORY;
    CopyRecord(config, *record);

    void* previous = nullptr;
    const bool replacing =
        FindItem(key.c_str(), &previous) == feroq::VORN_OK && previous != nullptr;
    VSTATUS added = feroq::VORN_E_FAILURE;
    try {
      added = AddItem(key.c_str(), record);
    } catch (const std::bad_alloc&) {
      added = feroq::VORN_E_FAILURE;
    }
    if (added != feroq::VORN_OK) {
      DeleteRecord(record);
      return feroq::VORN_E_FAILURE;
    }
    size_total_ += ShareOf(*record);
    if (replacing && previous != record) {
      DeleteRecord(static_cast<_ZQAPP_SERVER_CONFIG*>(previous));
    }
  } catch (const std::bad_alloc&) {
    DeleteRecord(record);
    return feroq::VORN_E_OUTOFMEMORY;
  }
  return feroq::VORN_OK;
}

// 0; 0x80000001 when `id` is absent or the hash table refuses (nothing
// changed); 0x80000002 when the key cannot be made.
VSTATUS SERVERTABLE::RemoveServer(ULONG64 id) {
  try {
    const VORNString key(id);
    void* value = nullptr;
    if (FindItem(key.c_str(), &value) != feroq::VORN_OK) return feroq::VORN_E_FAILURE;
    if (DeleteItem(key.c_str()) != feroq::VORN_OK) return feroq::VORN_E_FAILURE;
    if (value != nullptr) {
      auto* record = static_cast<_ZQAPP_SERVER_CONFIG*>(value);
      size_total_ -= ShareOf(*record);
      DeleteRecord(record);
    }
  } catch (const std::bad_alloc&) {
    return feroq::VORN_E_OUTOFMEMORY;
  }
  return feroq::VORN_OK;
}

// 0 and a copy of the entry; 0x80000001 when `id` is absent; 0x80000002 when
// memory runs out (`config` unchanged).
VSTATUS SERVERTABLE::FindServer(ULONG64 id, _ZQAPP_SERVER_CONFIG& config) {
  try {
    const VORNString key(id);
    void* value = nullptr;
    if (FindItem(key.c_str(), &value) != feroq::VORN_OK || value == nullptr)
      return feroq::VORN_E_FAILURE;
    CopyRecord(*static_cast<const _ZQAPP_SERVER_CONFIG*>(value), config);
  } catch (const std::bad_alloc&) {
    return feroq::VORN_E_OUTOFMEMORY;
  }
  return feroq::VORN_OK;
}

// Opens an enumeration and reads its first entry. 0x801D1108 while one is
// open; 0x801D1101 for an empty table (no enumeration is left open);
// 0x80000001 when the hash table cannot list its entries; 0x80000002 when
// the entry cannot be copied (the enumeration is then closed again).
VSTATUS SERVERTABLE::GetFirstServer(ULONG64& id, _ZQAPP_SERVER_CONFIG& config) {
  if (enumeration_ != nullptr) return feroq::ZQAPP_E_ITERATING;
  _ENUMNODE* list = nullptr;
  VSTATUS status = feroq::VORN_E_FAILURE;
  try {
    status = BeginEnum(&list);
  } catch (const std::bad_alloc&) {
    status = feroq::VORN_E_FAILURE;
  }
  if (status != feroq::VORN_OK) return feroq::VORN_E_FAILURE;
  if (list == nullptr) {
    EndEnum(list);
    return feroq::ZQAPP_E_NO_MORE;
  }
  const VSTATUS read = ReadNode(list, id, config);
  if (read != feroq::VORN_OK) {
    EndEnum(list);
    return read;
  }
  enumeration_ = list;
  cursor_ = list;
  return feroq::VORN_OK;
}

// Reads the next entry. 0x801D1107 when no enumeration is open; 0x801D1101
// after the last entry (the enumeration closes); 0x80000002 when the entry
// cannot be copied (the cursor stays, so the call can be repeated).
VSTATUS SERVERTABLE::GetNextServer(ULONG64& id, _ZQAPP_SERVER_CONFIG& config) {
  if (enumeration_ == nullptr) return feroq::ZQAPP_E_NOT_ITERATING;
  _ENUMNODE* next = cursor_->next;
  if (next == nullptr) {
    EndEnum(enumeration_);
    enumeration_ = nullptr;
    cursor_ = nullptr;
    return feroq::ZQAPP_E_NO_MORE;
  }
  const VSTATUS read = ReadNode(next, id, config);
  if (read != feroq::VORN_OK) return read;
  cursor_ = next;
  return feroq::VORN_OK;
}

void SERVERTABLE::StopGetServer() {
  if (enumeration_ == nullptr) return;
  EndEnum(enumeration_);
  enumeration_ = nullptr;
  cursor_ = nullptr;
}

USHORT SERVERTABLE::GetServerCount() { return GetCount(); }

ULONG SERVERTABLE::SizeOfServers() const { return size_total_; }

// Frees every record and empties the table; the size total becomes 0.
// 0x80000001 when the hash table cannot list its entries (nothing freed).
VSTATUS SERVERTABLE::RemoveAllServers() {
  StopGetServer();
  _ENUMNODE* list = nullptr;
  VSTATUS status = feroq::VORN_E_FAILURE;
  try {
    status = BeginEnum(&list);
  } catch (const std::bad_alloc&) {
    status = feroq::VORN_E_FAILURE;
  }
  if (status != feroq::VORN_OK) return feroq::VORN_E_FAILURE;
  for (_ENUMNODE* node = list; node != nullptr; node = node->next) {
    DeleteRecord(static_cast<_ZQAPP_SERVER_CONFIG*>(node->value));
    node->value = nullptr;
  }
  EndEnum(list);
  FlushTable();
  enumeration_ = nullptr;
  cursor_ = nullptr;
  size_total_ = 0;
  return feroq::VORN_OK;
}

// Replaces every entry with those of `other`, read as the copy constructor
// reads them. When the copy cannot be completed (memory ran out) this table
// is left empty and std::bad_alloc passes.
SERVERTABLE& SERVERTABLE::operator=(SERVERTABLE& other) {
  if (this == &other) return *this;
  RemoveAllServers();
  size_total_ = 0;

  const bool complete = AddEntriesOf(other, *this);
  enumeration_ = nullptr;
  cursor_ = nullptr;
  if (!complete) {
    RemoveAllServers();
    throw std::bad_alloc();
  }
  return *this;
}
