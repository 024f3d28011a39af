// AppFolderObject: construction, the cached name, and the name operations.
#include "feroq/app_folder_object.h"

#include <cstring>
#include <new>

#include "farm/object_id_map.h"
#include "feroq/services/directory_services.h"
#include "feroq/farm_object.h"
#include "folders/distinguished_name.h"
#include "farm/holders.h"
#include "farm/service_access.h"
#include "farm/service_status.h"
#include "platform/platform.h"

namespace {

std::size_t WideLength(const char16_t* text) {
  std::size_t length = 0;
  while (text[length] != 0) ++length;
  return length;
}

}  // namespace

AppFolderObject::AppFolderObject(ULONG64 id, FarmObject* farm)
    : FolderObject(FarmObjectAppFolder, id),
      farm_(farm),
      cached_name_(nullptr),
      cached_name_capacity_(0),
      cached_name_length_(0) {}

AppFolderObject::AppFolderObject(ULONG64 id, char16_t* name)
    : FolderObject(FarmObjectAppFolder, id),
      farm_(nullptr),
      cached_name_(nullptr),
      cached_name_capacity_(0),
      cached_name_length_(0) {
  if (name != nullptr) UpdateNameCache(name);
}

AppFolderObject::AppFolderObject(const AppFolderObject& other)
    : FolderObject(other),
      farm_(other.farm_),
      cached_name_(nullptr),
      cached_name_capacity_(0),
      cached_name_length_(0) {
  if (other.cached_name_ != nullptr) {
    cached_name_ = static_cast<char16_t*>(feroq::platform::HeapAllocZero(other.cached_name_capacity_));
    if (cached_name_ != nullptr) {
      std::memcpy(cached_name_, other.cached_name_, other.cached_name_capacity_);
      cached_name_capacity_ = other.cached_name_capacity_;
      cached_name_length_ = other.cached_name_length_;
    }
  }
}

AppFolderObject& AppFolderObject::operator=(const AppFolderObject& other) {
  if (this == &other) return *this;
  FolderObject::operator=(other);
  farm_ = other.farm_;
  feroq::platform::HeapFree(cached_name_);
  cached_name_ = nullptr;
  cached_name_capacity_ = 0;
  cached_name_length_ = 0;
  if (other.cached_name_ != nullptr) {
    cached_name_ = static_cast<char16_t*>(feroq::platform::HeapAllocZero(other.cached_name_capacity_));
    if (cached_name_ != nullptr) {
      std::memcpy(cached_name_, other.cached_name_, other.cached_name_capacity_);
      cached_name_capacity_ = other.cached_name_capacity_;
      cached_name_length_ = other.cached_name_length_;
    }
  }
  return *this;
}

AppFolderObject::~AppFolderObject() {
  feroq::platform::HeapFree(cached_name_);
  cached_name_ = nullptr;
  if (farm_ != nullptr) {
    ULONG64 id = 0;
    GetObjectID(id);
    feroq::UnregisterIfCurrent(farm_->GetObjectIDMap(), id, this);
  }
}

HRESULT AppFolderObject::GetVersion(LONG* version) {
  *version = 0;
  return S_OK;
}

// The cached name keeps its buffer when a name of at most the cached length
// replaces it, and grows it (zero-filled) to the new name's size otherwise.
void AppFolderObject::UpdateNameCache(const char16_t* name) {
  if (name == nullptr || name[0] == 0) return;
  const std::size_t length = WideLength(name);
  if (cached_name_ == nullptr) {
    cached_name_length_ = static_cast<LONG>(length);
    cached_name_capacity_ = static_cast<ULONG>(length * 2 + 2);
    cached_name_ = static_cast<char16_t*>(feroq::platform::HeapAllocZero(cached_name_capacity_));
    if (cached_name_ == nullptr) {
      cached_name_length_ = 0;
      cached_name_capacity_ = 0;
      return;
    }
    std::memcpy(cached_name_, name, length * 2 + 2);
    return;
  }
  if (static_cast<std::size_t>(cached_name_length_) == length &&
      std::memcmp(cached_name_, name, length * 2) == 0) {
    return;
  }
  if (static_cast<std::size_t>(cached_name_length_) >= length) {
    std::memset(cached_name_, 0, cached_name_capacity_);
    std::memcpy(cached_name_, name, length * 2 + 2);
    cached_name_length_ = static_cast<LONG>(length);
    return;
  }
  cached_name_length_ = static_cast<LONG>(length);
  cached_name_capacity_ = static_cast<ULONG>(length * 2 + 2);
  void* grown = feroq::platform::HeapReAllocZero(cached_name_, cached_name_capacity_);
  if (grown == nullptr) {
    feroq::platform::HeapFree(cached_name_);
    cached_name_ = nullptr;
    cached_name_length_ = 0;
    cached_name_capacity_ = 0;
    return;
  }
  cached_name_ = static_cast<char16_t*>(grown);
  std::memcpy(cached_name_, name, length * 2 + 2);
}

HRESULT AppFolderObject::CopyCachedName(char16_t** name) {
  const std::size_t bytes = static_cast<std::size_t>(cached_name_length_) * 2 + 2;
  auto* copy = static_cast<char16_t*>(feroq::platform::HeapAllocZero(bytes));
  if (copy == nullptr) return E_OUTOFMEMORY;
  std::memcpy(copy, cached_name_, bytes - 2);
  *name = copy;
  return S_OK;
}

HRESULT AppFolderObject::GetObjectName(char16_t** name) {
  if (name == nullptr) return E_INVALIDARG;
  if (farm_ == nullptr) {
    if (cached_name_ == nullptr) {
      *name = nullptr;
      return S_OK;
    }
    return CopyCachedName(name);
  }
  VORNCommonApplicationSAL* folders = feroq::FolderServiceOf(farm_);
  if (folders == nullptr) return E_UNEXPECTED;

  ULONG64 id = 0;
  GetObjectID(id);
  feroq::FolderServiceBlock<char16_t> read(folders);
  if (folders->GetFolderName(id, &read.out()) != 0) {
    // The folder may be gone from the farm: the last name read stands in.
    if (cached_name_ != nullptr && *name == nullptr) return CopyCachedName(name);
    return S_OK;
  }
  UpdateNameCache(read.get());
  const std::size_t bytes = WideLength(read.get()) * 2 + 2;
  auto* copy = static_cast<char16_t*>(feroq::platform::HeapAllocZero(bytes));
  if (copy == nullptr) return E_OUTOFMEMORY;
  std::memcpy(copy, read.get(), bytes);
  *name = copy;
  return S_OK;
}

HRESULT AppFolderObject::SetObjectName(char16_t* name) {
  if (name == nullptr || name[0] == 0) return E_INVALIDARG;
  if (farm_ == nullptr) return E_ACCESSDENIED;
  VORNCommonApplicationSAL* folders = feroq::FolderServiceOf(farm_);
  if (folders == nullptr) return E_UNEXPECTED;
  ULONG64 id = 0;
  GetObjectID(id);
  static constexpr feroq::StatusMapping kRenameStatuses[] = {{feroq::FOLDER_E_RENAME_REFUSED, E_ACCESSDENIED}};
  if (HRESULT result = feroq::MapServiceStatus(folders->RenameFolder(id, name), kRenameStatuses); result != S_OK) {
    return result;
  }
  UpdateNameCache(name);
  return S_OK;
}

HRESULT AppFolderObject::GetDistinguishedName(char16_t** name) {
  if (farm_ == nullptr) return E_ACCESSDENIED;
  VORNCommonApplicationSAL* folders = feroq::FolderServiceOf(farm_);
  if (folders == nullptr) return E_UNEXPECTED;
  ULONG64 id = 0;
  GetObjectID(id);
  ULONG64 parent = 0;
  if (folders->GetFolderParent(id, parent) != 0) return E_FAIL;
  return feroq::BuildDistinguishedName(farm_, this, parent, name);
}
