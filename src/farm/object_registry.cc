// The object registry: at most one live object per farm identifier, handed
// out with a reference each time and destroyed when the last one is given
// back.
#include <new>

#include "farm/object_id_map.h"
#include "feroq/app_folder_object.h"
#include "feroq/farm_object.h"
#include "feroq/zqapp.h"
#include "feroq/zqwinapp_object.h"

HRESULT FarmObject::CreateWinAppFromID(ULONG64& id, ZQWinAppObject** app) {
  if (id_map_ == nullptr) return E_UNEXPECTED;
  auto found = id_map_->entries.find(id);
  if (found != id_map_->entries.end()) {
    // Only applications and folders share the map, and their identifiers
    // never collide (the kind is part of the identifier).
    *app = static_cast<ZQWinAppObject*>(found->second);
    (*app)->IncrementRefCount();
    return S_OK;
  }

  ZQApp* record = nullptr;
  try {
    record = new (std::nothrow) ZQApp;
  } catch (const std::bad_alloc&) {
    record = nullptr;
  }
  if (record == nullptr) {
    *app = nullptr;
    return E_OUTOFMEMORY;
  }

  ZQWinAppObject* made = nullptr;
  try {
    made = new (std::nothrow) ZQWinAppObject(id, record, this, nullptr);
  } catch (const std::bad_alloc&) {
    // Registering failed inside the constructor; the object was freed and the
    // record is still ours.
    made = nullptr;
  }
  if (made == nullptr) {
    *app = nullptr;
    delete record;
    return E_OUTOFMEMORY;
  }
  *app = made;
  return S_OK;
}

HRESULT FarmObject::CreateAppFolderObject(ULONG64& id, AppFolderObject** folder, int mode) {
  if (id_map_ == nullptr) return E_UNEXPECTED;
  *folder = nullptr;
  auto found = id_map_->entries.find(id);
  if (found != id_map_->entries.end()) {
    auto* registered = static_cast<AppFolderObject*>(found->second);
    if (mode != 1) {
      registered->IncrementRefCount();
      *folder = registered;
      return S_OK;
    }
    // The detaching form: the registered object leaves the registry (its
    // holders keep it) and the caller gets a detached object with its name.
    WCHAR* name = nullptr;
    registered->GetObjectName(&name);
    if (name != nullptr) {
      AppFolderObject* detached = new (std::nothrow) AppFolderObject(id, name);
      FreeMemory(name);
      if (detached == nullptr) return E_OUTOFMEMORY;
      id_map_->entries.erase(id);
      *folder = detached;
      return S_OK;
    }
    AppFolderObject* unregistered = new (std::nothrow) AppFolderObject(id, this);
    if (unregistered == nullptr) return E_OUTOFMEMORY;
    *folder = unregistered;
    return S_OK;
  }

  AppFolderObject* made = new (std::nothrow) AppFolderObject(id, this);
  if (made == nullptr) return E_OUTOFMEMORY;
  if (mode == 0) {
    try {
      id_map_->entries.emplace(id, made);
    } catch (const std::bad_alloc&) {
      delete made;  // its destructor finds no entry to remove
      return E_OUTOFMEMORY;
    }
  }
  *folder = made;
  return S_OK;
}

HRESULT FarmObject::FreeObject(CommonObject*& object) {
  if (object == nullptr) return E_INVALIDARG;
  _FarmObjectType type;
  object->GetObjectType(&type);
  if (type != FarmObjectAppFolder && type != FarmObjectWinApp) return E_UNEXPECTED;
  object->DecrementRefCount();
  if (object->GetRefCount() != 0) return S_OK;

  ULONG64 id = 0;
  object->GetObjectID(id);
  feroq::UnregisterIfCurrent(id_map_, id, object);
  if (object == root_folder_) root_folder_ = nullptr;
  delete object;
  object = nullptr;
  return S_OK;
}

void FarmObject::RemoveObjectFromIDMap(ULONG64 id) {
  if (id_map_ != nullptr) id_map_->entries.erase(id);
}

namespace feroq {

void UnregisterIfCurrent(void* id_map, ULONG64 id, const CommonObject* object) {
  if (id_map == nullptr) return;
  auto& entries = static_cast<ObjectIdMap*>(id_map)->entries;
  auto found = entries.find(id);
  if (found != entries.end() && found->second == object) entries.erase(found);
}

}  // namespace feroq
