// The object registry: at most one live object per farm identifier, handed
// out with a reference each time and destroyed when the last one is given
// back.
#include <cstring>
#include <memory>
#include <new>

#include "apps/app_block.h"

#include "farm/holders.h"
#include "farm/object_access.h"
#include "farm/object_id_map.h"
#include "feroq/app_folder_object.h"
#include "feroq/farm_object.h"
#include "feroq/services/zqapp.h"
#include "feroq/zqwinapp_object.h"

namespace {

bool HasType(CommonObject* object, _FarmObjectType expected) {
  _FarmObjectType type;
  object->GetObjectType(&type);
  return type == expected;
}

}  // namespace

HRESULT FarmObject::CreateWinAppFromID(ULONG64& id, ZQWinAppObject** app) {
  if (id_map_ == nullptr) return E_UNEXPECTED;
  auto found = id_map_->entries.find(id);
  if (found != id_map_->entries.end()) {
    // An identifier registered for a folder is no application.
    if (!HasType(found->second, FarmObjectWinApp)) {
      *app = nullptr;
      return E_INVALIDARG;
    }
    *app = static_cast<ZQWinAppObject*>(found->second);
    (*app)->IncrementRefCount();
    return S_OK;
  }

  *app = nullptr;
  // One block for the object, its record and the record's user table room
  // (apps/app_block.h), zero-filled where the object lies, as an object's
  // own block is. The record is made there when first reached: a listing's
  // objects that are never read write nothing of it.
  static const std::size_t block_bytes = feroq::app_block::kSlotsOffset + USERTABLE::LentSlotsBytes();
  auto* block = static_cast<char*>(feroq::AllocateUnfilledServiceObject("ZQApp::new", block_bytes));
  if (block == nullptr) return E_OUTOFMEMORY;
  std::memset(block, 0, sizeof(ZQWinAppObject));
  ZQWinAppObject* made = nullptr;
  try {
    // Registering may fail inside the constructor; the block is then still
    // ours.
    made = ::new (block) ZQWinAppObject(id, nullptr, this, nullptr);
  } catch (const std::bad_alloc&) {
    feroq::FreeServiceObject(block);
    return E_OUTOFMEMORY;
  }
  feroq::app_block::MarkRecordUnmade(block + feroq::app_block::kRecordOffset,
                                     block_bytes - feroq::app_block::kRecordOffset);
  feroq::ObjectAccess::MakeRecordWhenReached(*made, block + feroq::app_block::kRecordOffset);
  *app = made;
  return S_OK;
}

HRESULT FarmObject::CreateAppFolderObject(ULONG64& id, AppFolderObject** folder, int mode) {
  if (id_map_ == nullptr) return E_UNEXPECTED;
  *folder = nullptr;
  auto found = id_map_->entries.find(id);
  if (found != id_map_->entries.end()) {
    // An identifier registered for an application is no folder.
    if (!HasType(found->second, FarmObjectAppFolder)) return E_INVALIDARG;
    auto* registered = static_cast<AppFolderObject*>(found->second);
    if (mode != 1) {
      registered->IncrementRefCount();
      *folder = registered;
      return S_OK;
    }
    // The detaching form: the registered object leaves the registry (its
    // holders keep it) and the caller gets a detached object with its name.
    feroq::FarmBlock<char16_t> name;
    registered->GetObjectName(&name.out());
    if (name) {
      *folder = new (std::nothrow) AppFolderObject(id, name.get());
      if (*folder == nullptr) return E_OUTOFMEMORY;
      id_map_->Erase(id);
      return S_OK;
    }
    *folder = new (std::nothrow) AppFolderObject(id, this);
    return *folder == nullptr ? E_OUTOFMEMORY : S_OK;
  }

  std::unique_ptr<AppFolderObject> made(new (std::nothrow) AppFolderObject(id, this));
  if (made == nullptr) return E_OUTOFMEMORY;
  if (mode == 0) {
    try {
      id_map_->entries.emplace(id, made.get());
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;  // the object goes; its destructor finds no entry to remove
    }
  }
  *folder = made.release();
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
  if (id_map_ != nullptr) id_map_->Erase(id);
}

namespace feroq {

void UnregisterIfCurrent(void* id_map, ULONG64 id, const CommonObject* object) {
  if (id_map == nullptr) return;
  auto* map = static_cast<ObjectIdMap*>(id_map);
  auto found = map->entries.find(id);
  if (found != map->entries.end() && found->second == object) map->Erase(found);
}

}  // namespace feroq
