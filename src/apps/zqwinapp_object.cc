// ZQWinAppObject: construction, registration, parent folder, names, and the
// record's persistence (Load, Save, Delete).
#include "feroq/zqwinapp_object.h"

#include <new>

#include "apps/app_block.h"
#include "apps/record_strings.h"
#include "farm/object_id_map.h"
#include "farm/service_access.h"
#include "farm/service_status.h"
#include "feroq/app_folder_object.h"
#include "feroq/farm_object.h"
#include "folders/distinguished_name.h"

ZQWinAppObject::ZQWinAppObject(ULONG64 id, void* record, FarmObject* farm, AppFolderObject* parent)
    : CommonObject(FarmObjectWinApp, id),
      record_(static_cast<ZQApp*>(record)),
      parent_(nullptr),
      server_iteration_active_(0),
      user_iteration_active_(0),
      farm_(farm) {
  auto* map = farm == nullptr ? nullptr : static_cast<feroq::ObjectIdMap*>(farm->GetObjectIDMap());
  if (map != nullptr) {
    // May raise std::bad_alloc; the object is then freed by the new
    // expression and the caller still owns the record.
    map->entries.insert_or_assign(id, this);
  }
  parent_ = parent;
}

ZQWinAppObject::ZQWinAppObject(char16_t*, void* record, FarmObject* farm, AppFolderObject* parent)
    : CommonObject(FarmObjectWinApp, 0),
      record_(static_cast<ZQApp*>(record)),
      parent_(parent),
      server_iteration_active_(0),
      user_iteration_active_(0),
      farm_(farm) {}

// A copy owns a copy of the record (so that each copy may be destroyed) and
// holds its own reference and child count on the cached parent. It is not
// registered.
ZQWinAppObject::ZQWinAppObject(const ZQWinAppObject& other)
    : CommonObject(other),
      record_(other.record_ == nullptr ? nullptr : new ZQApp(*other.record_)),
      parent_(other.parent_),
      server_iteration_active_(0),
      user_iteration_active_(0),
      farm_(other.farm_) {
  if (parent_ != nullptr) {
    parent_->IncrementRefCount();
    parent_->IncrementChildCount();
  }
}

ZQWinAppObject& ZQWinAppObject::operator=(const ZQWinAppObject& other) {
  if (this == &other) return *this;
  ZQApp* record = other.record_ == nullptr ? nullptr : new ZQApp(*other.record_);
  ReleaseParentCache();
  feroq::app_block::DestroyRecord(this, record_.IfMade());
  CommonObject::operator=(other);
  record_ = record;
  parent_ = other.parent_;
  if (parent_ != nullptr) {
    parent_->IncrementRefCount();
    parent_->IncrementChildCount();
  }
  server_iteration_active_ = 0;
  user_iteration_active_ = 0;
  farm_ = other.farm_;
  return *this;
}

ZQApp* ZQWinAppObject::RecordRef::Make() const {
  using feroq::app_block::kRecordOffset;
  using feroq::app_block::kSlotsOffset;
  char* place = reinterpret_cast<char*>(bits_ & ~kNotMade);
  feroq::app_block::MarkRecordMade(place, kSlotsOffset - kRecordOffset + USERTABLE::LentSlotsBytes());
  ZQApp* made = ::new (place) ZQApp(place + (kSlotsOffset - kRecordOffset));
  bits_ = reinterpret_cast<std::uintptr_t>(made);
  return made;
}

// The cache holds one reference on the parent folder object (the one the
// registry handed out when the cache was filled) and one child count. Both
// are given back when the cache is emptied by a move or a deletion.
void ZQWinAppObject::ReleaseParentCache() {
  if (parent_ == nullptr) return;
  parent_->DecrementChildCount();
  CommonObject* release = parent_;
  parent_ = nullptr;
  if (farm_ != nullptr) farm_->FreeObject(release);
}

ZQWinAppObject::~ZQWinAppObject() {
  feroq::app_block::DestroyRecord(this, record_.IfMade());
  record_ = nullptr;
  // The parent folder object's reference goes with the object; the child
  // count stays, since the application is still the folder's child.
  if (parent_ != nullptr && farm_ != nullptr) {
    CommonObject* release = parent_;
    parent_ = nullptr;
    farm_->FreeObject(release);
  }
  if (farm_ != nullptr) {
    ULONG64 id = 0;
    GetObjectID(id);
    feroq::UnregisterIfCurrent(farm_->GetObjectIDMap(), id, this);
  }
}

HRESULT ZQWinAppObject::GetVersion(LONG* version) {
  if (record_ == nullptr) return E_UNEXPECTED;
  *version = static_cast<LONG>(record_->GetVersion());
  return S_OK;
}

HRESULT ZQWinAppObject::GetObjectName(char16_t** name) {
  try {
    VORNString value;
    if (record_ == nullptr) return E_UNEXPECTED;
    record_->GetFriendlyName(value);
    return feroq::CopyRecordStringOut(value, name);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT ZQWinAppObject::SetObjectName(char16_t* name) {
  try {
    VORNString value(name);
    if (record_ == nullptr) return E_UNEXPECTED;
    return feroq::MapStringSetResult(record_->SetFriendlyName(value));
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT ZQWinAppObject::GetParentFolder(FolderObject** folder) {
  if (record_ == nullptr) return E_UNEXPECTED;
  if (parent_ != nullptr) {
    *folder = parent_;
    return S_OK;
  }
  ULONG64 folder_id = 0;
  record_->GetCommonAppFolder(folder_id);
  *folder = nullptr;
  AppFolderObject* parent = nullptr;
  HRESULT result = farm_->CreateAppFolderObject(folder_id, &parent, 0);
  if (result != S_OK) return result;
  parent_ = parent;
  parent_->IncrementChildCount();
  *folder = parent_;
  return S_OK;
}

HRESULT ZQWinAppObject::SetParentFolder(FolderObject* folder) {
  if (record_ == nullptr) return E_UNEXPECTED;
  ULONG64 new_id = 0;
  folder->GetObjectID(new_id);
  ULONG64 current_id = 0;
  if (parent_ != nullptr) parent_->GetObjectID(current_id);
  if (new_id == current_id) return S_OK;
  if (record_->SetCommonAppFolder(new_id) != 0) return E_FAIL;
  ReleaseParentCache();
  AppFolderObject* parent = nullptr;
  HRESULT result = farm_->CreateAppFolderObject(new_id, &parent, 0);
  if (result == S_OK) {
    parent_ = parent;
    parent_->IncrementChildCount();
  }
  return result;
}

HRESULT ZQWinAppObject::GetDistinguishedName(char16_t** dn) {
  if (record_ == nullptr) return E_UNEXPECTED;
  ULONG64 folder_id = 0;
  record_->GetCommonAppFolder(folder_id);
  return feroq::BuildDistinguishedName(farm_, this, folder_id, dn);
}

namespace {

constexpr feroq::StatusMapping kLoadStatuses[] = {
    {feroq::VORN_E_ACCESSDENIED, E_ACCESSDENIED}, {feroq::VORN_E_OUTOFMEMORY, E_OUTOFMEMORY}, {feroq::VORN_E_REFUSED, E_NOTIMPL}};
constexpr feroq::StatusMapping kSaveStatuses[] = {
    {feroq::VORN_E_OUTOFMEMORY, E_OUTOFMEMORY}, {feroq::VORN_E_REFUSED, E_ACCESSDENIED}, {feroq::VORN_E_ACCESSDENIED, E_ACCESSDENIED},
    {feroq::ZQAPP_E_NOT_SUPPORTED, E_NOTIMPL},  {feroq::ZQAPP_E_CHECKS_FAILED, E_NOTIMPL}};
constexpr feroq::StatusMapping kDeleteStatuses[] = {{feroq::VORN_E_ACCESSDENIED, E_ACCESSDENIED},
                                                    {feroq::VORN_E_REFUSED, E_ACCESSDENIED}};

}  // namespace

HRESULT ZQWinAppObject::Load() {
  ZQAppSAL* store = feroq::AppStoreOf(farm_);
  if (store == nullptr || record_ == nullptr) return E_UNEXPECTED;
  ULONG64 id = 0;
  GetObjectID(id);
  return feroq::MapServiceStatus(store->Read(id, *record_), kLoadStatuses);
}

HRESULT ZQWinAppObject::Save() {
  ZQAppSAL* store = feroq::AppStoreOf(farm_);
  if (store == nullptr || record_ == nullptr) return E_UNEXPECTED;
  ULONG64 id = 0;
  GetObjectID(id);
  return feroq::MapServiceStatus(store->Write(id, *record_, nullptr), kSaveStatuses);
}

HRESULT ZQWinAppObject::Delete() {
  ZQAppSAL* store = feroq::AppStoreOf(farm_);
  if (store == nullptr || record_ == nullptr) return E_UNEXPECTED;
  ULONG64 id = 0;
  GetObjectID(id);
  if (HRESULT result = feroq::MapServiceStatus(store->Delete(id), kDeleteStatuses); result != S_OK) return result;
  ReleaseParentCache();
  feroq::app_block::DestroyRecord(this, record_.IfMade());
  record_ = nullptr;
  return S_OK;
}
