// AppFolderObject: one application folder of the farm.
//
// Attached objects (made by FarmObject::CreateAppFolderObject) have a farm
// and work through its folder service; each operation is one or two
// folder-service calls plus the library's bookkeeping (registry, child
// counts, the cached name). Detached objects (made from an identifier and a
// name, for events about renamed or deleted folders) have none: they answer
// GetObjectName from their cached name, the CommonObject accessors and
// GetVersion; Delete returns S_OK and does nothing; every other operation
// returns E_ACCESSDENIED.
//
// Objects are shared by all holders of the same folder (one per
// identifier) and used by one thread at a time; the child count alone may
// be changed from several threads.
#ifndef FEROQ_APP_FOLDER_OBJECT_H_
#define FEROQ_APP_FOLDER_OBJECT_H_

#include "feroq/common_object.h"

class FarmObject;
namespace feroq {
class ObjectAccess;
}

class FEROQ_API AppFolderObject : public FolderObject {
 public:
  // Attached: type FarmObjectAppFolder, count 1, child count 0, no cached
  // name, not registered (FarmObject::CreateAppFolderObject registers).
  AppFolderObject(ULONG64 id, FarmObject* farm);
  // Detached: the cached name is a copy of `name` (null or empty: none).
  AppFolderObject(ULONG64 id, char16_t* name);
  // Copies the base part, the farm and the cached name into a buffer of its
  // own; the copy is not registered.
  AppFolderObject(const AppFolderObject& other);
  AppFolderObject& operator=(const AppFolderObject& other);
  // Frees the cached name; an attached object removes its registry entry.
  ~AppFolderObject() override;

  // The operations below that need the farm answer E_ACCESSDENIED on a
  // detached object and E_UNEXPECTED when the farm has no folder service,
  // after their own argument checks.

  // The folder's path (CommonObject::GetDistinguishedName), a new string
  // released with FarmObject::FreeMemory. E_FAIL when the folder's parent or
  // a name on the path cannot be read; E_OUTOFMEMORY.
  HRESULT GetDistinguishedName(char16_t** name) override;
  // A new copy of the folder's name, released with FarmObject::FreeMemory.
  // Attached: the name as the folder service has it now, which also
  // refreshes the cached name. When the service cannot read it (the folder
  // is gone) the last name read stands in: it is copied into `*name` if
  // `*name` is null on entry, and the result is still S_OK (nothing is
  // written when no name was ever read). Detached: the cached name, or null
  // with S_OK when there is none. E_INVALIDARG for a null `name`;
  // E_OUTOFMEMORY (nothing written).
  HRESULT GetObjectName(char16_t** name) override;
  // The parent folder with a new reference for the caller, released with
  // FarmObject::FreeObject (unlike ZQWinAppObject::GetParentFolder, which
  // lends its cached parent). E_OUTOFMEMORY or E_FAIL when the folder
  // service cannot read the parent (`*parent` untouched);
  // FarmObject::CreateAppFolderObject's failures (`*parent` null). What the
  // root folder's parent is depends on the folder service.
  HRESULT GetParentFolder(FolderObject** parent) override;
  // Writes 0; S_OK, attached or not.
  HRESULT GetVersion(LONG* version) override;
  // Renames the folder in the farm and caches the new name. E_INVALIDARG for
  // a null or empty name (before anything else); E_ACCESSDENIED when the
  // folder service refuses the name; E_FAIL for its other failures (the
  // cached name is unchanged on every failure).
  HRESULT SetObjectName(char16_t* name) override;
  // Creates a folder named `name` in this one and hands it out with one
  // reference (give it back with FarmObject::FreeObject); raises this
  // folder's child count. The name is checked by the folder service only.
  // E_OUTOFMEMORY or E_FAIL when the service fails; when the new folder's
  // object cannot be made (E_OUTOFMEMORY) the folder is deleted again, so
  // the farm is unchanged. `*folder` is written only with S_OK.
  HRESULT CreateSubFolder(char16_t* name, FolderObject** folder) override;
  // Deletes the folder in the farm and lowers its parent's child count; the
  // object stays valid for its holders and is released as usual. S_OK and
  // nothing done on a detached object. E_ACCESSDENIED when the child count
  // is above 0 (children known to this library, see GetChildCount) or the
  // folder service refuses; E_OUTOFMEMORY or E_FAIL for the service's other
  // failures; GetParentFolder's failures.
  HRESULT Delete() override;
  // The folder's child folders and applications in the folder service's
  // order. On entry `*count` is the most wanted (1 or more; 0, a negative
  // value or more than there are: all); on return the number delivered.
  // `*children` is an array of that many objects, each with one reference
  // (give each back with FarmObject::FreeObject), the array itself released
  // with FarmObject::FreeMemory even when it is empty. Each object delivered
  // raises this folder's child count. An object that cannot be made ends
  // the array there without an error: S_FALSE when a number of 1 or more was
  // asked for and fewer came back, S_OK otherwise. E_OUTOFMEMORY or E_FAIL
  // when the folder service cannot list the children, E_OUTOFMEMORY when the
  // array cannot be had: outputs untouched.
  HRESULT EnumerateChildren(CommonObject*** children, LONG* count) override;
  // Moves the folder into `parent` in the farm: raises the new parent's
  // child count and lowers the old one's. S_OK without any change when
  // `parent` is already the parent. E_ACCESSDENIED on a detached object,
  // for the root folder (it has no parent) or when the folder service
  // refuses the move; E_INVALIDARG for a null `parent` or one that is not a
  // folder; E_FAIL for the service's other failures. When the old parent's
  // object cannot be made afterwards its failure is returned, but the move
  // stands.
  HRESULT SetParentFolder(FolderObject* parent) override;

  // The farm this object works through; null when detached.
  FarmObject* farm() const { return farm_; }

 private:
  // The library's own view of the object (src/farm/object_access.h).
  friend class feroq::ObjectAccess;

  // Keeps the cached name in step with `name` (see the name cache rules in
  // app_folder_object.cc).
  void UpdateNameCache(const char16_t* name);
  // Hands the caller a heap copy of the cached name.
  HRESULT CopyCachedName(char16_t** name);

  FarmObject* farm_;
  char16_t* cached_name_;
  ULONG cached_name_capacity_;
  LONG cached_name_length_;
};

#endif  // FEROQ_APP_FOLDER_OBJECT_H_
