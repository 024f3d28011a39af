// Farm administration: the setup a farm needs that the library has no call
// for (its name, its servers, its account directory), for the command-line
// tool and the tests. It works on the same farm store the services use.
//
// Every call returns a service code: 0 on success, VORN_E_INVALIDVALUE
// (0x80000003) for a value refused, VORN_E_REFUSED (0x80000007) for a change
// the farm's rules refuse, VORN_E_FAILURE (0x80000001) for an identifier that
// names nothing, VORN_E_OUTOFMEMORY (0x80000002). Outputs are written only on
// success. A FarmAdmin may be used from several threads at once.
#ifndef FEROQ_FARM_ADMIN_H_
#define FEROQ_FARM_ADMIN_H_

#include <memory>
#include <string>
#include <vector>

#include "feroq/services/service_codes.h"
#include "feroq/types.h"

namespace feroq::admin {

// Answered when a farm URL names a backend this build cannot open.
constexpr VSTATUS kFarmBackendUnavailable = ZQAPP_E_NOT_SUPPORTED;

// Codes of the farm file ("sqlite:PATH"), from opening it and from any call
// that reads or writes it:
// The farm file cannot be opened, created, read or written (a missing
// directory, no permission, an I/O error, a full disk, an empty path).
constexpr VSTATUS kFarmFileUnavailable = 0x80170001u;
// The file is not a farm: not a SQLite database, or a SQLite database
// without the farm's schema. The file is left untouched.
constexpr VSTATUS kFarmFileNotAFarm = 0x80170002u;
// The farm file was written by a newer feroq (its schema version is above
// the one this build knows). The file is left untouched.
constexpr VSTATUS kFarmFileTooNew = 0x80170003u;
// The farm file is damaged (SQLite found a corrupt page or record).
constexpr VSTATUS kFarmFileCorrupt = 0x80170004u;
// Another process held the farm file's write lock for longer than the busy
// timeout (5 s); nothing was changed.
constexpr VSTATUS kFarmBusy = 0x80170005u;

struct ServerInfo {
  ULONG64 id = 0;
  std::u16string name;
};

struct AccountInfo {
  std::u16string authority_type;  // "NT", "NDS", ...
  std::u16string domain;          // the authority instance
  std::u16string account;
  ULONG kind = 0;                 // 0, 1 or 2
  std::u16string dn;
};

struct FolderInfo {
  ULONG64 id = 0;
  ULONG64 parent_id = 0;  // 0 for the root folder
  std::u16string name;
};

class FEROQ_SERVICES_API FarmAdmin {
 public:
  // Opens the farm at `url` ("memory:NAME" or "sqlite:PATH"; see
  // CurrentFarmUrl). VORN_E_INVALIDVALUE for a URL of no known form,
  // kFarmBackendUnavailable for a backend this build lacks, the farm file
  // codes above for "sqlite:PATH" (a missing file is created as a new farm).
  static VSTATUS Open(const std::string& url, std::unique_ptr<FarmAdmin>* admin);
  // Opens the farm the services open now (FEROQ_FARM).
  static VSTATUS OpenCurrent(std::unique_ptr<FarmAdmin>* admin);

  ~FarmAdmin();
  FarmAdmin(const FarmAdmin&) = delete;
  FarmAdmin& operator=(const FarmAdmin&) = delete;

  VSTATUS GetFarmName(std::u16string* name);
  // Any name but the empty one (VORN_E_INVALIDVALUE).
  VSTATUS SetFarmName(const std::u16string& name);

  // Adds a server. An empty name, a name with a line break (CR or LF), or
  // one a server already has (without regard to case), is refused with
  // VORN_E_INVALIDVALUE.
  VSTATUS AddServer(const std::u16string& name, ULONG64* id);
  // Removes a server. Refused (VORN_E_REFUSED) while an application lists
  // it; VORN_E_FAILURE for an unknown server.
  VSTATUS RemoveServer(ULONG64 id);
  // Ascending id.
  VSTATUS ListServers(std::vector<ServerInfo>* servers);

  // Adds an account to the directory. Refused with VORN_E_INVALIDVALUE when
  // the authority type, account or DN is empty, when any of its texts holds
  // a line break (CR or LF), or when the kind is above 2, and
  // with VORN_E_REFUSED when an account with the same DN, or the same
  // (authority type, domain, account), exists (compared without regard to
  // case).
  VSTATUS AddAccount(const AccountInfo& account);
  // Ascending DN.
  VSTATUS ListAccounts(std::vector<AccountInfo>* accounts);

  // Every folder, ascending id.
  VSTATUS ListFolders(std::vector<FolderInfo>* folders);

 private:
  struct Impl;
  explicit FarmAdmin(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

// The farm URL the services open now: FEROQ_FARM, or, when it is unset, the
// default farm file "sqlite:$XDG_DATA_HOME/feroq/farm.db" (XDG_DATA_HOME
// unset or not absolute: "$HOME/.local/share/feroq/farm.db"; "sqlite:" with
// an empty path when neither can be found).
FEROQ_SERVICES_API std::string CurrentFarmUrl();

// Empties the memory farm `name` ("" for the farm of "memory:") back to a new
// farm: name "feroq", only the root folder "Applications", no servers,
// accounts, applications or events; identifier serials start again. Creates
// the farm when it does not exist yet. Objects and services already connected
// to it see the new farm.
FEROQ_SERVICES_API VSTATUS ResetMemoryFarm(const std::string& name);

}  // namespace feroq::admin

#endif  // FEROQ_FARM_ADMIN_H_
