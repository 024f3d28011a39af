// Publishing a new application from a tool's description (CreateZQWinApp).
#include <memory>
#include <new>

#include "apps/app_creation.h"
#include "apps/app_servers.h"
#include "apps/app_users.h"
#include "apps/creation_codes.h"
#include "export/icon_file.h"
#include "farm/holders.h"
#include "farm/service_access.h"
#include "farm/service_status.h"
#include "feroq/app_data.h"
#include "feroq/app_folder_object.h"
#include "feroq/farm_object.h"
#include "feroq/services/zqapp.h"
#include "feroq/zqwinapp_object.h"

namespace {

// Gives a string property to the record when the description has it.
HRESULT SetStringProperty(ZQApp* record, VSTATUS (ZQApp::*setter)(VORNString&), const char16_t* text,
                          HRESULT refused) {
  if (text == nullptr) return S_OK;
  VORNString value(text);
  return (record->*setter)(value) == 0 ? S_OK : refused;
}

// Fills every property of the description into the new record, in the order
// a refusal is reported. Raises std::bad_alloc when a string cannot be made.
HRESULT FillProperties(FarmObject* farm, ZQApp* record, const _ZQWinAppData& data) {
  if (record->Initialize(data.version) != 0) return feroq::ZQ_CREATE_E_VERSION;

  struct StringProperty {
    VSTATUS (ZQApp::*setter)(VORNString&);
    const char16_t* text;
    HRESULT refused;
  };
  const StringProperty strings[] = {
      {&ZQApp::SetBrowserName, data.browserName, feroq::ZQ_CREATE_E_BROWSER_NAME},
      {&ZQApp::SetDefaultInitialProgram, data.defaultInitialProgram,
       feroq::ZQ_CREATE_E_INITIAL_PROGRAM},
      {&ZQApp::SetDefaultWorkDirectory, data.defaultWorkingDirectory,
       feroq::ZQ_CREATE_E_WORKING_DIRECTORY},
      {&ZQApp::SetDescription, data.description, feroq::ZQ_CREATE_E_DESCRIPTION},
      {&ZQApp::SetFriendlyName, data.objectName, feroq::ZQ_CREATE_E_OBJECT_NAME},
      {&ZQApp::SetFolder, data.wlFolder, feroq::ZQ_CREATE_E_WL_FOLDER},
  };
  for (const StringProperty& property : strings) {
    HRESULT result = SetStringProperty(record, property.setter, property.text, property.refused);
    if (result != S_OK) return result;
  }

  const auto encryption = static_cast<ULONG>(data.defaultEncryptionLevel);
  if (encryption > 4 || record->SetDefaultEncryptionLevel(static_cast<BYTE>(encryption + 1)) != 0) {
    return feroq::ZQ_CREATE_E_ENCRYPTION_LEVEL;
  }
  const auto sound = static_cast<ULONG>(data.defaultSoundType);
  if (sound > 1 || record->SetDefaultSoundType(static_cast<BYTE>(sound)) != 0)
    return feroq::ZQ_CREATE_E_SOUND_TYPE;
  const auto video = static_cast<ULONG>(data.defaultVideoType);
  if (video > 1 || record->SetDefaultVideoType(static_cast<BYTE>(video)) != 0)
    return feroq::ZQ_CREATE_E_VIDEO_TYPE;

  BYTE color_byte = 0;
  switch (data.defaultWindowColor) {
    case ZQWindowColor16: color_byte = 1; break;
    case ZQWindowColor256: color_byte = 2; break;
    case ZQWindowColorHigh: color_byte = 4; break;
    case ZQWindowColorTrue: color_byte = 8; break;
    default: return feroq::ZQ_CREATE_E_WINDOW_COLOR;  // 2 included
  }
  if (record->SetDefaultWindowColor(color_byte) != 0) return feroq::ZQ_CREATE_E_WINDOW_COLOR;

  const auto window_type = static_cast<ULONG>(data.defaultWindowType);
  if (window_type == 7 || window_type > 8) return feroq::ZQ_CREATE_E_WINDOW_TYPE;
  if (record->SetDefaultWindowType(static_cast<BYTE>(window_type + 1)) != 0)
    return feroq::ZQ_CREATE_E_WINDOW_TYPE;

  if (record->SetDefaultWindowHeight(data.defaultWindowHeight) != 0)
    return feroq::ZQ_CREATE_E_WINDOW_HEIGHT;
  if (record->SetDefaultWindowWidth(data.defaultWindowWidth) != 0)
    return feroq::ZQ_CREATE_E_WINDOW_WIDTH;
  if (data.defaultWindowScale != 0 &&
      record->SetDefaultWindowScale(static_cast<BYTE>(data.defaultWindowScale & 0xFF)) != 0) {
    return feroq::ZQ_CREATE_E_WINDOW_SCALE;
  }

  if (record->SetDesktopIntegrate(static_cast<BYTE>(data.desktopIntegrate & 0x3)) != 0) {
    return feroq::ZQ_CREATE_E_DESKTOP_INTEGRATE;
  }
  if (record->SetZQAttributes(static_cast<ULONG>(data.zqAttributes & 0x3)) != 0) {
    return feroq::ZQ_CREATE_E_ZQ_ATTRIBUTES;
  }
  if (record->SetWLAttributes(static_cast<ULONG>(data.wlAttributes & 0x3F)) != 0) {
    return feroq::ZQ_CREATE_E_WL_ATTRIBUTES;
  }
  if (record->SetPublishingFlags(static_cast<ULONG>(data.publishingFlags & 0x7)) != 0) {
    return feroq::ZQ_CREATE_E_PUBLISHING_FLAGS;
  }

  // The icon: from the icon file when one is named, else from the record's
  // icon field when asked to.
  _WLICON_V1 icon{};
  bool has_icon = false;
  if (data.iconFile != nullptr && data.iconFile[0] != 0) {
    _ZQWinAppIcon extracted{};
    if (feroq::ExtractIconFromFile(data.iconFile, data.iconIndex, &extracted) != S_OK) {
      return feroq::ZQ_CREATE_E_ICON_FILE;
    }
    std::copy(std::begin(extracted.mask), std::end(extracted.mask), icon.mask);
    std::copy(std::begin(extracted.colors), std::end(extracted.colors), icon.colors);
    has_icon = true;
  } else if (data.useIcon == 1) {
    std::copy(std::begin(data.icon.mask), std::end(data.icon.mask), icon.mask);
    std::copy(std::begin(data.icon.colors), std::end(data.icon.colors), icon.colors);
    has_icon = true;
  }
  if (has_icon && record->SetIcon(icon) != 0) return feroq::ZQ_CREATE_E_ICON;

  // A server the record may not take is E_ACCESSDENIED; any other refusal
  // the creation code for servers.
  static constexpr feroq::StatusMapping kAddServerStatuses[] = {{feroq::ZQAPP_E_READ_ONLY, E_ACCESSDENIED}};
  for (_ZQServerConfigBlock* block = data.servers; block != nullptr; block = block->next) {
    for (LONG i = 0; i < block->count && i < 16; ++i) {
      const HRESULT added = feroq::MapServiceStatus(feroq::AddServerToNewRecord(farm, record, &block->servers[i]),
                                                    kAddServerStatuses, feroq::ZQ_CREATE_E_SERVER);
      if (added != S_OK) return added;
    }
  }
  for (_UserAccountInfoBlock* block = data.users; block != nullptr; block = block->next) {
    for (LONG i = 0; i < block->count && i < 32; ++i) {
      VORNString dn;
      if (feroq::ResolveAccountToDN(farm, &block->users[i], dn) != S_OK)
        return feroq::ZQ_CREATE_E_USER;
      if (record->AddUser(dn) != 0) return feroq::ZQ_CREATE_E_USER;
    }
  }
  return S_OK;
}

// The folder to publish into, with a reference for the caller; null when
// it cannot be found. A path that names an application finds no folder.
FolderObject* FindParentFolder(FarmObject* farm, char16_t* path) {
  if (path != nullptr && path[0] != 0) {
    feroq::ObjectRef<> found(farm);
    if (farm->GetObjectByDN(nullptr, path, &found.out()) != S_OK || !found) return nullptr;
    _FarmObjectType type;
    found->GetObjectType(&type);
    return type == FarmObjectAppFolder ? static_cast<FolderObject*>(found.release()) : nullptr;
  }
  FolderObject* root = nullptr;
  if (farm->GetRootFolder(FarmObjectAppFolder, &root) != S_OK) return nullptr;
  return root;
}

// A new record filled from `data` (steps before the folder), in `*record`.
HRESULT MakeRecord(FarmObject* farm, const _ZQWinAppData& data, std::unique_ptr<ZQApp>* record) {
  try {
    record->reset(new (std::nothrow) ZQApp);
  } catch (const std::bad_alloc&) {
  }
  if (*record == nullptr) return E_OUTOFMEMORY;
  try {
    return FillProperties(farm, record->get(), data);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

// Stores `record` in `folder` (whose reference the new object takes over)
// and makes its object. Nothing is stored before the write: on a failure up
// to it, the record, the folder's reference and its child count are given
// back.
HRESULT WriteNewApplication(FarmObject* farm, ZQAppSAL* store, std::unique_ptr<ZQApp> record,
                            feroq::ObjectRef<FolderObject> folder, ZQWinAppObject** app) {
  ULONG64 folder_id = 0;
  if (folder->GetObjectID(folder_id) != S_OK) return feroq::ZQ_CREATE_E_PARENT_ID;
  if (record->SetCommonAppFolder(folder_id) != 0) return feroq::ZQ_CREATE_E_PARENT_SET;
  folder->IncrementChildCount();  // the count the new object's parent cache holds

  ULONG64 id = 0;
  feroq::DetailChain details;
  const VSTATUS status = store->Write(id, *record, &details.out());
  if (status != 0) {
    folder->DecrementChildCount();
    return status == feroq::ZQAPP_E_CHECKS_FAILED ? feroq::CreationCodeForDetails(details.get()) : E_FAIL;
  }

  ZQWinAppObject* made = nullptr;
  try {
    made = new (std::nothrow) ZQWinAppObject(id, record.get(), farm, static_cast<AppFolderObject*>(folder.get()));
  } catch (const std::bad_alloc&) {
    // registering failed; the object was freed
  }
  if (made == nullptr) {
    *app = nullptr;
    store->Delete(id);  // the application is taken back out of the farm
    folder->DecrementChildCount();
    return E_OUTOFMEMORY;
  }
  // The new object holds the record and the folder's reference and count.
  record.release();
  folder.release();
  *app = made;
  return S_OK;
}

}  // namespace

HRESULT FarmObject::CreateZQWinApp(_ZQWinAppData* data, ZQWinAppObject** app) {
  ZQAppSAL* store = feroq::AppStoreOf(this);
  if (store == nullptr) return E_UNEXPECTED;
  // Until the new object takes it over, the record is the operation's.
  std::unique_ptr<ZQApp> record;
  if (const HRESULT made = MakeRecord(this, *data, &record); made != S_OK) return made;
  feroq::ObjectRef<FolderObject> folder(this, FindParentFolder(this, data->parentFolder));
  if (!folder) return feroq::ZQ_CREATE_E_PARENT_NOT_FOUND;
  return WriteNewApplication(this, store, std::move(record), std::move(folder), app);
}

namespace feroq {

HRESULT CreateZQWinAppInFolder(FarmObject* farm, _ZQWinAppData* data, FolderObject* folder, ZQWinAppObject** app) {
  ZQAppSAL* store = AppStoreOf(farm);
  if (store == nullptr) return E_UNEXPECTED;
  std::unique_ptr<ZQApp> record;
  if (const HRESULT made = MakeRecord(farm, *data, &record); made != S_OK) return made;
  _FarmObjectType type = FarmObjectWinApp;
  if (folder == nullptr || folder->GetObjectType(&type) != S_OK || type != FarmObjectAppFolder) {
    return ZQ_CREATE_E_PARENT_NOT_FOUND;
  }
  folder->IncrementRefCount();  // the new object's parent cache holds its own
  return WriteNewApplication(farm, store, std::move(record), ObjectRef<FolderObject>(farm, folder), app);
}

}  // namespace feroq
