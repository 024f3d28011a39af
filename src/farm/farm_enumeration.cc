// FarmObject: the server list, the application list, the root folder and
// moves between folders.
#include <cstring>
#include <new>

#include "farm/object_id_map.h"
#include "feroq/app_folder_object.h"
#include "feroq/directory_services.h"
#include "feroq/farm_object.h"
#include "feroq/zqapp.h"
#include "feroq/zqwinapp_object.h"
#include "platform/platform.h"

HRESULT FarmObject::EnumerateServers(WCHAR** names, ULONG* count) {
  if (server_service_ == nullptr) return E_UNEXPECTED;
  VORNString* server_names = nullptr;
  VORNMultiString* addresses = nullptr;
  VORNMultiString* zones = nullptr;
  VORNString* versions = nullptr;
  VSTATUS status =
      server_service_->EnumerateAllServerAddresses(*count, server_names, addresses, zones, versions);
  if (status == VORN_E_OUTOFMEMORY) return E_OUTOFMEMORY;
  if (status != 0) return E_FAIL;
  delete[] addresses;
  delete[] zones;
  delete[] versions;

  // The list: each name with its NUL, then one more NUL.
  std::size_t units = 0;
  for (ULONG i = 0; i < *count; ++i) units += server_names[i].Length() + 1;
  HRESULT result = S_OK;
  auto* list = static_cast<WCHAR*>(feroq::platform::HeapAllocZero(units * 2 + 2));
  *names = list;
  if (list == nullptr) {
    result = E_OUTOFMEMORY;
  } else {
    WCHAR* out = list;
    for (ULONG i = 0; i < *count; ++i) {
      const ULONG length = server_names[i].Length();
      std::memcpy(out, server_names[i].m_string, length * 2);
      out += length + 1;
    }
  }
  delete[] server_names;
  return result;
}

HRESULT FarmObject::EnumerateApps(CommonObject*** apps, ULONG* count) {
  if (app_store_ == nullptr) {
    *count = 0;
    *apps = nullptr;
    return E_UNEXPECTED;
  }
  ULONG64* ids = nullptr;
  ULONG delivered = 0;
  VSTATUS status = app_store_->EnumApps(&ids, delivered, 0);
  if (status != 0) {
    *count = 0;
    *apps = nullptr;
    if (status == VORN_E_OUTOFMEMORY) return E_OUTOFMEMORY;
    if (status == VORN_E_ACCESSDENIED) return E_ACCESSDENIED;
    return E_FAIL;
  }
  if (delivered == 0) {
    ::operator delete(ids);
    *count = 0;
    *apps = nullptr;
    return S_OK;
  }

  const ULONG requested = *count;
  ULONG wanted = (requested == 0 || requested > delivered) ? delivered : requested;
  auto* objects =
      static_cast<CommonObject**>(feroq::platform::HeapAllocZero(sizeof(CommonObject*) * wanted));
  if (objects == nullptr) {
    ::operator delete(ids);
    *count = 0;
    return E_OUTOFMEMORY;
  }
  ULONG made = 0;
  for (; made < wanted; ++made) {
    ZQWinAppObject* app = nullptr;
    if (CreateWinAppFromID(ids[made], &app) != S_OK) break;
    objects[made] = app;
  }
  if (made == 0) {
    feroq::platform::HeapFree(objects);
    objects = nullptr;
  }
  ::operator delete(ids);

  *apps = objects;
  const HRESULT result = (requested > made && made != delivered) ? S_FALSE : S_OK;
  *count = made;
  return result;
}

HRESULT FarmObject::GetRootFolder(_FarmObjectType type, FolderObject** folder) {
  if (type != FarmObjectAppFolder) return E_NOTIMPL;
  if (folder_service_ == nullptr) return E_UNEXPECTED;
  if (root_folder_ != nullptr) {
    *folder = root_folder_;
    root_folder_->IncrementRefCount();
    return S_OK;
  }
  ULONG64 root = 0;
  // Without the root's identifier there is no root folder to hand out.
  if (folder_service_->GetRootFolderID(root) != 0) return E_FAIL;
  AppFolderObject* made = nullptr;
  HRESULT result = CreateAppFolderObject(root, &made, 0);
  if (result != S_OK) return result;
  *folder = made;
  root_folder_ = made;
  return S_OK;
}

HRESULT FarmObject::MoveObject(CommonObject* object, AppFolderObject* target) {
  if (folder_service_ == nullptr) return E_UNEXPECTED;
  ULONG64 object_id = 0;
  ULONG64 target_id = 0;
  object->GetObjectID(object_id);
  target->GetObjectID(target_id);
  FolderObject* parent = nullptr;
  HRESULT result = object->GetParentFolder(&parent);
  if (result != S_OK) return result;
  ULONG64 parent_id = 0;
  parent->GetObjectID(parent_id);
  _FarmObjectType type;
  object->GetObjectType(&type);

  // An application's parent is its cached parent (no reference taken); a
  // folder's parent came with a reference of our own, given back here.
  VSTATUS status;
  if (type == FarmObjectWinApp) {
    status = folder_service_->MoveApplication(object_id, parent_id, target_id);
  } else if (type == FarmObjectAppFolder) {
    status = folder_service_->MoveFolder(object_id, parent_id, target_id);
    CommonObject* release = parent;
    FreeObject(release);
  } else {
    return E_FAIL;
  }
  if (status == VORN_E_OUTOFMEMORY) return E_OUTOFMEMORY;
  if (status != 0) return E_FAIL;
  return S_OK;
}
