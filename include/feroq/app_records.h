// The public records of a published application's server list and user list.
//
// Strings a caller passes in stay the caller's. Strings the library writes
// into these records are new zero-filled blocks from the farm object's heap,
// exactly as long as the text and its NUL; the caller releases each non-null
// one with FarmObject::FreeMemory. The library overwrites the pointers it
// writes without releasing what they held before.
#ifndef FEROQ_APP_RECORDS_H_
#define FEROQ_APP_RECORDS_H_

#include <cstddef>

#include "feroq/types.h"

// One server that publishes an application.
struct _ZQServerConfig {
  // Not read; set to 0 when the library fills the record.
  ULONG reserved;
  // The server's name as the server service knows it. Required on input.
  char16_t* serverName;
  // The server's own initial program, at most kServerStringMaxLength units.
  // Null or empty: the server uses the application's default.
  char16_t* initialProgram;
  // The server's own working directory, at most kServerStringMaxLength
  // units. Null or empty: the server uses the application's default.
  char16_t* workingDirectory;
};

// Longest own initial program or working directory a server entry accepts,
// in UTF-16 units without the NUL.
namespace feroq {
constexpr ULONG kServerStringMaxLength = 256;
}  // namespace feroq

// One user account allowed to run an application.
struct _UserAccountInfo {
  // Not read; set to 0 when the library fills the record.
  ULONG reserved;
  // The kind of account authority. Only kUserAuthorityWindowsDomain is
  // accepted and reported.
  LONG authorityKind;
  // 0, 1 or 2, as the user service defines them (kAccountKindUser,
  // kAccountKindGroup, kAccountKindOther in user_service.h). On output a
  // kind the user service reports outside 1 and 2 reads 0.
  LONG accountKind;
  // The authority instance: the Windows domain. Required, non-empty.
  char16_t* domain;
  // The account's name within the domain. Required, non-empty.
  char16_t* accountName;
};
#if defined(FEROQ_FARM_RECORD_LAYOUTS)
static_assert(sizeof(_ZQServerConfig) == 16 && offsetof(_ZQServerConfig, workingDirectory) == 12);
static_assert(sizeof(_UserAccountInfo) == 20 && offsetof(_UserAccountInfo, accountName) == 16);
#endif

// The account lives in a Windows domain (account authority type "NT").
namespace feroq {
constexpr LONG kUserAuthorityWindowsDomain = 0;
}  // namespace feroq

#endif  // FEROQ_APP_RECORDS_H_
