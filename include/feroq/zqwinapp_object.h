// ZQWinAppObject: one published Windows application of the farm.
//
// Wraps one application record of the store. Setters change the record only;
// Save writes it back, Load reads it again; there is no automatic save.
// After a successful Delete the object has no record and every operation
// returns E_UNEXPECTED (after the argument checks that come first, as
// noted).
//
// Strings. Every string getter hands out a new zero-filled block of the
// farm's heap holding the text and its NUL, released with
// FarmObject::FreeMemory. A value that is empty in the record gives S_FALSE
// instead: nothing is allocated and the out-parameter is left as it was, so
// a caller that tests with FAILED (or == S_OK) sees the difference. When no
// block can be had the result is E_OUTOFMEMORY with the out-parameter null.
//
// Setters. Results of the store: the string setters give E_INVALIDARG when
// the store refuses the value (for the browser name also when it refuses
// the name itself), E_ACCESSDENIED when the record may not be changed
// (read-only) and E_FAIL otherwise. The enum and flag setters and SetEnabled
// report only a refused value (E_INVALIDARG) and a read-only record
// (E_ACCESSDENIED) and take every other store result as success; the
// number setters (height, width, scale, publishing flags) give E_FAIL for
// it; SetDefaultWindowColor reports a refused value as E_ACCESSDENIED too. A
// value the library itself refuses gives E_INVALIDARG without calling the
// store.
//
// Threads. The object takes no lock: one thread at a time per object.
#ifndef FEROQ_ZQWINAPP_OBJECT_H_
#define FEROQ_ZQWINAPP_OBJECT_H_

#include <cstddef>
#include <cstdint>

#include "feroq/app_enums.h"
#include "feroq/app_export.h"
#include "feroq/app_icon.h"
#include "feroq/app_records.h"
#include "feroq/common_object.h"

class AppFolderObject;
class FarmObject;
class ZQApp;
namespace feroq {
class ObjectAccess;
}

class FEROQ_API ZQWinAppObject : public CommonObject {
 public:
  // Takes ownership of `record` (a ZQApp); registers itself with `farm`
  // under `id` (replacing any entry) when the farm has a registry; stores
  // `parent` as the cached parent without taking a child count or a
  // reference on it: the caller hands over one of each with it. Raises
  // std::bad_alloc when the registry cannot take the entry (the object is
  // then freed and the record stays the caller's).
  ZQWinAppObject(ULONG64 id, void* record, FarmObject* farm, AppFolderObject* parent);
  // Identifier 0, not registered; the name is not used.
  ZQWinAppObject(char16_t* name, void* record, FarmObject* farm, AppFolderObject* parent);
  // A copy owns its own copy of the record, shares the farm and holds its
  // own reference and child count on the cached parent; it is not
  // registered and has no open iteration.
  ZQWinAppObject(const ZQWinAppObject& other);
  ZQWinAppObject& operator=(const ZQWinAppObject& other);
  // Destroys the record, gives back the cached parent's reference (its child
  // count stays: the application is still the folder's child) and removes
  // the registry entry when a farm is set.
  ~ZQWinAppObject() override;

  // The application's path (CommonObject::GetDistinguishedName) from the
  // folder its record names, a new string released with
  // FarmObject::FreeMemory. E_OUTOFMEMORY also when the application's own
  // name cannot be read or is empty; E_FAIL when a folder's name or parent
  // cannot be read; E_UNEXPECTED without a folder service.
  HRESULT GetDistinguishedName(char16_t** dn) override;
  // The display name (string getter: S_FALSE when empty).
  HRESULT GetObjectName(char16_t** name) override;
  // Lends the parent folder: the cached one, or, the first time, the folder
  // the record names, which is then cached with one reference and one child
  // count of the object's own. The caller takes no reference and must not
  // release it; it stays valid while this object lives and keeps it (until
  // SetParentFolder, Delete or the object's destruction). Contrast
  // AppFolderObject::GetParentFolder, which hands out a new reference.
  // FarmObject::CreateAppFolderObject's failures as they came (`*folder`
  // null).
  HRESULT GetParentFolder(FolderObject** folder) override;
  // The record's version; S_OK.
  HRESULT GetVersion(LONG* version) override;
  // The display name (string setter).
  HRESULT SetObjectName(char16_t* name) override;

  // Records `folder` as the application's folder and caches it (giving
  // back the previous parent's child count and reference, taking one of
  // each on the new one). Takes effect in the farm with Save. S_OK without
  // any change when `folder` is the cached parent; E_FAIL when the record
  // refuses the folder (nothing changes); CreateAppFolderObject's failures
  // after the record changed (no parent cached then). `folder` must be
  // valid.
  HRESULT SetParentFolder(FolderObject* folder);
  // Reads the stored application into the record, replacing unsaved
  // changes. E_UNEXPECTED without the application store or a record;
  // E_ACCESSDENIED, E_OUTOFMEMORY, E_NOTIMPL (the store refuses the
  // operation) or E_FAIL (as for an identifier the store does not hold).
  HRESULT Load();
  // Writes the record to the store. E_UNEXPECTED as Load; E_ACCESSDENIED
  // when the store refuses; E_NOTIMPL when the record fails the store's
  // checks or the store cannot write it (use Validate or
  // FarmObject::CreateZQWinApp for the reasons); E_OUTOFMEMORY; E_FAIL.
  HRESULT Save();
  // Deletes the stored application. On success the cached parent's child
  // count and reference are given back and the record destroyed; the object
  // stays registered and referenced, and answers E_UNEXPECTED from then on.
  // E_UNEXPECTED as Load; E_ACCESSDENIED when the store refuses, E_FAIL for
  // its other failures (the object is unchanged).
  HRESULT Delete();

  // String properties (see Strings and Setters above). Only
  // GetDefaultInitialProgram tests its out-pointer: E_INVALIDARG for null,
  // before anything else. The setters take null as the empty string.
  HRESULT GetBrowserName(char16_t** name);
  HRESULT SetBrowserName(char16_t* name);
  HRESULT GetDefaultInitialProgram(char16_t** program);
  HRESULT SetDefaultInitialProgram(char16_t* program);
  HRESULT GetDefaultWorkingDirectory(char16_t*& directory);
  HRESULT SetDefaultWorkingDirectory(char16_t* directory);
  HRESULT GetDescription(char16_t** description);
  HRESULT SetDescription(char16_t* description);
  HRESULT GetWLFolder(char16_t*& folder);
  HRESULT SetWLFolder(char16_t* folder);

  // Enumerations (feroq/app_enums.h). A getter that meets a stored value
  // without a public one writes the enumeration's not-supported value
  // (ZQEncryptionNotSupported, ZQSoundNotSupported,
  // ZQWindowColorNotSupported, ZQWindowFullScreen) and returns E_NOTIMPL. A
  // setter refuses values outside the enumeration (and ZQWindowFullScreen)
  // with E_INVALIDARG. ZQWindowColorHigh15Bit is stored as high colour and
  // reads back as ZQWindowColorHigh.
  HRESULT GetDefaultEncryptionLevel(_ZQEncryptionLevel* level);
  HRESULT SetDefaultEncryptionLevel(_ZQEncryptionLevel level);
  HRESULT GetDefaultSoundType(_ZQSoundType* sound);
  HRESULT SetDefaultSoundType(_ZQSoundType sound);
  HRESULT GetDefaultWindowColor(_ZQWindowColor* color);
  HRESULT SetDefaultWindowColor(_ZQWindowColor color);
  HRESULT GetDefaultWindowType(_ZQWindowType* type);
  HRESULT SetDefaultWindowType(_ZQWindowType type);
  // Window size in pixels (stored unsigned) and scale in percent (only the
  // low byte is stored: 300 stores 44); the getters always give S_OK.
  HRESULT GetDefaultWindowHeight(LONG* height);
  HRESULT SetDefaultWindowHeight(LONG height);
  HRESULT GetDefaultWindowWidth(LONG* width);
  HRESULT SetDefaultWindowWidth(LONG width);
  HRESULT GetDefaultWindowScale(LONG* scale);
  HRESULT SetDefaultWindowScale(LONG scale);
  // Flag words of the bits in app_enums.h. A getter reports the defined bits
  // and returns E_NOTIMPL when the record holds others besides; a setter
  // refuses a word with any other bit (E_INVALIDARG).
  HRESULT GetDesktopIntegrate(LONG* flags);
  HRESULT SetDesktopIntegrate(LONG flags);
  HRESULT GetZQAttributes(LONG* flags);
  HRESULT SetZQAttributes(LONG flags);
  HRESULT GetWLAttributes(LONG* flags);
  HRESULT SetWLAttributes(LONG flags);
  HRESULT GetPublishingFlags(LONG* flags);
  HRESULT SetPublishingFlags(LONG flags);
  // Enabled is the "application disabled" WL attribute read the other way:
  // 1 when the bit is clear. Only exactly 1 enables; any other value
  // disables. The other WL attribute bits are kept.
  HRESULT GetEnabled(int* enabled);
  HRESULT SetEnabled(int enabled);
  // 1 when the record is read-only (the store then refuses every change
  // with E_ACCESSDENIED), else 0. SetReadOnly(0) makes the record writable
  // (S_OK); a non-zero value gives E_NOTIMPL and changes nothing.
  HRESULT GetReadOnly(int* read_only);
  HRESULT SetReadOnly(int read_only);

  // ---- Servers ----
  // The record's list of publishing servers, by name (through the server
  // service). Changes live in the record until Save. The getters write new
  // blocks of the farm's heap into `config`, overwriting (not releasing)
  // what it held; the caller releases each non-null one with
  // FarmObject::FreeMemory. On a failure no block is left allocated:
  // `config` is either untouched or holds three null strings.

  // Adds `config`'s server with its own initial program and working
  // directory (null or empty: not given). E_INVALIDARG for a null `config`,
  // a null or empty server name or an own string longer than
  // kServerStringMaxLength (before the server is looked up); E_UNEXPECTED
  // without a record or server service; E_OUTOFMEMORY or E_FAIL when the
  // name cannot be looked up (an unknown server is E_FAIL); E_ACCESSDENIED
  // when the record may not be changed; E_FAIL when it refuses otherwise.
  HRESULT AddServer(_ZQServerConfig* config);
  // Removes the named server. Results as AddServer.
  HRESULT RemoveServer(char16_t* server_name);
  // The number of servers. E_UNEXPECTED without a record, then E_INVALIDARG
  // for a null `count`.
  HRESULT GetServerCount(LONG* count);
  // Closes any open server iteration and opens a new one at the first
  // server. S_FALSE when the list is empty (no iteration is left open);
  // E_INVALIDARG for a null `config`; E_UNEXPECTED without a record or server
  // service; E_OUTOFMEMORY or E_FAIL when the server's name cannot be read
  // or copied (the iteration is closed again).
  HRESULT GetFirstServer(_ZQServerConfig* config);
  // The next server of the open iteration. E_UNEXPECTED without one; S_FALSE
  // after the last server; failures as GetFirstServer. The iteration stays
  // open until the next GetFirstServer, also after S_FALSE or a failure.
  HRESULT GetNextServer(_ZQServerConfig* config);

  // ---- Users ----
  // The record's list of accounts, given as domain and account name
  // (Windows domain accounts only; through the user service). Changes live
  // in the record until Save. Strings the getters write into `user` are
  // owned as for servers.

  // Adds or removes the account. E_INVALIDARG for a null `user`, an
  // authority kind other than kUserAuthorityWindowsDomain, an account kind
  // outside 0..2 or an empty domain or account name (before the user service
  // is asked); E_UNEXPECTED without a record or user service; E_OUTOFMEMORY
  // or E_FAIL when the account cannot be resolved; E_FAIL when the record
  // refuses, whatever the reason.
  HRESULT AddUser(_UserAccountInfo* user);
  HRESULT RemoveUser(_UserAccountInfo* user);
  // The number of accounts. E_INVALIDARG for a null `count` (also without a
  // record), then E_UNEXPECTED without a record.
  HRESULT GetUserCount(LONG* count);
  // As GetFirstServer and GetNextServer, for accounts; also E_ACCESSDENIED
  // when the record's users may not be read, and E_FAIL for an account whose
  // authority is not a Windows domain (which ends a walk that stops at the
  // first failure).
  HRESULT GetFirstUser(_UserAccountInfo* user);
  HRESULT GetNextUser(_UserAccountInfo* user);

  // Asks the store to check the stored application (not the record in
  // memory): S_OK; E_INVALIDARG when it fails the store's checks (the
  // details are not reported); E_NOTIMPL when the store cannot check it;
  // E_ACCESSDENIED, E_OUTOFMEMORY or E_FAIL; E_UNEXPECTED without a record
  // or the application store.
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
  // E_INVALIDARG when the file yields no icon there, a damaged file
  // included; E_FAIL when what it yields is no icon, as index -1 on a file
  // of several icons; on failure the icon is unchanged), then stores it as
  // SetIcon does.
  HRESULT GetIcon(_ZQWinAppIcon*& icon);
  HRESULT SetIcon(_ZQWinAppIcon* icon);
  HRESULT GetIconFile(_IconFileFormat format, char16_t* file_name);
  HRESULT SetIconFile(_IconFileFormat format, char16_t* file_name, LONG index);

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
  HRESULT ExportFile(_ZQWinAppFileType type, char16_t* language, char16_t* file_name, void* options);

 private:
  // The library's own view of the object: its record, farm and cached
  // parent (src/farm/object_access.h).
  friend class feroq::ObjectAccess;

  void ReleaseParentCache();

  // The record: null after Delete; otherwise the record, or, for an object
  // made from its identifier, the place in the object's own block where a
  // blank record is made when it is first reached, so that an object that
  // is never read writes none of it. Reaching it through ->, * or a
  // conversion makes it; comparing with null does not.
  class FEROQ_API RecordRef {
   public:
    RecordRef(ZQApp* record) : bits_(reinterpret_cast<std::uintptr_t>(record)) {}  // NOLINT: implicit
    RecordRef& operator=(ZQApp* record) {
      bits_ = reinterpret_cast<std::uintptr_t>(record);
      return *this;
    }
    // A record to be made at `place` when first reached.
    static RecordRef MadeWhenReached(void* place) {
      RecordRef ref(nullptr);
      ref.bits_ = reinterpret_cast<std::uintptr_t>(place) | kNotMade;
      return ref;
    }
    bool operator==(std::nullptr_t) const { return bits_ == 0; }
    ZQApp* get() const { return (bits_ & kNotMade) != 0 ? Make() : reinterpret_cast<ZQApp*>(bits_); }
    ZQApp* operator->() const { return get(); }
    ZQApp& operator*() const { return *get(); }
    operator ZQApp*() const { return get(); }  // NOLINT: implicit
    // The record if it has been made; null when not (yet).
    ZQApp* IfMade() const { return (bits_ & kNotMade) != 0 ? nullptr : reinterpret_cast<ZQApp*>(bits_); }

   private:
    static constexpr std::uintptr_t kNotMade = 1;
    ZQApp* Make() const;
    mutable std::uintptr_t bits_;
  };

  RecordRef record_;
  AppFolderObject* parent_;
  ULONG server_iteration_active_;
  ULONG user_iteration_active_;
  FarmObject* farm_;
};

#endif  // FEROQ_ZQWINAPP_OBJECT_H_
