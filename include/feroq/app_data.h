// The description of a new application that FarmObject::CreateZQWinApp
// publishes, with its server and user blocks, and the creation result codes.
//
// The library reads the description and never writes it. A null string
// pointer means the property is not given; an empty string is passed on.
#ifndef FEROQ_APP_DATA_H_
#define FEROQ_APP_DATA_H_

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
  WCHAR* objectName;            // display name
  WCHAR* defaultInitialProgram;
  WCHAR* defaultWorkingDirectory;
  WCHAR* description;
  WCHAR* browserName;
  WCHAR* wlFolder;
  WCHAR* parentFolder;          // distinguished name; null or empty: the root
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
  WCHAR* iconFile;              // when non-empty: the icon comes from this file
  LONG iconIndex;
};

namespace feroq {

// Creation results. They are positive: compare with S_OK, a test by sign
// does not see them.
constexpr HRESULT ZQ_CREATE_E_ICON_FILE = 0x20010003;
constexpr HRESULT ZQ_CREATE_E_ICON = 0x20010004;
constexpr HRESULT ZQ_CREATE_E_BROWSER_NAME = 0x20010005;
constexpr HRESULT ZQ_CREATE_E_INITIAL_PROGRAM = 0x20010006;
constexpr HRESULT ZQ_CREATE_E_WORKING_DIRECTORY = 0x20010007;
constexpr HRESULT ZQ_CREATE_E_DESCRIPTION = 0x20010008;
constexpr HRESULT ZQ_CREATE_E_OBJECT_NAME = 0x20010009;
constexpr HRESULT ZQ_CREATE_E_WL_FOLDER = 0x2001000A;
constexpr HRESULT ZQ_CREATE_E_ENCRYPTION_LEVEL = 0x2001000B;
constexpr HRESULT ZQ_CREATE_E_SOUND_TYPE = 0x2001000C;
constexpr HRESULT ZQ_CREATE_E_VIDEO_TYPE = 0x2001000D;
constexpr HRESULT ZQ_CREATE_E_WINDOW_COLOR = 0x2001000E;
constexpr HRESULT ZQ_CREATE_E_WINDOW_TYPE = 0x2001000F;
constexpr HRESULT ZQ_CREATE_E_WINDOW_HEIGHT = 0x20010010;
constexpr HRESULT ZQ_CREATE_E_WINDOW_WIDTH = 0x20010011;
constexpr HRESULT ZQ_CREATE_E_WINDOW_SCALE = 0x20010012;
constexpr HRESULT ZQ_CREATE_E_DESKTOP_INTEGRATE = 0x20010013;
constexpr HRESULT ZQ_CREATE_E_ZQ_ATTRIBUTES = 0x20010014;
constexpr HRESULT ZQ_CREATE_E_WL_ATTRIBUTES = 0x20010015;
constexpr HRESULT ZQ_CREATE_E_PUBLISHING_FLAGS = 0x20010016;
constexpr HRESULT ZQ_CREATE_E_SERVER = 0x20010017;
constexpr HRESULT ZQ_CREATE_E_USER = 0x20010018;
constexpr HRESULT ZQ_CREATE_E_PARENT_NOT_FOUND = 0x20010019;
constexpr HRESULT ZQ_CREATE_E_PARENT_ID = 0x2001001A;
constexpr HRESULT ZQ_CREATE_E_DETAIL_27 = 0x2001001B;
constexpr HRESULT ZQ_CREATE_E_DETAIL_28 = 0x20010040;
constexpr HRESULT ZQ_CREATE_E_DETAIL_30 = 0x20010041;
constexpr HRESULT ZQ_CREATE_E_DETAIL_31 = 0x20010042;
constexpr HRESULT ZQ_CREATE_E_DETAIL_32 = 0x20010043;
constexpr HRESULT ZQ_CREATE_E_DETAIL_33 = 0x20010044;
constexpr HRESULT ZQ_CREATE_E_DETAIL_34 = 0x20010045;
constexpr HRESULT ZQ_CREATE_E_DETAIL_35 = 0x20010046;
constexpr HRESULT ZQ_CREATE_E_PARENT_SET = 0x20010100;
constexpr HRESULT ZQ_CREATE_E_DETAIL_29 = 0x20010101;
constexpr HRESULT ZQ_CREATE_E_VERSION = 0x20011000;

}  // namespace feroq

class VORNString;
struct _VORN_ZQAPP_DETAILED_ERR;

// 1 when `dir` holds any of / * ? " < > |, else 0.
FEROQ_API unsigned char FHasInvalidWorkDirectoryChars(VORNString& dir);
// 1 when `name` holds any of \ / ; : . * ? = < > | [ ] ( ) ' " # or begins
// with a blank, else 0.
FEROQ_API unsigned char FHasInvalidBrNameChars(VORNString& name);

// Releases a detailed-error chain of the application store
// (feroq/services/zqapp.h) with every array its entries own; null does
// nothing.
FEROQ_API void ReleaseZQAppErrMemory(_VORN_ZQAPP_DETAILED_ERR* chain);

#endif  // FEROQ_APP_DATA_H_
