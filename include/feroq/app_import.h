// Importing applications from application definition files: the way back
// from ZQWinAppObject::ExportFile with the definition file type. The file's
// header says that it "can be used to publish new applications"; these calls
// read such files and publish them, all of them or none.
//
// The file format, as the library writes it and reads it back:
//
//   # comments; "# Application version: N" gives the record version,
//   #           "# Application is read-only" is noted (publishing cannot set it)
//   BeginApplication
//       Key = value            (one line per property, any order, each once)
//       DefaultDesktopIntegrate = "StartMenu",
//                                 "Desktop".      (flag lists; "" for none)
//       ServerList =
//           "NAME", "PROGRAM", "DIR";             (";" between, "." after the last)
//       UserList =
//           "DOMAIN"/"ACCOUNT".
//       IconMask =  (128 bytes)   IconData =  (512 bytes)   as 0xHH, ... 0xHH.
//   EndApplication
//
// The text is UTF-8 (a UTF-8 byte-order mark at the start is dropped); line
// ends are CR LF or LF. Values are not escaped: a quoted value runs from the
// first double quote after "=" to the last one on its line, and no value
// holds a line break (the services refuse line breaks in every text the file
// carries, so a file that holds one was not written from a farm).
// DefaultInitialProgram, DefaultWorkingDirectory and a server's own program
// and directory may be written bare when they begin with a double quote
// themselves. Every key is optional. The words of enumerations and flag
// lists are those of feroq/app_words.h.
//
// Threads: these calls keep no state of their own; ImportDefinitionFiles uses
// `farm` and its objects as any call of the object model does (one thread at
// a time).
#ifndef FEROQ_APP_IMPORT_H_
#define FEROQ_APP_IMPORT_H_

#include <cstddef>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "feroq/app_data.h"
#include "feroq/app_enums.h"
#include "feroq/app_icon.h"
#include "feroq/types.h"

class FarmObject;
class FolderObject;

namespace feroq {

// ---- Result codes (Windows values) --------------------------------------------

// The file is not a definition file the reader accepts: a line that does not
// follow the format, a value with a line break, text that is not UTF-8 (a
// UTF-16 file included). ERROR_INVALID_DATA.
constexpr HRESULT kDefinitionFileMalformed = static_cast<HRESULT>(0x8007000Du);
// The file holds more than kMaxDefinitionFileBytes. ERROR_FILE_TOO_LARGE.
constexpr HRESULT kDefinitionFileTooLarge = static_cast<HRESULT>(0x800700DFu);
// Nothing exists at the path. ERROR_FILE_NOT_FOUND.
constexpr HRESULT kDefinitionFileNotFound = static_cast<HRESULT>(0x80070002u);
// The file exists but cannot be read (no permission, a directory, a read
// error). ERROR_READ_FAULT.
constexpr HRESULT kDefinitionFileUnreadable = static_cast<HRESULT>(0x8007001Eu);
// Import: the farm already holds an application of that name in that folder
// (with kImportRefuseExisting), or an earlier file of the same import
// publishes it. ERROR_ALREADY_EXISTS.
constexpr HRESULT kImportNameTaken = static_cast<HRESULT>(0x800700B7u);

// The largest definition file read: 1 MiB. A file written by the library is
// about 6 KB.
constexpr std::size_t kMaxDefinitionFileBytes = std::size_t{1} << 20;

// ---- The description of one application ---------------------------------------

struct DefinitionServer {
  std::u16string name;
  std::u16string program;    // empty: the application's default
  std::u16string directory;  // empty: the application's default

  bool operator==(const DefinitionServer&) const = default;
};

struct DefinitionUser {
  std::u16string domain;
  std::u16string account;
  // The account kind (0, 1 or 2) a publisher may give; the file does not
  // carry it (the account directory finds an account by domain and name).
  LONG kind = 0;

  bool operator==(const DefinitionUser&) const = default;
};

// One application as a definition file describes it (or as a tool gathers
// it from elsewhere). An absent optional is a property the description does
// not give.
struct ApplicationDefinition {
  std::optional<ULONG> version;  // the record version
  bool read_only = false;        // noted only: publishing cannot set it
  std::optional<std::u16string> browser_name;  // key ObjectName
  std::optional<std::u16string> object_name;   // key DisplayName
  std::optional<std::u16string> description;
  std::optional<std::u16string> initial_program;
  std::optional<std::u16string> working_directory;
  std::optional<std::u16string> wl_folder;
  std::optional<std::u16string> parent_folder;  // a distinguished name
  std::optional<_ZQEncryptionLevel> encryption_level;
  std::optional<_ZQSoundType> sound_type;
  std::optional<LONG> video_type;
  std::optional<_ZQWindowColor> window_color;
  std::optional<_ZQWindowType> window_type;
  std::optional<LONG> window_height;
  std::optional<LONG> window_width;
  std::optional<LONG> window_scale;
  std::optional<LONG> desktop_integrate;
  std::optional<LONG> zq_attributes;
  std::optional<LONG> wl_attributes;
  std::optional<LONG> publishing_flags;
  std::vector<DefinitionServer> servers;
  std::vector<DefinitionUser> users;
  std::optional<_ZQWinAppIcon> icon;  // from IconMask and IconData
  // An icon or executable file to take the icon from when `icon` is not
  // given, and the icon's index in it (never read from a definition file).
  std::optional<std::u16string> icon_file;
  LONG icon_index = 0;
};

// Where and why a definition file, or its application, was refused.
struct DefinitionProblem {
  std::string file;     // the file's name, UTF-8, as the caller gave it
  int line = 0;         // from 1; 0 when the file as a whole is meant
  // What was expected and what was found, in words. Pieces of the file are
  // quoted with control characters escaped (\xHH) and cut after 60 bytes,
  // the rest counted ("... (N more bytes)"), so a message stays short.
  std::string message;
};

// "FILE:LINE: MESSAGE", or "FILE: MESSAGE" for line 0.
FEROQ_API std::string DescribeProblem(const DefinitionProblem& problem);

// ---- Reading --------------------------------------------------------------------

// Reads the text of one definition file. `file_name` only names the file in
// a problem. Returns S_OK and fills `*definition` (which is replaced whole),
// or kDefinitionFileMalformed and fills `*problem` with the first place the
// text breaks the format (`*definition` is then unspecified); E_OUTOFMEMORY
// when memory runs out. A UTF-16 text (a UTF-16 byte-order mark, or NUL
// bytes) is refused as a whole with a message saying to save it as UTF-8.
FEROQ_API HRESULT ParseDefinition(std::string_view text, std::string_view file_name,
                                  ApplicationDefinition* definition, DefinitionProblem* problem);

// Reads and parses the file at the UTF-16 `path` (its UTF-8 form names it
// in a problem). As ParseDefinition, plus, with `*problem` filled for line
// 0: kDefinitionFileNotFound, kDefinitionFileUnreadable, and
// kDefinitionFileTooLarge for a file above kMaxDefinitionFileBytes (no more
// than that is ever read).
FEROQ_API HRESULT ReadDefinitionFile(const char16_t* path, ApplicationDefinition* definition,
                                     DefinitionProblem* problem);

// ---- Publishing -----------------------------------------------------------------

// The _ZQWinAppData record FarmObject::CreateZQWinApp publishes, built from a
// definition. It owns the record, its server and user blocks and every string
// they point to; the record stays valid, unchanged, for the life of the
// object, which can be neither copied nor moved.
//
// Properties the definition does not give: strings are null (not given),
// enumerations and numbers 0, no flag set, the icon the store's default.
// The record version is the definition's, or `default_version` when it has
// none (FarmObject::GetAppSubsysVersion gives the farm's).
class FEROQ_API PublishDescription {
 public:
  PublishDescription();
  ~PublishDescription();
  PublishDescription(const PublishDescription&) = delete;
  PublishDescription& operator=(const PublishDescription&) = delete;

  // Builds the record; what an earlier Build made is dropped. S_OK, or
  // E_OUTOFMEMORY (the record is then empty).
  HRESULT Build(const ApplicationDefinition& definition, ULONG default_version);

  _ZQWinAppData* data() { return &data_; }

 private:
  char16_t* Keep(const std::u16string& text);

  _ZQWinAppData data_;
  std::deque<std::u16string> strings_;
  std::vector<std::unique_ptr<_ZQServerConfigBlock>> server_blocks_;
  std::vector<std::unique_ptr<_UserAccountInfoBlock>> user_blocks_;
};

// ---- Importing ------------------------------------------------------------------

// The bits of ImportRequest::flags.
// Create the folders of a ParentFolder that the farm lacks (in the same
// transaction as the applications).
constexpr ULONG kImportCreateFolders = 0x1;
// Run every step, the publishing included, in a transaction that is then
// rolled back: the farm is left as it was, the answer is the real one's.
constexpr ULONG kImportDryRun = 0x2;
// An application the farm already holds (same name in the same folder) is
// refused with kImportNameTaken instead of being left out.
constexpr ULONG kImportRefuseExisting = 0x4;

enum class ImportStage : int {
  kRead,            // a file was read and checked
  kFolderCreated,   // a folder was created (`dn`: the folder)
  kPublished,       // the file's application was published (`dn`)
  kAlreadyPresent,  // the farm already holds it; it was left out (`dn`)
  kRefused,         // a file or its application was refused (`code`, `problem`)
  kNotKept,         // the farm could not keep the import (`code`, `service_code`)
};

// What ImportDefinitionFiles reports as it goes. Every pointer is valid only
// during the callback.
struct ImportEvent {
  ImportStage stage;
  ULONG index;         // the file's index in the request (count for kNotKept)
  ULONG count;         // the number of files in the request
  const char16_t* file;   // the file, as the request names it; null for kNotKept
  const char16_t* dn;     // the application's (or created folder's) distinguished name, or null
  HRESULT code;        // kRefused, kNotKept: why; else S_OK
  ULONG service_code;  // kNotKept: the farm's own code; else 0
  const DefinitionProblem* problem;  // kRefused: where and why; else null
};

using ImportCallback = void (*)(const ImportEvent& event, void* context);

struct ImportRequest {
  const char16_t* const* files = nullptr;  // UTF-16 paths of definition files
  ULONG file_count = 0;
  // The folder every application goes into; null: each file's ParentFolder,
  // or the root folder for a file without one. Used, not released.
  FolderObject* folder = nullptr;
  ULONG flags = 0;  // kImport... bits
  ImportCallback callback = nullptr;  // may be null
  void* context = nullptr;            // passed to the callback
};

// Publishes the application of every file of `request` into `farm`, all of
// them or none:
// 1. Every file is read and checked (ReadDefinitionFile; an icon file of the
//    same name with the extension .ico beside a file without icon blocks
//    gives the icon). Each refused file is reported; if any was refused,
//    the first refusal's code is returned and the farm is not touched.
// 2. In one transaction of the farm's services (RunInOneTransaction): each
//    file's folder is found (or, with kImportCreateFolders, created), an
//    application the folder already holds under the same name is left out
//    (reported as kAlreadyPresent; so running the same import again
//    completes and changes nothing), and every other application is
//    published with CreateZQWinApp's rules, in the order of the files. The
//    first refusal stops the import: the transaction is rolled back, and the
//    farm holds none of this import's folders and applications.
// 3. The transaction is committed (or, with kImportDryRun, rolled back). A
//    process killed at any moment leaves the farm with all of the import or
//    none of it.
// Results: S_OK; the code of the first refusal: the reading codes above,
// kImportNameTaken, ZQ_CREATE_E_PARENT_NOT_FOUND (0x20010019, a folder that
// does not exist or names an application), or any code of CreateZQWinApp
// (creation codes are positive: compare with S_OK); E_FAIL when the farm
// could not keep the transaction (its code in the kNotKept event);
// E_INVALIDARG for a null farm or files, or no file; E_UNEXPECTED for a farm
// object without its services; E_OUTOFMEMORY (or, with kImportCreateFolders,
// E_FAIL: a lookup that runs out of memory finds no folder, as
// GetObjectByDN's lookups do, and the folder made again is refused). Objects the import takes for
// itself are released on every path. The folder objects it publishes or
// creates folders into count those children (as CreateZQWinApp and
// CreateSubFolder count them); when the import is rolled back it takes
// those counts back.
FEROQ_API HRESULT ImportDefinitionFiles(FarmObject* farm, const ImportRequest& request);

}  // namespace feroq

#endif  // FEROQ_APP_IMPORT_H_
