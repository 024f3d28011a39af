// The abstract bases of every object a farm hands out: CommonObject (type,
// identifier, reference count) and FolderObject (child count and the folder
// operations).
//
// Objects are obtained from a FarmObject and given back with
// FarmObject::FreeObject, one call per reference received; a pointer kept
// after its reference was given back must not be used. Reference counts are
// not atomic: one thread at a time uses an object and its farm object. Child
// counts change only with interlocked operations. None of the operations
// tests its pointer arguments for null unless its comment says so.
#ifndef FEROQ_COMMON_OBJECT_H_
#define FEROQ_COMMON_OBJECT_H_

#include <cstddef>
#include <new>

#include "feroq/types.h"

enum _FarmObjectType : std::int32_t {
  FarmObjectAppFolder = 0,
  FarmObjectWinApp = 1,
};

class FolderObject;

class FEROQ_API CommonObject {
 public:
  // Type and identifier as given, reference count 1. Registers nothing.
  CommonObject(_FarmObjectType type, ULONG64 id);
  // Copies type, identifier and reference count.
  CommonObject(const CommonObject& other);
  CommonObject& operator=(const CommonObject& other);

  // Objects handed out by a farm are destroyed by FarmObject::FreeObject,
  // never with delete by the tool.
  virtual ~CommonObject();
  // Lowers the count by one unless it is 0. The registry's own call: a tool
  // gives references back with FarmObject::FreeObject.
  virtual void DecrementRefCount();
  // A new string, released with FarmObject::FreeMemory: the path of the
  // object in the folder tree, a backslash before each folder from the root
  // down and before the object's own name (\Applications\Office\Editor);
  // nothing is escaped. Base: sets *name to null, E_NOTIMPL.
  virtual HRESULT GetDistinguishedName(char16_t** name);
  // Writes the identifier; S_OK.
  virtual HRESULT GetObjectID(ULONG64& id);
  // A new string with the object's name, released with FarmObject::FreeMemory.
  // Base: sets *name to null, E_NOTIMPL.
  virtual HRESULT GetObjectName(char16_t** name);
  // Writes the type; S_OK.
  virtual HRESULT GetObjectType(_FarmObjectType* type);
  // The folder the object lies in. Who owns the result differs by class:
  // AppFolderObject hands out a new reference, which the caller gives back
  // with FarmObject::FreeObject; ZQWinAppObject lends the parent it caches,
  // which the caller must not release (it stays valid while the application
  // object lives and keeps it). See each class.
  virtual HRESULT GetParentFolder(FolderObject** parent) = 0;
  // The reference count.
  virtual ULONG GetRefCount();
  // Base: E_NOTIMPL, *version unchanged.
  virtual HRESULT GetVersion(LONG* version);
  // Raises the count by one; at 0xFFFFFFFF it stays. The registry's own
  // call, as DecrementRefCount.
  virtual void IncrementRefCount();
  // Base: E_NOTIMPL.
  virtual HRESULT SetObjectName(char16_t* name);

  // Objects live on the platform heap, so that tests can make their creation
  // fail; `new (std::nothrow)` yields null then.
  static void* operator new(std::size_t size);
  static void* operator new(std::size_t size, const std::nothrow_t&) noexcept;
  static void operator delete(void* block) noexcept;
  static void operator delete(void* block, const std::nothrow_t&) noexcept;

 private:
  _FarmObjectType type_;
  ULONG64 id_;
  ULONG ref_count_;
};

// What every folder adds: a child count and the folder operations
// (AppFolderObject documents them).
class FEROQ_API FolderObject : public CommonObject {
 public:
  // As CommonObject, child count 0.
  FolderObject(_FarmObjectType type, ULONG64 id);
  FolderObject(const FolderObject& other);
  FolderObject& operator=(const FolderObject& other);
  ~FolderObject() override;

  // The children this library knows the folder to have: its own
  // bookkeeping, not the number of children in the farm. It rises for each
  // child EnumerateChildren hands out, each CreateSubFolder, each application
  // that caches the folder as its parent and each move into the folder, and
  // falls when a child is deleted or moved away through the library. A
  // folder whose count is above 0 refuses Delete. Safe to read and change
  // from several threads.
  LONG GetChildCount();
  // Change the child count atomically and return the new value; no floor or
  // ceiling.
  LONG IncrementChildCount();
  LONG DecrementChildCount();

  // The folder operations; AppFolderObject states their contracts.
  virtual HRESULT CreateSubFolder(char16_t* name, FolderObject** folder) = 0;
  virtual HRESULT Delete() = 0;
  virtual HRESULT EnumerateChildren(CommonObject*** children, LONG* count) = 0;
  virtual HRESULT SetParentFolder(FolderObject* parent) = 0;

 private:
  volatile LONG child_count_;
};

// Interface classes kept for compatibility: no data, unnamed operations,
// nothing in the library derives from or calls them.
class FEROQ_API NDSDrvInterface1 {
 public:
  NDSDrvInterface1() = default;
  NDSDrvInterface1(const NDSDrvInterface1&) = default;
  NDSDrvInterface1& operator=(const NDSDrvInterface1&) { return *this; }
  virtual HRESULT Operation1() = 0;
  virtual HRESULT Operation2() = 0;
  virtual HRESULT Operation3() = 0;
};

class FEROQ_API WinDrvInterface1 {
 public:
  WinDrvInterface1() = default;
  WinDrvInterface1(const WinDrvInterface1&) = default;
  WinDrvInterface1& operator=(const WinDrvInterface1&) { return *this; }
  virtual HRESULT Operation1() = 0;
};

#endif  // FEROQ_COMMON_OBJECT_H_
