// The description of a new application that FarmObject::CreateZQWinApp
// publishes, with its server and user blocks, and the creation result codes.
//
// The library reads the description and never writes it. A null string
// pointer means the property is not given; an empty string is passed on.
#ifndef FEROQ_APP_DATA_H_
#define FEROQ_APP_DATA_H_

#include <cstddef>

#include "feroq/app_enums.h"
#include "feroq/app_icon.h"
#include "feroq/app_records.h"
#include "feroq/types.h"

// Up to 16 servers; entries 0 to count-1 are in use (count <= 0: none).
struct _ZQServerConfigBlock {
  _ZQServerConfig servers[16];
  LONG count;
  _ZQServerConfigBlock* next;
};

// Up to 32 users; entries 0 to count-1 are in use (count <= 0: none).
struct _UserAccountInfoBlock {
  _UserAccountInfo users[32];
  LONG count;
  _UserAccountInfoBlock* next;
};

struct _ZQWinAppData {
  ULONG version;                // record version (ZQApp::Initialize)
  char16_t* objectName;            // display name
  char16_t* defaultInitialProgram;
  char16_t* defaultWorkingDirectory;
  char16_t* description;
  char16_t* browserName;
  char16_t* wlFolder;
  char16_t* parentFolder;          // distinguished name; null or empty: the root
  _ZQEncryptionLevel defaultEncryptionLevel;  // 0 to 4
  _ZQSoundType defaultSoundType;              // 0 or 1
  LONG defaultVideoType;                      // 0 or 1
  _ZQWindowColor defaultWindowColor;          // 0, 1, 3 or 4
  _ZQWindowType defaultWindowType;            // 0 to 6 or 8
  ULONG defaultWindowHeight;
  ULONG defaultWindowWidth;
  LONG defaultWindowScale;      // set only when non-zero; low byte stored
  LONG desktopIntegrate;        // undefined bits are ignored
  LONG zqAttributes;
  LONG wlAttributes;
  LONG publishingFlags;
  _ZQServerConfigBlock* servers;
  ULONG reserved1;
  _UserAccountInfoBlock* users;
  BYTE reserved2[916];
  _ZQWinAppIcon icon;           // used when useIcon is 1 and no icon file is given
  LONG useIcon;
  char16_t* iconFile;              // when non-empty: the icon comes from this file
  LONG iconIndex;
};
#if defined(FEROQ_FARM_RECORD_LAYOUTS)
static_assert(sizeof(_ZQServerConfigBlock) == 264 && offsetof(_ZQServerConfigBlock, count) == 256);
static_assert(sizeof(_UserAccountInfoBlock) == 648 && offsetof(_UserAccountInfoBlock, count) == 640);
static_assert(offsetof(_ZQWinAppData, defaultEncryptionLevel) == 32);
static_assert(offsetof(_ZQWinAppData, servers) == 80);
static_assert(offsetof(_ZQWinAppData, users) == 88);
static_assert(offsetof(_ZQWinAppData, reserved2) == 92);
static_assert(offsetof(_ZQWinAppData, icon) == 1008);
static_assert(offsetof(_ZQWinAppData, iconIndex) == 1656 && sizeof(_ZQWinAppData) == 1660);
#endif

namespace feroq {

// Results of FarmObject::CreateZQWinApp of its own. They are positive:
// compare the result with S_OK, a test by sign (FAILED) does not see them.
// The description is checked field by field in the order below, the first
// refusal deciding; "refused" means the record did not take the value.
// Every code from ZQ_CREATE_E_BROWSER_NAME on may also be the store's first
// detailed error when it checks the whole record on writing it (with this
// farm's store: a browser name missing or taken, an initial program
// missing, a working directory or description with characters it forbids, a
// display name missing or against the naming rules, the folder gone, a
// custom window size of 0 or too large, a percentage of 0 or above 100, a
// server no longer in the farm: ZQ_CREATE_E_DETAIL_27).
constexpr HRESULT ZQ_CREATE_E_VERSION = 0x20011000;            // the record cannot take the version
constexpr HRESULT ZQ_CREATE_E_BROWSER_NAME = 0x20010005;       // refused
constexpr HRESULT ZQ_CREATE_E_INITIAL_PROGRAM = 0x20010006;    // refused
constexpr HRESULT ZQ_CREATE_E_WORKING_DIRECTORY = 0x20010007;  // refused
constexpr HRESULT ZQ_CREATE_E_DESCRIPTION = 0x20010008;        // refused
constexpr HRESULT ZQ_CREATE_E_OBJECT_NAME = 0x20010009;        // the display name refused
constexpr HRESULT ZQ_CREATE_E_WL_FOLDER = 0x2001000A;          // refused
constexpr HRESULT ZQ_CREATE_E_ENCRYPTION_LEVEL = 0x2001000B;   // not 0 to 4, or refused
constexpr HRESULT ZQ_CREATE_E_SOUND_TYPE = 0x2001000C;         // not 0 or 1, or refused
constexpr HRESULT ZQ_CREATE_E_VIDEO_TYPE = 0x2001000D;         // not 0 or 1, or refused
constexpr HRESULT ZQ_CREATE_E_WINDOW_COLOR = 0x2001000E;       // not 0, 1, 3 or 4, or refused
constexpr HRESULT ZQ_CREATE_E_WINDOW_TYPE = 0x2001000F;        // not 0 to 6 or 8, or refused
constexpr HRESULT ZQ_CREATE_E_WINDOW_HEIGHT = 0x20010010;      // refused
constexpr HRESULT ZQ_CREATE_E_WINDOW_WIDTH = 0x20010011;       // refused
constexpr HRESULT ZQ_CREATE_E_WINDOW_SCALE = 0x20010012;       // refused (set only when not 0)
constexpr HRESULT ZQ_CREATE_E_DESKTOP_INTEGRATE = 0x20010013;  // refused (undefined bits are dropped)
constexpr HRESULT ZQ_CREATE_E_ZQ_ATTRIBUTES = 0x20010014;      // refused (undefined bits are dropped)
constexpr HRESULT ZQ_CREATE_E_WL_ATTRIBUTES = 0x20010015;      // refused (undefined bits are dropped)
constexpr HRESULT ZQ_CREATE_E_PUBLISHING_FLAGS = 0x20010016;   // refused (undefined bits are dropped)
constexpr HRESULT ZQ_CREATE_E_ICON_FILE = 0x20010003;          // no such icon in the icon file, or unreadable
constexpr HRESULT ZQ_CREATE_E_ICON = 0x20010004;               // the icon refused
constexpr HRESULT ZQ_CREATE_E_SERVER = 0x20010017;             // a server of the list unknown or refused
constexpr HRESULT ZQ_CREATE_E_USER = 0x20010018;               // a user of the list unresolved or refused
constexpr HRESULT ZQ_CREATE_E_PARENT_NOT_FOUND = 0x20010019;   // no folder by that name
constexpr HRESULT ZQ_CREATE_E_PARENT_ID = 0x2001001A;          // the folder's identifier unreadable
constexpr HRESULT ZQ_CREATE_E_PARENT_SET = 0x20010100;         // the folder refused
// Store details that have no property of their own.
constexpr HRESULT ZQ_CREATE_E_DETAIL_27 = 0x2001001B;
constexpr HRESULT ZQ_CREATE_E_DETAIL_28 = 0x20010040;
constexpr HRESULT ZQ_CREATE_E_DETAIL_29 = 0x20010101;
constexpr HRESULT ZQ_CREATE_E_DETAIL_30 = 0x20010041;
constexpr HRESULT ZQ_CREATE_E_DETAIL_31 = 0x20010042;
constexpr HRESULT ZQ_CREATE_E_DETAIL_32 = 0x20010043;
constexpr HRESULT ZQ_CREATE_E_DETAIL_33 = 0x20010044;
constexpr HRESULT ZQ_CREATE_E_DETAIL_34 = 0x20010045;
constexpr HRESULT ZQ_CREATE_E_DETAIL_35 = 0x20010046;

}  // namespace feroq

class VORNString;
struct _VORN_ZQAPP_DETAILED_ERR;

// 1 when `dir` holds any of / * ? " < > |, else 0.
FEROQ_API unsigned char FHasInvalidWorkDirectoryChars(VORNString& dir);
// 1 when `name` holds any of \ / ; : . * ? = < > | [ ] ( ) ' " # or begins
// with a blank, else 0.
FEROQ_API unsigned char FHasInvalidBrNameChars(VORNString& name);

// Releases a detailed-error chain that the application store handed out
// (ZQAppSAL::Write, ZQAppSAL::ValidateOldApp in feroq/services/zqapp.h),
// with every array its entries own, to the heap the store allocated them
// from, whichever library calls it; null does nothing. The chain must not
// be used afterwards.
FEROQ_API void ReleaseZQAppErrMemory(_VORN_ZQAPP_DETAILED_ERR* chain);

#endif  // FEROQ_APP_DATA_H_
