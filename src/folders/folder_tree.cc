// AppFolderObject: the tree operations (parent, move, sub-folders, deletion,
// children) with the child-count bookkeeping.
#include "farm/holders.h"
#include "farm/service_access.h"
#include "farm/service_status.h"
#include "feroq/app_folder_object.h"
#include "feroq/zqwinapp_object.h"
#include "platform/platform.h"

namespace {

constexpr feroq::StatusMapping kMoveStatuses[] = {{feroq::FOLDER_E_MOVE_REFUSED, E_ACCESSDENIED}};
constexpr feroq::StatusMapping kDeleteStatuses[] = {{feroq::VORN_E_OUTOFMEMORY, E_OUTOFMEMORY},
                                                    {feroq::FOLDER_E_DELETE_REFUSED, E_ACCESSDENIED}};

}  // namespace

HRESULT AppFolderObject::GetParentFolder(FolderObject** parent) {
  if (farm_ == nullptr) return E_ACCESSDENIED;
  VORNCommonApplicationSAL* folders = feroq::FolderServiceOf(farm_);
  if (folders == nullptr) return E_UNEXPECTED;
  ULONG64 id = 0;
  GetObjectID(id);
  ULONG64 parent_id = 0;
  if (HRESULT result = feroq::MapServiceStatus(folders->GetFolderParent(id, parent_id), feroq::kOutOfMemoryStatus);
      result != S_OK) {
    return result;
  }
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

  if (HRESULT result = feroq::MapServiceStatus(folders->MoveFolder(id, current_parent, new_parent), kMoveStatuses);
      result != S_OK) {
    return result;
  }
  parent->IncrementChildCount();
  feroq::ObjectRef<AppFolderObject> old_parent(farm_);
  if (HRESULT result = farm_->CreateAppFolderObject(current_parent, &old_parent.out(), 0); result != S_OK) {
    return result;
  }
  old_parent->DecrementChildCount();
  return S_OK;
}

HRESULT AppFolderObject::CreateSubFolder(char16_t* name, FolderObject** folder) {
  if (farm_ == nullptr) return E_ACCESSDENIED;
  VORNCommonApplicationSAL* folders = feroq::FolderServiceOf(farm_);
  if (folders == nullptr) return E_UNEXPECTED;
  ULONG64 id = 0;
  GetObjectID(id);
  ULONG64 created = 0;
  if (HRESULT result = feroq::MapServiceStatus(folders->CreateFolder(id, name, created), feroq::kOutOfMemoryStatus);
      result != S_OK) {
    return result;
  }
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

  feroq::ObjectRef<FolderObject> parent(farm_);
  if (HRESULT result = GetParentFolder(&parent.out()); result != S_OK) return result;
  ULONG64 id = 0;
  GetObjectID(id);
  const HRESULT result = feroq::MapServiceStatus(folders->DeleteFolder(id), kDeleteStatuses);
  if (result == S_OK) parent->DecrementChildCount();
  return result;
}

HRESULT AppFolderObject::EnumerateChildren(CommonObject*** children, LONG* count) {
  if (farm_ == nullptr) return E_ACCESSDENIED;
  VORNCommonApplicationSAL* folders = feroq::FolderServiceOf(farm_);
  if (folders == nullptr) return E_UNEXPECTED;
  ULONG64 id = 0;
  GetObjectID(id);
  feroq::FolderServiceBlock<ULONG64> ids(folders);
  ULONG n = 0;
  if (HRESULT result = feroq::MapServiceStatus(folders->EnumerateFolder(id, &ids.out(), n), feroq::kOutOfMemoryStatus);
      result != S_OK) {
    return result;
  }

  const LONG requested = *count;
  const bool counted = requested >= 1 && static_cast<ULONG>(requested) <= n;
  const ULONG limit = counted ? static_cast<ULONG>(requested) : n;
  auto* objects = static_cast<CommonObject**>(feroq::platform::HeapAllocZero(sizeof(CommonObject*) * limit));
  if (objects == nullptr) return E_OUTOFMEMORY;

  ULONG produced = 0;
  for (ULONG i = 0; i < n && produced < limit; ++i) {
    ULONG64 child_id = ids.get()[i];
    const ULONG kind = feroq::ObjectKindOf(child_id);
    HRESULT made;
    if (kind == feroq::kObjectKindFolder) {
      AppFolderObject* folder = nullptr;
      made = farm_->CreateAppFolderObject(child_id, &folder, 0);
      objects[produced] = folder;
    } else if (kind == feroq::kObjectKindApplication) {
      ZQWinAppObject* app = nullptr;
      made = farm_->CreateWinAppFromID(child_id, &app);
      objects[produced] = app;
    } else {
      continue;  // other kinds are skipped and count for nothing
    }
    if (made != S_OK) {
      objects[produced] = nullptr;
      break;  // the walk ends here; the failure is not reported
    }
    ++produced;
    IncrementChildCount();
  }
  *children = objects;
  *count = static_cast<LONG>(produced);
  return counted && produced < limit ? S_FALSE : S_OK;
}
