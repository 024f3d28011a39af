// FarmObject: the server list, the application list, the root folder and
// moves between folders.
#include <cstring>
#include <new>

#include "farm/holders.h"
#include "farm/object_id_map.h"
#include "farm/service_status.h"
#include "feroq/app_folder_object.h"
#include "feroq/services/directory_services.h"
#include "feroq/farm_object.h"
#include "feroq/services/zqapp.h"
#include "feroq/zqwinapp_object.h"
#include "platform/platform.h"

HRESULT FarmObject::EnumerateServers(char16_t** names, ULONG* count) {
  if (server_service_ == nullptr) return E_UNEXPECTED;
  // Only the names are used; the other three arrays go at once.
  feroq::ServiceArray<VORNString> server_names;
  feroq::ServiceArray<VORNMultiString> addresses;
  feroq::ServiceArray<VORNMultiString> zones;
  feroq::ServiceArray<VORNString> versions;
  const VSTATUS status = server_service_->EnumerateAllServerAddresses(*count, server_names.out(), addresses.out(),
                                                                      zones.out(), versions.out());
  if (HRESULT result = feroq::MapServiceStatus(status, feroq::kOutOfMemoryStatus); result != S_OK) return result;
  addresses.reset();
  zones.reset();
  versions.reset();

  // The list: each name with its NUL, then one more NUL.
  std::size_t units = 0;
  for (ULONG i = 0; i < *count; ++i) units += server_names.get()[i].Length() + 1;
  auto* list = static_cast<char16_t*>(feroq::platform::HeapAllocZero(units * 2 + 2));
  *names = list;
  if (list == nullptr) return E_OUTOFMEMORY;
  for (ULONG i = 0; i < *count; ++i) {
    const VORNString& name = server_names.get()[i];
    std::memcpy(list, name.m_string, name.Length() * 2);
    list += name.Length() + 1;
  }
  return S_OK;
}

HRESULT FarmObject::EnumerateApps(CommonObject*** apps, ULONG* count) {
  static constexpr feroq::StatusMapping kEnumAppsStatuses[] = {{feroq::VORN_E_OUTOFMEMORY, E_OUTOFMEMORY},
                                                               {feroq::VORN_E_ACCESSDENIED, E_ACCESSDENIED}};
  const ULONG requested = *count;
  *count = 0;
  if (app_store_ == nullptr) {
    *apps = nullptr;
    return E_UNEXPECTED;
  }
  feroq::StoreIdList ids;
  ULONG delivered = 0;
  if (HRESULT result = feroq::MapServiceStatus(app_store_->EnumApps(&ids.out(), delivered, 0), kEnumAppsStatuses);
      result != S_OK || delivered == 0) {
    *apps = nullptr;
    return result;
  }

  const ULONG wanted = (requested == 0 || requested > delivered) ? delivered : requested;
  feroq::FarmBlock<CommonObject*> objects(
      static_cast<CommonObject**>(feroq::platform::HeapAllocZero(sizeof(CommonObject*) * wanted)));
  if (!objects) return E_OUTOFMEMORY;
  if (id_map_ != nullptr) {
    // Room in the registry for the whole listing at once, rather than a
    // rehash of every entry each time it doubles. Without the room the
    // registry grows as it goes, as it always may.
    try {
      id_map_->entries.reserve(id_map_->entries.size() + wanted);
    } catch (const std::bad_alloc&) {
    }
  }
  ULONG made = 0;
  for (; made < wanted; ++made) {
    ZQWinAppObject* app = nullptr;
    if (CreateWinAppFromID(ids.get()[made], &app) != S_OK) break;
    objects.get()[made] = app;
  }
  if (made == 0) objects.reset();

  *apps = objects.release();
  *count = made;
  return (requested > made && made != delivered) ? S_FALSE : S_OK;
}

HRESULT FarmObject::GetRootFolder(_FarmObjectType type, FolderObject** folder) {
  if (type != FarmObjectAppFolder) return E_NOTIMPL;
  if (folder_service_ == nullptr) return E_UNEXPECTED;
  if (root_folder_ != nullptr) {
    *folder = root_folder_;
    root_folder_->IncrementRefCount();
    return S_OK;
  }
  if (id_map_ == nullptr) return E_UNEXPECTED;
  ULONG64 root = id_map_->root_folder_id;
  if (root == 0) {
    // Without the root's identifier there is no root folder to hand out.
    if (folder_service_->GetRootFolderID(root) != 0) return E_FAIL;
    id_map_->root_folder_id = root;
  }
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
    feroq::ObjectRef<FolderObject> own_parent(this, parent);
    status = folder_service_->MoveFolder(object_id, parent_id, target_id);
  } else {
    return E_FAIL;
  }
  return feroq::MapServiceStatus(status, feroq::kOutOfMemoryStatus);
}
