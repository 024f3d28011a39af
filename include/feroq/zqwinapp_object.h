// ZQWinAppObject: one published Windows application of the farm.
//
// Wraps one application record of the store. Setters change the record only;
// Save writes it back, Load reads it again. After a successful Delete the
// object has no record and every operation returns E_UNEXPECTED. Strings
// handed out are heap blocks released with FarmObject::FreeMemory.
#ifndef FEROQ_ZQWINAPP_OBJECT_H_
#define FEROQ_ZQWINAPP_OBJECT_H_

#include "feroq/app_enums.h"
#include "feroq/common_object.h"

class AppFolderObject;
class FarmObject;
class ZQApp;

class FEROQ_API ZQWinAppObject : public CommonObject {
 public:
  // Takes ownership of `record` (a ZQApp); registers itself with `farm`
  // under `id` (replacing any entry) when the farm has a registry; stores
  // `parent` as the cached parent without taking a child count on it.
  ZQWinAppObject(ULONG64 id, void* record, FarmObject* farm, AppFolderObject* parent);
  // Identifier 0, not registered; the name is not used.
  ZQWinAppObject(WCHAR* name, void* record, FarmObject* farm, AppFolderObject* parent);
  // Copies share the record, the parent and the farm with their source; only
  // one of them may be destroyed.
  ZQWinAppObject(const ZQWinAppObject& other);
  ZQWinAppObject& operator=(const ZQWinAppObject& other);
  // Destroys the record; removes the registry entry when a farm is set.
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

  // The record, the farm and the cached parent, for the library's own use.
  ZQApp* record() const { return record_; }
  FarmObject* farm() const { return farm_; }
  AppFolderObject* cached_parent() const { return parent_; }

 private:
  ZQApp* record_;
  AppFolderObject* parent_;
  ULONG server_iteration_active_;
  ULONG user_iteration_active_;
  FarmObject* farm_;
};

#endif  // FEROQ_ZQWINAPP_OBJECT_H_
