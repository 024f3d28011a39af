// Fixed-width types and result codes of the feroq interface.
//
// The interface keeps the semantics of a 32-bit Windows library on every
// platform: LONG is a 32-bit signed value, ULONG 32-bit unsigned, ULONG64
// 64-bit unsigned, and wide strings are NUL-terminated UTF-16 in char16_t
// units. On Windows LONG and ULONG are the system's (long, unsigned long);
// elsewhere they are std::int32_t and std::uint32_t, so code must not mix a
// LONG* with an std::int32_t*. Result codes carry their exact 32-bit
// values, so a test by sign (FAILED / SUCCEEDED) behaves as it does on
// Windows.
#ifndef FEROQ_TYPES_H_
#define FEROQ_TYPES_H_

#include <cstdint>

#if defined(_WIN32)

// On Windows the types and codes are the system's own, so that a translation
// unit may include <windows.h> before or after this header. Only the headers
// that define them are taken here, not the whole of <windows.h> with its
// macros for the system's calls.
#include <windef.h>
#include <winerror.h>

#include <type_traits>

static_assert(std::is_same_v<HRESULT, LONG>);
static_assert(S_OK == 0 && S_FALSE == 1);
static_assert(E_NOTIMPL == static_cast<HRESULT>(0x80004001u));
static_assert(E_FAIL == static_cast<HRESULT>(0x80004005u));
static_assert(E_UNEXPECTED == static_cast<HRESULT>(0x8000FFFFu));
static_assert(E_ACCESSDENIED == static_cast<HRESULT>(0x80070005u));
static_assert(E_OUTOFMEMORY == static_cast<HRESULT>(0x8007000Eu));
static_assert(E_INVALIDARG == static_cast<HRESULT>(0x80070057u));
static_assert(SUCCEEDED(S_FALSE) && !SUCCEEDED(E_FAIL) && FAILED(E_INVALIDARG) && !FAILED(S_OK));

#else  // !_WIN32

typedef std::int32_t LONG;
typedef std::uint32_t ULONG;
typedef std::uint64_t ULONG64;
typedef std::uint16_t USHORT;
typedef std::uint8_t BYTE;
typedef std::int32_t HRESULT;

// What the codes mean across the interface; each call's comment says when
// it gives which.
// Success.
constexpr HRESULT S_OK = 0;
// Success with a meaning of its own: an empty string property (nothing
// allocated, the out-pointer untouched), the end or emptiness of a server
// or user list, fewer objects delivered than asked for, a name component
// that names nothing.
constexpr HRESULT S_FALSE = 1;
// A value or type the object does not support, or a stored value the
// interface has no name for.
constexpr HRESULT E_NOTIMPL = static_cast<HRESULT>(0x80004001u);
// Any other failure of a service.
constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005u);
// The object lacks what the call needs: a farm object without the service
// or registry the call uses, an application object without its record.
constexpr HRESULT E_UNEXPECTED = static_cast<HRESULT>(0x8000FFFFu);
// The farm refused the change, or a detached folder object was asked to act.
constexpr HRESULT E_ACCESSDENIED = static_cast<HRESULT>(0x80070005u);
// Memory ran out, in the library or in a service.
constexpr HRESULT E_OUTOFMEMORY = static_cast<HRESULT>(0x8007000Eu);
// An argument a check refuses, or a value the farm refuses.
constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057u);

// The test by sign. FarmObject::CreateZQWinApp's own failure codes are
// positive and pass as SUCCEEDED: compare its result with S_OK.
constexpr bool SUCCEEDED(HRESULT hr) { return hr >= 0; }
constexpr bool FAILED(HRESULT hr) { return hr < 0; }

#endif  // _WIN32

// Wide strings of the interface are char16_t units (UTF-16) on every
// platform; the system's own WCHAR is not used, as it is wchar_t on Windows
// and 32 bits wide elsewhere.
static_assert(sizeof(LONG) == 4 && sizeof(ULONG) == 4 && sizeof(ULONG64) == 8);
static_assert(sizeof(HRESULT) == 4 && sizeof(USHORT) == 2 && sizeof(BYTE) == 1);
static_assert(static_cast<LONG>(-1) < 0 && static_cast<ULONG>(-1) > 0);
static_assert(E_FAIL < 0 && E_INVALIDARG < 0, "failure codes must test negative");

// The records exchanged with the farm's service libraries (the store's
// request records and server entry, the system library's string, the
// public description records) have the farm's own layouts on a 32-bit
// target, where the system library's string is 72 bytes; their headers
// assert sizes and field offsets there. A 64-bit build keeps the fields'
// order but not the sizes (a pointer is 8 bytes, the string a pointer and
// a size).
#if UINTPTR_MAX == 0xFFFFFFFFu
#define FEROQ_FARM_RECORD_LAYOUTS 1
#endif

// Symbol visibility: everything is hidden unless marked with one of these.
#if defined(_WIN32)
#define FEROQ_DLL_EXPORT __declspec(dllexport)
#define FEROQ_DLL_IMPORT __declspec(dllimport)
#else
#define FEROQ_DLL_EXPORT __attribute__((visibility("default")))
#define FEROQ_DLL_IMPORT __attribute__((visibility("default")))
#endif

// The library (object model, export, events).
#if defined(FEROQ_BUILDING_LIBRARY)
#define FEROQ_API FEROQ_DLL_EXPORT
#else
#define FEROQ_API FEROQ_DLL_IMPORT
#endif

// The farm service stand-ins and the record containers their records carry.
#if defined(FEROQ_BUILDING_SERVICES)
#define FEROQ_SERVICES_API FEROQ_DLL_EXPORT
#else
#define FEROQ_SERVICES_API FEROQ_DLL_IMPORT
#endif

#endif  // FEROQ_TYPES_H_
