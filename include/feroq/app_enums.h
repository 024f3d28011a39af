// The public enumerations and flag bits of a published application.
#ifndef FEROQ_APP_ENUMS_H_
#define FEROQ_APP_ENUMS_H_

#include "feroq/types.h"

enum _ZQEncryptionLevel : std::int32_t {
  ZQEncryptionBasic = 0,
  ZQEncryptionRC5Logon = 1,
  ZQEncryptionRC5_40Bit = 2,
  ZQEncryptionRC5_56Bit = 3,
  ZQEncryptionRC5_128Bit = 4,
  ZQEncryptionNotSupported = 5,
};

enum _ZQSoundType : std::int32_t {
  ZQSoundNone = 0,
  ZQSoundBasic = 1,
  ZQSoundNotSupported = 2,
};

enum _ZQWindowColor : std::int32_t {
  ZQWindowColor16 = 0,
  ZQWindowColor256 = 1,
  ZQWindowColorHigh15Bit = 2,  // stored as high colour; reads back as ZQWindowColorHigh
  ZQWindowColorHigh = 3,
  ZQWindowColorTrue = 4,
  ZQWindowColorNotSupported = 5,
};

enum _ZQWindowType : std::int32_t {
  ZQWindow640x480 = 0,
  ZQWindow800x600 = 1,
  ZQWindow1024x768 = 2,
  ZQWindow1280x1024 = 3,
  ZQWindow1600x1200 = 4,
  ZQWindowCustom = 5,
  ZQWindowPercent = 6,
  ZQWindowFullScreen = 7,  // not settable; also reported for unknown stored types
  ZQWindowType9 = 8,
};

namespace feroq {

// Desktop integration bits.
constexpr LONG kDesktopIntegrateStartMenu = 0x1;
constexpr LONG kDesktopIntegrateDesktop = 0x2;
// ZQ attribute bits.
constexpr LONG kZQAttributeMaximizeOnStartup = 0x1;
constexpr LONG kZQAttributeHideTitlebar = 0x2;
// WL attribute bits.
constexpr LONG kWLAttributeApplicationDisabled = 0x1;
constexpr LONG kWLAttributeMinimumSound = 0x2;
constexpr LONG kWLAttributeMinimumVideo = 0x4;
constexpr LONG kWLAttributeMinimumEncryption = 0x8;
constexpr LONG kWLAttributeApplicationIsDesktop = 0x10;
constexpr LONG kWLAttributeApplicationIsAnonymous = 0x20;
// Publishing flag bits.
constexpr LONG kPublishingNoBrowserEnum = 0x1;
constexpr LONG kPublishingNoWLEnum = 0x2;
constexpr LONG kPublishingNoFolderEnum = 0x4;

}  // namespace feroq

#endif  // FEROQ_APP_ENUMS_H_
