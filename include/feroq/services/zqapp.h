// The application store service: the application record (ZQApp) and the
// service that reads, writes, deletes, lists and checks stored applications.
//
// Getters return nothing and write through a reference; setters and list
// operations return a service code (service_codes.h).
#ifndef FEROQ_ZQAPP_H_
#define FEROQ_ZQAPP_H_

#include <cstddef>

#include "feroq/services/containers.h"
#include "feroq/services/service_base.h"
#include "feroq/services/vorn_system.h"

// The store's icon record: 32 by 32 pixels, 16 colours. Bytes 0..127 are the
// mask (32 rows of 4 bytes, top row first, most significant bit leftmost, a
// set bit is transparent); bytes 128..639 the colour indices (32 rows of 16
// bytes, high half of a byte is the left pixel).
struct _WLICON_V1 {
  BYTE mask[128];
  BYTE colors[512];
};
static_assert(sizeof(_WLICON_V1) == 640);

// One entry of the detailed-error chain that Write and ValidateOldApp hand
// back with 0x801D1104. `code` is 0xDEAD1000 plus the detail index. For tags
// 4 and 7 `value1` is an array owned by the entry; for tag 5 `value2` is.
// Released with ReleaseZQAppErrMemory. The chain crosses from the services'
// library into the caller's, so its entries and arrays come from the one
// heap both share (AllocateServiceObject) and go back to it whichever
// library releases them.
// Its layout is the farm's on every target: the code at 0, the tag at 4,
// the values at 8 and 16, the next entry at 24 (each value in a slot of 8
// bytes, also where a pointer is 4).
struct _VORN_ZQAPP_DETAILED_ERR {
  ULONG code;
  USHORT tag;
  alignas(8) void* value1;
  alignas(8) void* value2;
  alignas(8) _VORN_ZQAPP_DETAILED_ERR* next;

  VORN_SERVICE_ALLOCATION(_VORN_ZQAPP_DETAILED_ERR)
};
static_assert(offsetof(_VORN_ZQAPP_DETAILED_ERR, tag) == 4);
static_assert(offsetof(_VORN_ZQAPP_DETAILED_ERR, value1) == 8);
static_assert(offsetof(_VORN_ZQAPP_DETAILED_ERR, value2) == 16);
static_assert(offsetof(_VORN_ZQAPP_DETAILED_ERR, next) == 24);

namespace feroq {
constexpr ULONG kDetailedErrorBase = 0xDEAD1000u;
}  // namespace feroq

// Request records of the store's file composers (ZQAppSAL::CreateHTMLFile
// and CreateOBRFile), exchanged with the service library, so their layout is
// fixed. What each field means for the composed text is documented in
// src/services/app_files/app_files.h; the library fills them from the
// export options records (feroq/app_export.h). Bytes named reserved are
// not set by the library (it zeroes them) and not read by the store.

// The HTML page request: 20 bytes.
struct ZQAPP_HTMLFILE {
  ULONG pageWidth;            // 0: options field 1
  BYTE showDescription;       // 4: options field 4, as 0 or 1
  BYTE showServers;           // 5: options field 5, as 0 or 1
  BYTE reserved6[2];          // 6
  ULONG refreshSeconds;       // 8: options field 2
  ULONG maxServers;           // 12: options field 3
  BYTE showDisplaySettings;   // 16: options field 6, as 0 or 1
  BYTE reserved17[3];         // 17
};
static_assert(sizeof(ZQAPP_HTMLFILE) == 20);
static_assert(offsetof(ZQAPP_HTMLFILE, showDescription) == 4);
static_assert(offsetof(ZQAPP_HTMLFILE, showServers) == 5);
static_assert(offsetof(ZQAPP_HTMLFILE, refreshSeconds) == 8);
static_assert(offsetof(ZQAPP_HTMLFILE, maxServers) == 12);
static_assert(offsetof(ZQAPP_HTMLFILE, showDisplaySettings) == 16);

// The client launch file request: 96 bytes with the 72-byte VORNString at
// offset 20 and the port at offset 92 on a 32-bit build. On a 64-bit build
// the string is a pointer and a size: the fields keep their order and the
// 20 bytes before the string keep their offsets; the string then sits at
// its own alignment (offset 24) and the port follows it.
struct ZQAPP_OBRFILE {
  BYTE windowed;              // 0: 1 when options field 3 (fullScreen) is 0, else 0
  BYTE reserved1[3];          // 1
  ULONG windowHeight;         // 4: options field 2
  ULONG windowWidth;          // 8: options field 1
  BYTE fullScreen;            // 12: low byte of options field 3
  BYTE colorDepth;            // 13: low byte of options field 4
  BYTE encryptionLevel;       // 14: options field 5 as the store's byte (1..5)
  BYTE reserved15;            // 15
  BYTE sound;                 // 16: options field 8, as 0 or 1
  BYTE compression;           // 17: options field 9, as 0 or 1
  BYTE reserved18[2];         // 18
  VORNString preferredServer; // 20 in the farm's layout: options field 10
  USHORT port;                // 92 in the farm's layout: options field 11
};
static_assert(offsetof(ZQAPP_OBRFILE, windowHeight) == 4);
static_assert(offsetof(ZQAPP_OBRFILE, windowWidth) == 8);
static_assert(offsetof(ZQAPP_OBRFILE, fullScreen) == 12);
static_assert(offsetof(ZQAPP_OBRFILE, colorDepth) == 13);
static_assert(offsetof(ZQAPP_OBRFILE, encryptionLevel) == 14);
static_assert(offsetof(ZQAPP_OBRFILE, sound) == 16);
static_assert(offsetof(ZQAPP_OBRFILE, compression) == 17);
#if defined(FEROQ_FARM_RECORD_LAYOUTS)
static_assert(sizeof(ZQAPP_OBRFILE) == 96);
static_assert(offsetof(ZQAPP_OBRFILE, preferredServer) == 20);
static_assert(offsetof(ZQAPP_OBRFILE, port) == 92);
#else
static_assert(offsetof(ZQAPP_OBRFILE, preferredServer) >= 20);
static_assert(offsetof(ZQAPP_OBRFILE, port) > offsetof(ZQAPP_OBRFILE, preferredServer));
#endif

// The record version that new records are initialised with, and the highest
// one this store knows.
namespace feroq {
constexpr ULONG kZQAppCurrentVersion = 3;
}  // namespace feroq

// One published application in memory. Changes live in the record until
// ZQAppSAL::Write stores it. While the record is read-only every setter and
// list change answers 0x801D1103.
class FEROQ_SERVICES_API ZQApp {
 public:
  // Not zero-filled: the constructors set every member they keep.
  VORN_SERVICE_ALLOCATION_UNFILLED(ZQApp)

  ZQApp();
  // A blank record whose user table keeps its room in `user_slots`
  // (USERTABLE::LentSlotsBytes() bytes that the caller lends until the
  // record is destroyed); null: ZQApp(). Made in place by the caller.
  explicit ZQApp(void* user_slots);
  ZQApp(const ZQApp& other);
  virtual ~ZQApp();
  ZQApp& operator=(ZQApp& other);

  // Strings.
  void GetBrowserName(VORNString& value);
  VSTATUS SetBrowserName(VORNString& value);
  void GetDefaultInitialProgram(VORNString& value);
  VSTATUS SetDefaultInitialProgram(VORNString& value);
  void GetDefaultWorkDirectory(VORNString& value);
  VSTATUS SetDefaultWorkDirectory(VORNString& value);
  void GetDescription(VORNString& value);
  VSTATUS SetDescription(VORNString& value);
  void GetFriendlyName(VORNString& value);
  VSTATUS SetFriendlyName(VORNString& value);
  void GetFolder(VORNString& value);
  VSTATUS SetFolder(VORNString& value);

  // Bytes.
  void GetDefaultEncryptionLevel(BYTE& value);
  VSTATUS SetDefaultEncryptionLevel(BYTE value);
  void GetDefaultSoundType(BYTE& value);
  VSTATUS SetDefaultSoundType(BYTE value);
  void GetDefaultWindowColor(BYTE& value);
  VSTATUS SetDefaultWindowColor(BYTE value);
  void GetDefaultWindowScale(BYTE& value);
  VSTATUS SetDefaultWindowScale(BYTE value);
  void GetDefaultWindowType(BYTE& value);
  VSTATUS SetDefaultWindowType(BYTE value);
  void GetDesktopIntegrate(BYTE& value);
  VSTATUS SetDesktopIntegrate(BYTE value);

  // 32-bit words.
  void GetDefaultWindowHeight(ULONG& value);
  VSTATUS SetDefaultWindowHeight(ULONG value);
  void GetDefaultWindowWidth(ULONG& value);
  VSTATUS SetDefaultWindowWidth(ULONG value);
  void GetZQAttributes(ULONG& value);
  VSTATUS SetZQAttributes(ULONG value);
  void GetWLAttributes(ULONG& value);
  VSTATUS SetWLAttributes(ULONG value);
  void GetPublishingFlags(ULONG& value);
  VSTATUS SetPublishingFlags(ULONG value);

  // The identifier of the folder the application lies in.
  void GetCommonAppFolder(ULONG64& value);
  VSTATUS SetCommonAppFolder(ULONG64 value);

  void GetIcon(_WLICON_V1& icon);
  VSTATUS SetIcon(_WLICON_V1& icon);

  VSTATUS SetDefaultVideoType(BYTE value);
  void GetDefaultVideoType(BYTE& value);
  BYTE IsReadOnly();
  void ResetReadOnly();
  ULONG GetVersion();
  // Starts a new record of `version`; refuses a version the store does not
  // know (0x80000003).
  VSTATUS Initialize(ULONG version);

  // Servers.
  VSTATUS AddServer(ULONG64 uid, _ZQAPP_SERVER_CONFIG& config);
  VSTATUS RemoveServer(ULONG64 uid);
  USHORT GetServerCount();
  VSTATUS GetFirstServer(ULONG64& uid, _ZQAPP_SERVER_CONFIG& config);
  VSTATUS GetNextServer(ULONG64& uid, _ZQAPP_SERVER_CONFIG& config);
  void StopGetServer();

  // Users, by account directory name.
  VSTATUS AddUser(VORNString& dn);
  VSTATUS RemoveUser(VORNString& dn);
  USHORT GetUserCount();
  VSTATUS GetFirstUser(VORNString& dn);
  VSTATUS GetNextUser(VORNString& dn);
  void StopGetUser();

 private:
  // The store's own view of the record: its identifier, read-only byte and
  // tables as stored (src/services/record_access.h).
  friend class feroq::services::RecordAccess;

  ULONG64 id_;                 // 1
  BYTE read_only_;             // 2
  BYTE video_type_;            // 3
  // 1 once icon_ holds an icon; until then the icon is the blank one and
  // icon_'s bytes are never read or written, so that a record that is made
  // and released without being loaded does not touch them. It lies in the
  // padding before folder_id_: no member moves.
  BYTE icon_held_;
  ULONG64 folder_id_;          // 4
  ULONG version_;              // 5
  ULONG publishing_flags_;     // 6
  VORNString browser_name_;    // 7
  VORNString friendly_name_;   // 8
  USERTABLE users_;            // 9
  SERVERTABLE servers_;        // 10
  VORNString initial_program_; // 11
  VORNString work_directory_;  // 12
  VORNString description_;     // 13
  VORNString folder_;          // 14
  _WLICON_V1 icon_;            // 15
  ULONG window_height_;        // 16
  ULONG window_width_;         // 17
  ULONG zq_attributes_;        // 18
  ULONG wl_attributes_;        // 19
  BYTE encryption_level_;      // 20
  BYTE sound_type_;            // 21
  BYTE window_color_;          // 22
  BYTE window_scale_;          // 23
  BYTE window_type_;           // 24
  BYTE desktop_integrate_;     // 25
  BYTE reserved_byte_;         // 26
  ULONG reserved_word_;        // 27
};

// A record of a later version, with members of its own.
class FEROQ_SERVICES_API ZQApp2 : public ZQApp {
 public:
  ZQApp2();
  ZQApp2(const ZQApp2& other);
  ~ZQApp2() override;
  ZQApp2& operator=(ZQApp2& other);

  ULONG extra1;
  ULONG extra2;
  ULONG extra3;
  ULONG extra4;
  VORNString extraText;
  BYTE extraByte1;
  BYTE extraByte2;
};

// The application store service. One instance per farm object.
class FEROQ_SERVICES_API ZQAppSAL : public VORN_PIF_SAL {
 public:
  VORN_SERVICE_ALLOCATION(ZQAppSAL)

  explicit ZQAppSAL(VORN_PIF_ISubSystem* subsystem);
  ~ZQAppSAL() override;

  // Fills `record` with the stored application `id`.
  VSTATUS Read(ULONG64 id, ZQApp& record);
  // Stores `record` under `id`; with `id` 0 publishes a new application and
  // writes its identifier into `id`. When the record fails the store's checks
  // the result is 0x801D1104 and, if `details` is not null, `*details` receives
  // a chain to release with ReleaseZQAppErrMemory.
  VSTATUS Write(ULONG64& id, ZQApp& record, _VORN_ZQAPP_DETAILED_ERR** details);
  VSTATUS Delete(ULONG64 id);
  // Checks the stored application `id`, with the chain rule of Write.
  VSTATUS ValidateOldApp(ULONG64 id, _VORN_ZQAPP_DETAILED_ERR** details);
  // `*ids` receives an array of `count` identifiers allocated with new[]
  // semantics of a scalar block (release with operator delete). `folder` 0
  // lists every application of the farm.
  VSTATUS EnumApps(ULONG64** ids, ULONG& count, ULONG64 folder);
  void MaxKnownApplicationVersion(ULONG& version);
  VSTATUS CreateHTMLFile(ULONG64 id, ZQAPP_HTMLFILE* request, VORNMultiString& lines);
  VSTATUS CreateOBRFile(ULONG64 id, ZQAPP_OBRFILE* request, VORNMultiString& lines);
};

#endif  // FEROQ_ZQAPP_H_
