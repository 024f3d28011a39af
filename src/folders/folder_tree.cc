// AppFolderObject: the tree operations (parent, move, sub-folders, deletion,
// children) with the child-count bookkeeping.
#include <new>

#include "farm/service_access.h"
#include "feroq/app_folder_object.h"
#include "feroq/zqwinapp_object.h"
#include "platform/platform.h"

HRESULT AppFolderObject::GetParentFolder(FolderObject** parent) {
  if (farm_ == nullptr) return E_ACCESSDENIED;
  VORNCommonApplicationSAL* folders = feroq::FolderServiceOf(farm_);
  if (folders == nullptr) return E_UNEXPECTED;
  ULONG64 id = 0;
  GetObjectID(id);
  ULONG64 parent_id = 0;
  VSTATUS status = folders->GetFolderParent(id, parent_id);
  if (status == VORN_E_OUTOFMEMORY) return E_OUTOFMEMORY;
  if (status != 0) return E_FAIL;
  AppFolderObject* parent_object = nullptr;
  HRESULT result = farm_->CreateAppFolderObject(parent_id, &parent_object, 0);
  *parent = parent_object;
  return result;
}

HRESULT AppFolderObject::SetParentFolder(FolderObject* parent) {
  if (farm_ == nullptr) return E_ACCESSDENIED;
  if (parent == nullptr) return E_INVALIDARG;
  _FarmObjectType type;
  parent->GetObjectType(&type);
  if (type != FarmObjectAppFolder) return E_INVALIDARG;
  VORNCommonApplicationSAL* folders = feroq::FolderServiceOf(farm_);
  if (folders == nullptr) return E_UNEXPECTED;

  ULONG64 id = 0;
  GetObjectID(id);
  ULONG64 current_parent = 0;
  // The root folder has no parent and cannot be moved.
  if (folders->GetFolderParent(id, current_parent) != 0 || current_parent == 0) return E_ACCESSDENIED;
  ULONG64 new_parent = 0;
  parent->GetObjectID(new_parent);
  if (new_parent == current_parent) return S_OK;

  VSTATUS status = folders->MoveFolder(id, current_parent, new_parent);
  if (status == FOLDER_E_MOVE_REFUSED) return E_ACCESSDENIED;
  if (status != 0) return E_FAIL;

  parent->IncrementChildCount();
  AppFolderObject* old_parent = nullptr;
  HRESULT result = farm_->CreateAppFolderObject(current_parent, &old_parent, 0);
  if (result != S_OK) return result;
  old_parent->DecrementChildCount();
  CommonObject* release = old_parent;
  farm_->FreeObject(release);
  return S_OK;
}

HRESULT AppFolderObject::CreateSubFolder(WCHAR* name, FolderObject** folder) {
  if (farm_ == nullptr) return E_ACCESSDENIED;
  VORNCommonApplicationSAL* folders = feroq::FolderServiceOf(farm_);
  if (folders == nullptr) return E_UNEXPECTED;
  ULONG64 id = 0;
  GetObjectID(id);
  ULONG64 created = 0;
  VSTATUS status = folders->CreateFolder(id, name, created);
  if (status == VORN_E_OUTOFMEMORY) return E_OUTOFMEMORY;
  if (status != 0) return E_FAIL;
  AppFolderObject* child = nullptr;
  HRESULT result = farm_->CreateAppFolderObject(created, &child, 0);
  if (result != S_OK) {
    // The caller learns of no folder, so none may be left in the farm: the
    // new folder is taken out again (as publishing does with an application
    // whose object cannot be made); the result of that is not looked at.
    folders->DeleteFolder(created);
    return result;
  }
  *folder = child;
  IncrementChildCount();
  return S_OK;
}

HRESULT AppFolderObject::Delete() {
  if (farm_ == nullptr) return S_OK;
  // As far as this library knows the folder still has children.
  if (GetChildCount() > 0) return E_ACCESSDENIED;
  VORNCommonApplicationSAL* folders = feroq::FolderServiceOf(farm_);
  if (folders == nullptr) return E_UNEXPECTED;

  FolderObject* parent = nullptr;
  HRESULT result = GetParentFolder(&parent);
  if (result != S_OK) return result;
  ULONG64 id = 0;
  GetObjectID(id);
  VSTATUS status = folders->DeleteFolder(id);
  if (status == VORN_E_OUTOFMEMORY) {
    result = E_OUTOFMEMORY;
  } else if (status == FOLDER_E_DELETE_REFUSED) {
    result = E_ACCESSDENIED;
  } else if (status != 0) {
    result = E_FAIL;
  } else {
    parent->DecrementChildCount();
    result = S_OK;
  }
  CommonObject* release = parent;
  farm_->FreeObject(release);
  return result;
}

HRESULT AppFolderObject::EnumerateChildren(CommonObject*** children, LONG* count) {
  if (farm_ == nullptr) return E_ACCESSDENIED;
  VORNCommonApplicationSAL* folders = feroq::FolderServiceOf(farm_);
  if (folders == nullptr) return E_UNEXPECTED;
  ULONG64 id = 0;
  GetObjectID(id);
  ULONG64* ids = nullptr;
  ULONG n = 0;
  VSTATUS status = folders->EnumerateFolder(id, &ids, n);
  if (status == VORN_E_OUTOFMEMORY) return E_OUTOFMEMORY;
  if (status != 0) return E_FAIL;

  const LONG requested = *count;
  const ULONG limit =
      (requested >= 1 && static_cast<ULONG>(requested) <= n) ? static_cast<ULONG>(requested) : n;
  auto* objects =
      static_cast<CommonObject**>(feroq::platform::HeapAllocZero(sizeof(CommonObject*) * limit));
  if (objects == nullptr) {
    folders->FreeMemory(reinterpret_cast<unsigned char*>(ids));
    return E_OUTOFMEMORY;
  }

  ULONG produced = 0;
  for (ULONG i = 0; i < n && produced < limit; ++i) {
    ULONG64 child_id = ids[i];
    const ULONG kind = ObjectKindOf(child_id);
    HRESULT made;
    if (kind == kObjectKindFolder) {
      AppFolderObject* folder = nullptr;
      made = farm_->CreateAppFolderObject(child_id, &folder, 0);
      if (made == S_OK) objects[produced] = folder;
    } else if (kind == kObjectKindApplication) {
      ZQWinAppObject* app = nullptr;
      made = farm_->CreateWinAppFromID(child_id, &app);
      if (made == S_OK) objects[produced] = app;
    } else {
      continue;  // other kinds are skipped and count for nothing
    }
    if (made != S_OK) break;
    ++produced;
    IncrementChildCount();
  }

  *children = objects;
  *count = static_cast<LONG>(produced);
  folders->FreeMemory(reinterpret_cast<unsigned char*>(ids));
  if (requested >= 1 && static_cast<ULONG>(requested) <= n && produced < static_cast<ULONG>(requested)) {
    return S_FALSE;
  }
  return S_OK;
}
