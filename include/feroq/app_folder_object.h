// AppFolderObject: one application folder of the farm.
//
// Attached objects (made by FarmObject::CreateAppFolderObject) have a farm
// and work through its folder service. Detached objects (made from an
// identifier and a name, for events about renamed or deleted folders) have
// none: they answer GetObjectName from their cached name, the CommonObject
// accessors and GetVersion; Delete returns S_OK and does nothing; every other
// operation returns E_ACCESSDENIED.
#ifndef FEROQ_APP_FOLDER_OBJECT_H_
#define FEROQ_APP_FOLDER_OBJECT_H_

#include "feroq/common_object.h"

class FarmObject;

class FEROQ_API AppFolderObject : public FolderObject {
 public:
  // Attached: type FarmObjectAppFolder, count 1, child count 0, no cached name.
  AppFolderObject(ULONG64 id, FarmObject* farm);
  // Detached: the cached name is a copy of `name` (null or empty: none).
  AppFolderObject(ULONG64 id, WCHAR* name);
  AppFolderObject(const AppFolderObject& other);
  AppFolderObject& operator=(const AppFolderObject& other);
  // Frees the cached name; an attached object removes its registry entry.
  ~AppFolderObject() override;

  HRESULT GetDistinguishedName(WCHAR** name) override;
  HRESULT GetObjectName(WCHAR** name) override;
  HRESULT GetParentFolder(FolderObject** parent) override;
  // Writes 0; S_OK.
  HRESULT GetVersion(LONG* version) override;
  HRESULT SetObjectName(WCHAR* name) override;
  HRESULT CreateSubFolder(WCHAR* name, FolderObject** folder) override;
  HRESULT Delete() override;
  HRESULT EnumerateChildren(CommonObject*** children, LONG* count) override;
  HRESULT SetParentFolder(FolderObject* parent) override;

  // The farm this object works through; null when detached.
  FarmObject* farm() const { return farm_; }
  // Capacity in bytes of the cached name's buffer (0 when none).
  ULONG CachedNameCapacity() const { return cached_name_capacity_; }

 private:
  // Keeps the cached name in step with `name` (see the name cache rules in
  // app_folder_object.cc).
  void UpdateNameCache(const WCHAR* name);
  // Hands the caller a heap copy of the cached name.
  HRESULT CopyCachedName(WCHAR** name);

  FarmObject* farm_;
  WCHAR* cached_name_;
  ULONG cached_name_capacity_;
  LONG cached_name_length_;
};

#endif  // FEROQ_APP_FOLDER_OBJECT_H_
