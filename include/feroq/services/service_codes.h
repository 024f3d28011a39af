// Result codes of the farm's service libraries.
//
// Services return 0 for success and one of these otherwise. The library maps
// them to its own HRESULT codes; the record containers return them as they are.
#ifndef FEROQ_SERVICE_CODES_H_
#define FEROQ_SERVICE_CODES_H_

#include "feroq/types.h"

typedef ULONG VSTATUS;

namespace feroq {

constexpr VSTATUS VORN_OK = 0;
constexpr VSTATUS VORN_E_FAILURE = 0x80000001u;         // general failure
constexpr VSTATUS VORN_E_OUTOFMEMORY = 0x80000002u;     // the service ran out of memory
constexpr VSTATUS VORN_E_INVALIDVALUE = 0x80000003u;    // value refused (scalar setters)
constexpr VSTATUS VORN_E_REFUSED = 0x80000007u;         // operation refused
constexpr VSTATUS VORN_E_ACCESSDENIED = 0x80000016u;    // access refused

constexpr VSTATUS ZQAPP_E_VALUE_REFUSED = 0x801D1100u;  // string value refused
constexpr VSTATUS ZQAPP_E_NO_MORE = 0x801D1101u;        // list empty or at its end
constexpr VSTATUS ZQAPP_E_NOT_SUPPORTED = 0x801D1102u;  // operation not supported
constexpr VSTATUS ZQAPP_E_READ_ONLY = 0x801D1103u;      // record may not be changed
constexpr VSTATUS ZQAPP_E_CHECKS_FAILED = 0x801D1104u;  // record failed the checks; see the chain
constexpr VSTATUS ZQAPP_E_BROWSER_NAME = 0x801D1106u;   // browser name refused
constexpr VSTATUS ZQAPP_E_NOT_ITERATING = 0x801D1107u;  // no iteration in progress
constexpr VSTATUS ZQAPP_E_ITERATING = 0x801D1108u;      // an iteration is already in progress

constexpr VSTATUS FOLDER_E_MOVE_REFUSED = 0x80160004u;
constexpr VSTATUS FOLDER_E_RENAME_REFUSED = 0x80160006u;
constexpr VSTATUS FOLDER_E_DELETE_REFUSED = 0x8016000Cu;

// The precise causes of refusals by the farm's rules. A service answers the
// refusal code its operation is documented with (0x80160004, 0x80160006,
// 0x8016000C, 0x801D1104, ...); which rule refused is recorded, with one of
// these codes, in the thread's last service failure (feroq/services/farm_admin.h).
// Folder and application names (an application's name is its display name):
constexpr VSTATUS FARM_E_NAME_EMPTY = 0x80180001u;         // the name is empty
constexpr VSTATUS FARM_E_NAME_SEPARATOR = 0x80180002u;     // it holds a backslash or a slash
constexpr VSTATUS FARM_E_NAME_CONTROL = 0x80180003u;       // it holds a control character
constexpr VSTATUS FARM_E_NAME_TOO_LONG = 0x80180004u;      // more than kMaxFarmNameLength units
constexpr VSTATUS FARM_E_NAME_DOTS = 0x80180005u;          // it is "." or ".."
constexpr VSTATUS FARM_E_NAME_TAKEN = 0x80180006u;         // a sibling has it (without regard to case)
// Folders:
constexpr VSTATUS FARM_E_ROOT_RENAME = 0x80180007u;        // the root folder keeps its name
constexpr VSTATUS FARM_E_ROOT_DELETE = 0x80180008u;        // the root folder cannot be deleted
constexpr VSTATUS FARM_E_FOLDER_NOT_EMPTY = 0x80180009u;   // it still holds folders or applications
constexpr VSTATUS FARM_E_ROOT_MOVE = 0x8018000Au;          // the root folder cannot be moved
constexpr VSTATUS FARM_E_MOVE_BELOW_ITSELF = 0x8018000Bu;  // the target is the folder or lies below it
constexpr VSTATUS FARM_E_NOT_THE_PARENT = 0x8018000Cu;     // `from` is not the object's folder
// Applications:
constexpr VSTATUS FARM_E_BROWSER_NAME_TAKEN = 0x8018000Du; // another application has the browser name
// Servers and accounts (the admin interface):
constexpr VSTATUS FARM_E_SERVER_NAME_TAKEN = 0x8018000Eu;  // another server has the name
constexpr VSTATUS FARM_E_SERVER_IN_USE = 0x8018000Fu;      // an application lists the server
constexpr VSTATUS FARM_E_ACCOUNT_TAKEN = 0x80180010u;      // the account (or its DN) is in the directory
// Texts:
constexpr VSTATUS FARM_E_TEXT_LINE_BREAK = 0x80180011u;    // a CR or LF in a text a definition file carries
// Lookups by name:
constexpr VSTATUS FARM_E_NO_SUCH_SERVER = 0x80180012u;     // no server of the farm has the name
constexpr VSTATUS FARM_E_NO_SUCH_ACCOUNT = 0x80180013u;    // the directory has no such account

// The longest folder or application name, in UTF-16 units.
constexpr ULONG kMaxFarmNameLength = 259;

// Kinds carried in bits 32 to 47 of a farm object identifier.
constexpr ULONG kObjectKindApplication = 9;
constexpr ULONG kObjectKindFolder = 23;
constexpr ULONG kObjectKindServer = 31;

constexpr ULONG ObjectKindOf(ULONG64 id) { return static_cast<ULONG>((id >> 32) & 0xFFFFu); }
constexpr ULONG64 MakeObjectId(ULONG kind, ULONG serial) {
  return (static_cast<ULONG64>(kind & 0xFFFFu) << 32) | serial;
}

}  // namespace feroq

#endif  // FEROQ_SERVICE_CODES_H_
