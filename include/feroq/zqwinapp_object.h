// ZQWinAppObject: one published Windows application of the farm.
//
// Wraps one application record of the store. Setters change the record only;
// Save writes it back, Load reads it again. After a successful Delete the
// object has no record and every operation returns E_UNEXPECTED. Strings
// handed out are heap blocks released with FarmObject::FreeMemory.
#ifndef FEROQ_ZQWINAPP_OBJECT_H_
#define FEROQ_ZQWINAPP_OBJECT_H_

#include "feroq/app_enums.h"
#include "feroq/app_export.h"
#include "feroq/app_icon.h"
#include "feroq/app_records.h"
#include "feroq/common_object.h"

class AppFolderObject;
class FarmObject;
class ZQApp;

class FEROQ_API ZQWinAppObject : public CommonObject {
 public:
  // Takes ownership of `record` (a ZQApp); registers itself with `farm`
  // under `id` (replacing any entry) when the farm has a registry; stores
  // `parent` as the cached parent without taking a child count or a
  // reference on it: the caller hands over one of each with it.
  ZQWinAppObject(ULONG64 id, void* record, FarmObject* farm, AppFolderObject* parent);
  // Identifier 0, not registered; the name is not used.
  ZQWinAppObject(WCHAR* name, void* record, FarmObject* farm, AppFolderObject* parent);
  // A copy owns its own copy of the record, shares the farm and holds its
  // own reference on the cached parent; it is not registered.
  ZQWinAppObject(const ZQWinAppObject& other);
  ZQWinAppObject& operator=(const ZQWinAppObject& other);
  // Destroys the record, gives back the cached parent's reference and removes
  // the registry entry when a farm is set.
  ~ZQWinAppObject() override;

  HRESULT GetDistinguishedName(WCHAR** dn) override;
  HRESULT GetObjectName(WCHAR** name) override;
  HRESULT GetParentFolder(FolderObject** folder) override;
  HRESULT GetVersion(LONG* version) override;
  HRESULT SetObjectName(WCHAR* name) override;

  HRESULT SetParentFolder(FolderObject* folder);
  HRESULT Load();
  HRESULT Save();
  HRESULT Delete();

  HRESULT GetBrowserName(WCHAR** name);
  HRESULT SetBrowserName(WCHAR* name);
  HRESULT GetDefaultInitialProgram(WCHAR** program);
  HRESULT SetDefaultInitialProgram(WCHAR* program);
  HRESULT GetDefaultWorkingDirectory(WCHAR*& directory);
  HRESULT SetDefaultWorkingDirectory(WCHAR* directory);
  HRESULT GetDescription(WCHAR** description);
  HRESULT SetDescription(WCHAR* description);
  HRESULT GetWLFolder(WCHAR*& folder);
  HRESULT SetWLFolder(WCHAR* folder);

  HRESULT GetDefaultEncryptionLevel(_ZQEncryptionLevel* level);
  HRESULT SetDefaultEncryptionLevel(_ZQEncryptionLevel level);
  HRESULT GetDefaultSoundType(_ZQSoundType* sound);
  HRESULT SetDefaultSoundType(_ZQSoundType sound);
  HRESULT GetDefaultWindowColor(_ZQWindowColor* color);
  HRESULT SetDefaultWindowColor(_ZQWindowColor color);
  HRESULT GetDefaultWindowType(_ZQWindowType* type);
  HRESULT SetDefaultWindowType(_ZQWindowType type);
  HRESULT GetDefaultWindowHeight(LONG* height);
  HRESULT SetDefaultWindowHeight(LONG height);
  HRESULT GetDefaultWindowWidth(LONG* width);
  HRESULT SetDefaultWindowWidth(LONG width);
  HRESULT GetDefaultWindowScale(LONG* scale);
  HRESULT SetDefaultWindowScale(LONG scale);
  HRESULT GetDesktopIntegrate(LONG* flags);
  HRESULT SetDesktopIntegrate(LONG flags);
  HRESULT GetZQAttributes(LONG* flags);
  HRESULT SetZQAttributes(LONG flags);
  HRESULT GetWLAttributes(LONG* flags);
  HRESULT SetWLAttributes(LONG flags);
  HRESULT GetPublishingFlags(LONG* flags);
  HRESULT SetPublishingFlags(LONG flags);
  HRESULT GetEnabled(int* enabled);
  HRESULT SetEnabled(int enabled);
  HRESULT GetReadOnly(int* read_only);
  HRESULT SetReadOnly(int read_only);

  // ---- Servers ----
  // The record's list of publishing servers, by name. Changes live in the
  // record until Save. Strings written into `config` by GetFirstServer and
  // GetNextServer belong to the caller (release with FarmObject::FreeMemory);
  // on failure no string is left allocated and `config` holds no new block.
  HRESULT AddServer(_ZQServerConfig* config);
  HRESULT RemoveServer(WCHAR* server_name);
  HRESULT GetServerCount(LONG* count);
  // Closes any open server iteration and opens a new one. S_FALSE when the
  // list is empty (no iteration is left open).
  HRESULT GetFirstServer(_ZQServerConfig* config);
  // E_UNEXPECTED without an open iteration; S_FALSE after the last server.
  // The iteration stays open until the next GetFirstServer.
  HRESULT GetNextServer(_ZQServerConfig* config);

  // ---- Users ----
  // The record's list of accounts, given as domain and account name (Windows
  // domain accounts only). Ownership of returned strings as for servers.
  HRESULT AddUser(_UserAccountInfo* user);
  HRESULT RemoveUser(_UserAccountInfo* user);
  HRESULT GetUserCount(LONG* count);
  HRESULT GetFirstUser(_UserAccountInfo* user);
  HRESULT GetNextUser(_UserAccountInfo* user);

  // Asks the store to check the stored application: S_OK, E_INVALIDARG when
  // it fails the store's checks, E_NOTIMPL when the store cannot check it,
  // E_ACCESSDENIED, E_OUTOFMEMORY or E_FAIL.
  HRESULT Validate();

  // ---- Icons ----
  // The application's 32 by 32, 16-colour icon. Each returns E_UNEXPECTED
  // without a record. GetIcon hands out a new record from the farm object's
  // heap (release with FarmObject::FreeMemory; null and E_OUTOFMEMORY when
  // none can be had). SetIcon: E_INVALIDARG for a null icon, E_ACCESSDENIED
  // when the record may not be changed, E_FAIL for another refusal.
  // GetIconFile writes the icon as an ICO file (E_NOTIMPL for a format other
  // than IconFileFormatICO, E_INVALIDARG for a null or empty name, E_FAIL
  // when the file cannot be written). SetIconFile takes the icon at `index`
  // of an icon file, executable or library (the format is not examined;
  // E_INVALIDARG when there is no such icon, E_FAIL when it cannot be read;
  // on failure the icon is unchanged), then stores it as SetIcon does.
  HRESULT GetIcon(_ZQWinAppIcon*& icon);
  HRESULT SetIcon(_ZQWinAppIcon* icon);
  HRESULT GetIconFile(_IconFileFormat format, WCHAR* file_name);
  HRESULT SetIconFile(_IconFileFormat format, WCHAR* file_name, LONG index);

  // ---- Export ----
  // Writes the application to `file_name` (created, or replaced) as the file
  // of `type`, with `options` pointing at the options record of that type
  // (feroq/app_export.h). Checks in this order: `type` outside 0..2, a null
  // or empty file name, a language that is neither null nor one of English,
  // French, German, Japanese, Spanish (any case): E_INVALIDARG; no record or
  // no application store: E_UNEXPECTED. The language has no other effect.
  // Launch file and HTML page: E_INVALIDARG for null options; the store's
  // refusal gives E_ACCESSDENIED, E_OUTOFMEMORY or E_FAIL and no file is
  // created; E_FAIL when the file cannot be created. The definition file:
  // see src/export/definition_file.h (null options: the icon goes into the
  // file).
  HRESULT ExportFile(_ZQWinAppFileType type, WCHAR* language, WCHAR* file_name, void* options);

  // The record, the farm and the cached parent, for the library's own use.
  ZQApp* record() const { return record_; }
  FarmObject* farm() const { return farm_; }
  AppFolderObject* cached_parent() const { return parent_; }

 private:
  void ReleaseParentCache();

  ZQApp* record_;
  AppFolderObject* parent_;
  ULONG server_iteration_active_;
  ULONG user_iteration_active_;
  FarmObject* farm_;
};

#endif  // FEROQ_ZQWINAPP_OBJECT_H_
