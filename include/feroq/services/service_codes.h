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
