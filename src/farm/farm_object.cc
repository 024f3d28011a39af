// FarmObject: construction, destruction, farm name, versions and accessors.
#include "feroq/farm_object.h"

#include <cstring>
#include <memory>
#include <new>

#include "farm/holders.h"
#include "farm/object_id_map.h"
#include "feroq/services/directory_services.h"
#include "feroq/services/user_service.h"
#include "feroq/services/zqapp.h"
#include "platform/platform.h"

namespace {

// The number of farm objects made by the default constructor and not yet
// destroyed, process-wide.
volatile LONG g_farm_object_count = 0;

}  // namespace

FarmObject::FarmObject()
    : instance_number_(0),
      farm_name_(nullptr),
      farm_name_size_(0),
      app_store_(nullptr),
      server_service_(nullptr),
      user_service_(nullptr),
      folder_service_(nullptr),
      id_map_(nullptr),
      root_folder_(nullptr),
      heap_(nullptr) {
  instance_number_ = feroq::platform::IncrementCounter(&g_farm_object_count);
  heap_ = feroq::platform::ProcessHeap();

  // The service reports the name's length in bytes with its NUL; only the
  // length decides whether there is a name.
  ULONG length = 0;
  feroq::RpcBlock<char> multibyte_name;
  VORN_FarmName(length, multibyte_name.out());
  if (length > 0) {
    farm_name_size_ = length * 2;
    feroq::FarmBlock<char16_t> name(static_cast<char16_t*>(feroq::platform::HeapAllocZero(farm_name_size_)));
    if (name && feroq::platform::MultiByteToUtf16(multibyte_name.get(), static_cast<int>(length), name.get(),
                                                  static_cast<int>(length)) != 0) {
      farm_name_ = name.release();
    }
  }

  InitiateRemoteAccess(nullptr);
  // A service that cannot be made leaves its field null; the next is tried
  // all the same. A service constructor's exception leaves this constructor.
  std::unique_ptr<ZQAppSAL> app_store(new (std::nothrow) ZQAppSAL(VornRemoteAccess));
  std::unique_ptr<VORN_ZQServerSAL> server_service(new (std::nothrow) VORN_ZQServerSAL(VornRemoteAccess));
  std::unique_ptr<VORN_UserMgmt_SAL> user_service(new (std::nothrow) VORN_UserMgmt_SAL(VornRemoteAccess));
  std::unique_ptr<VORNCommonApplicationSAL> folder_service(
      new (std::nothrow) VORNCommonApplicationSAL(VornRemoteAccess));
  std::unique_ptr<feroq::ObjectIdMap> id_map;
  if (app_store && server_service && user_service && folder_service) {
    id_map.reset(new (std::nothrow) feroq::ObjectIdMap);
  }
  if (id_map) {  // fully built
    app_store_ = app_store.release();
    server_service_ = server_service.release();
    user_service_ = user_service.release();
    folder_service_ = folder_service.release();
    id_map_ = id_map.release();
    return;
  }
  // Half-built: no services, no map; those made go in the usual order.
  app_store.reset();
  server_service.reset();
  user_service.reset();
  folder_service.reset();
}

FarmObject::FarmObject(char16_t*)
    : instance_number_(0),
      farm_name_(nullptr),
      farm_name_size_(0),
      app_store_(nullptr),
      server_service_(nullptr),
      user_service_(nullptr),
      folder_service_(nullptr),
      id_map_(nullptr),
      root_folder_(nullptr),
      heap_(nullptr) {}

FarmObject& FarmObject::operator=(const FarmObject& other) {
  instance_number_ = other.instance_number_;
  farm_name_ = other.farm_name_;
  farm_name_size_ = other.farm_name_size_;
  app_store_ = other.app_store_;
  server_service_ = other.server_service_;
  user_service_ = other.user_service_;
  folder_service_ = other.folder_service_;
  id_map_ = other.id_map_;
  root_folder_ = other.root_folder_;
  heap_ = other.heap_;
  return *this;
}

FarmObject::~FarmObject() {
  // The root folder's destructor removes its own registry entry, so the map
  // must still exist here.
  if (root_folder_ != nullptr) {
    FolderObject* root = root_folder_;
    root_folder_ = nullptr;
    delete root;
  }
  if (farm_name_ != nullptr) {
    feroq::platform::HeapFree(farm_name_);
    farm_name_ = nullptr;
  }
  delete app_store_;
  app_store_ = nullptr;
  delete server_service_;
  server_service_ = nullptr;
  delete user_service_;
  user_service_ = nullptr;
  delete folder_service_;
  folder_service_ = nullptr;
  delete id_map_;
  id_map_ = nullptr;
  // An inert object (it has no heap) never started remote access nor raised
  // the count, so it does not end or lower them either.
  if (heap_ != nullptr) {
    UninitiateRemoteAccess();
    feroq::platform::DecrementCounter(&g_farm_object_count);
  }
}

HRESULT FarmObject::GetVersion(LONG* version) {
  *version = 1;
  return S_OK;
}

HRESULT FarmObject::GetFarmName(char16_t** name) {
  if (name == nullptr) return E_INVALIDARG;
  if (farm_name_ == nullptr) return E_UNEXPECTED;
  *name = static_cast<char16_t*>(feroq::platform::HeapAllocZero(farm_name_size_));
  if (*name == nullptr) return E_OUTOFMEMORY;
  // The name ends in a NUL inside its block (the reported length counts it).
  std::memcpy(*name, farm_name_, farm_name_size_);
  return S_OK;
}

HRESULT FarmObject::GetAppSubsysVersion(LONG* version) {
  if (app_store_ == nullptr) return E_UNEXPECTED;
  ULONG known = 0;
  app_store_->MaxKnownApplicationVersion(known);
  *version = static_cast<LONG>(known);
  return S_OK;
}

HRESULT FarmObject::FreeMemory(void* block) {
  if (block != nullptr) feroq::platform::HeapFree(block);
  return S_OK;
}

void* FarmObject::GetZQWinAppSAL() { return app_store_; }
void* FarmObject::GetZQServerSAL() { return server_service_; }
void* FarmObject::GetUserSAL() { return user_service_; }
void* FarmObject::GetAppFolderSAL() { return folder_service_; }
void* FarmObject::GetObjectIDMap() { return id_map_; }
void* FarmObject::GetHeap() { return heap_; }
