// ZQWinAppObject: the property getters and setters of a published
// application, converting between the public types (enums, flag words, heap
// strings) and the store record's encodings (bytes, words, VORNString).
//
// Every operation answers E_UNEXPECTED when the object has no record; only
// GetDefaultInitialProgram tests its out-pointer before that, and the string
// setters build their value before it. Setters change the record only; Save
// writes it back. No exception leaves these functions: running out of memory
// while a string is copied gives E_OUTOFMEMORY.
#include <new>

#include "apps/record_strings.h"
#include "farm/service_status.h"
#include "feroq/services/zqapp.h"
#include "feroq/zqwinapp_object.h"

namespace {

using StringGetter = void (ZQApp::*)(VORNString&);
using StringSetter = VSTATUS (ZQApp::*)(VORNString&);

// Hands out the record string that `getter` yields as a new heap block in
// `*out`. S_FALSE for an empty string (`*out` untouched); E_OUTOFMEMORY with
// `*out` null when no block can be had.
HRESULT GetRecordString(ZQApp* record, StringGetter getter, char16_t** out) {
  try {
    VORNString value;
    if (record == nullptr) return E_UNEXPECTED;
    (record->*getter)(value);
    return feroq::CopyRecordStringOut(value, out);
  } catch (const std::bad_alloc&) {
    *out = nullptr;
    return E_OUTOFMEMORY;
  }
}

// Stores `text` (null: empty) through `setter`; see MapStringSetResult.
HRESULT SetRecordString(ZQApp* record, StringSetter setter, char16_t* text, bool browser_name = false) {
  try {
    VORNString value(text);
    if (record == nullptr) return E_UNEXPECTED;
    return feroq::MapStringSetResult((record->*setter)(value), browser_name);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

// An enum or flag setter reports only a refused value and a read-only
// record (every other store result counts as success); a number setter
// reports any other failure as E_FAIL.
constexpr feroq::StatusMapping kSetterStatuses[] = {{feroq::VORN_E_INVALIDVALUE, E_INVALIDARG},
                                                    {feroq::ZQAPP_E_READ_ONLY, E_ACCESSDENIED}};
// The window colour setter reports both as E_ACCESSDENIED, anything else as success.
constexpr feroq::StatusMapping kWindowColorSetStatuses[] = {{feroq::VORN_E_INVALIDVALUE, E_ACCESSDENIED},
                                                            {feroq::ZQAPP_E_READ_ONLY, E_ACCESSDENIED}};

HRESULT MapEnumSetResult(VSTATUS status) { return feroq::MapServiceStatus(status, kSetterStatuses, S_OK); }
HRESULT MapNumberSetResult(VSTATUS status) { return feroq::MapServiceStatus(status, kSetterStatuses); }

// Copies the defined bits of `stored` into `*flags`. S_OK when that was all
// of them; E_NOTIMPL when the store holds bits this library does not define
// (the defined ones are still reported).
HRESULT ReportFlags(ULONG stored, LONG defined_bits, LONG* flags) {
  const ULONG defined = static_cast<ULONG>(defined_bits);
  *flags = static_cast<LONG>(stored & defined);
  stored &= ~defined;
  return stored != 0 ? E_NOTIMPL : S_OK;
}

// True when `flags` holds a bit outside `defined_bits`.
bool HasUndefinedBits(LONG flags, LONG defined_bits) { return (flags & ~defined_bits) != 0; }

constexpr LONG kDesktopIntegrateBits =
    feroq::kDesktopIntegrateStartMenu | feroq::kDesktopIntegrateDesktop;
constexpr LONG kZQAttributeBits =
    feroq::kZQAttributeMaximizeOnStartup | feroq::kZQAttributeHideTitlebar;
constexpr LONG kWLAttributeBits =
    feroq::kWLAttributeApplicationDisabled | feroq::kWLAttributeMinimumSound |
    feroq::kWLAttributeMinimumVideo | feroq::kWLAttributeMinimumEncryption |
    feroq::kWLAttributeApplicationIsDesktop | feroq::kWLAttributeApplicationIsAnonymous;
constexpr LONG kPublishingFlagBits =
    feroq::kPublishingNoBrowserEnum | feroq::kPublishingNoWLEnum | feroq::kPublishingNoFolderEnum;

// ---- Enum tables: public value <-> store byte ----

// Encryption levels 0..4 are store bytes 1..5.
constexpr BYTE EncryptionLevelToStore(_ZQEncryptionLevel level) { return static_cast<BYTE>(level + 1); }
constexpr _ZQEncryptionLevel EncryptionLevelFromStore(BYTE stored) {
  if (stored >= 1 && stored <= 5) return static_cast<_ZQEncryptionLevel>(stored - 1);
  return ZQEncryptionNotSupported;
}

// Sound types 0 and 1 are store bytes 0 and 1.
constexpr _ZQSoundType SoundTypeFromStore(BYTE stored) {
  if (stored == 0) return ZQSoundNone;
  if (stored == 1) return ZQSoundBasic;
  return ZQSoundNotSupported;
}

// Colours 0..4 are store bytes 1, 2, 4, 4, 8; byte 4 reads as high colour (3).
constexpr BYTE WindowColorToStore(_ZQWindowColor color) {
  switch (color) {
    case ZQWindowColor16: return 1;
    case ZQWindowColor256: return 2;
    case ZQWindowColorHigh15Bit: return 4;
    case ZQWindowColorHigh: return 4;
    default: return 8;  // ZQWindowColorTrue; callers refuse anything above it
  }
}
constexpr _ZQWindowColor WindowColorFromStore(BYTE stored) {
  switch (stored) {
    case 1: return ZQWindowColor16;
    case 2: return ZQWindowColor256;
    case 4: return ZQWindowColorHigh;
    case 8: return ZQWindowColorTrue;
    default: return ZQWindowColorNotSupported;
  }
}

// Window types 0..6 and 8 are store bytes 1..7 and 9. Full screen (7) has no
// store byte; it stands for every byte without a public value, 8 included.
constexpr BYTE WindowTypeToStore(_ZQWindowType type) { return static_cast<BYTE>(type + 1); }
constexpr _ZQWindowType WindowTypeFromStore(BYTE stored) {
  if (stored >= 1 && stored <= 7) return static_cast<_ZQWindowType>(stored - 1);
  if (stored == 9) return ZQWindowType9;
  return ZQWindowFullScreen;
}

}  // namespace

// ---- Strings ------------------------------------------------------------------

HRESULT ZQWinAppObject::GetBrowserName(char16_t** name) {
  return GetRecordString(record_, &ZQApp::GetBrowserName, name);
}

HRESULT ZQWinAppObject::SetBrowserName(char16_t* name) {
  return SetRecordString(record_, &ZQApp::SetBrowserName, name, /*browser_name=*/true);
}

HRESULT ZQWinAppObject::GetDefaultInitialProgram(char16_t** program) {
  if (program == nullptr) return E_INVALIDARG;
  return GetRecordString(record_, &ZQApp::GetDefaultInitialProgram, program);
}

HRESULT ZQWinAppObject::SetDefaultInitialProgram(char16_t* program) {
  return SetRecordString(record_, &ZQApp::SetDefaultInitialProgram, program);
}

HRESULT ZQWinAppObject::GetDefaultWorkingDirectory(char16_t*& directory) {
  return GetRecordString(record_, &ZQApp::GetDefaultWorkDirectory, &directory);
}

HRESULT ZQWinAppObject::SetDefaultWorkingDirectory(char16_t* directory) {
  return SetRecordString(record_, &ZQApp::SetDefaultWorkDirectory, directory);
}

HRESULT ZQWinAppObject::GetDescription(char16_t** description) {
  return GetRecordString(record_, &ZQApp::GetDescription, description);
}

HRESULT ZQWinAppObject::SetDescription(char16_t* description) {
  return SetRecordString(record_, &ZQApp::SetDescription, description);
}

HRESULT ZQWinAppObject::GetWLFolder(char16_t*& folder) {
  return GetRecordString(record_, &ZQApp::GetFolder, &folder);
}

HRESULT ZQWinAppObject::SetWLFolder(char16_t* folder) {
  return SetRecordString(record_, &ZQApp::SetFolder, folder);
}

// ---- Enums --------------------------------------------------------------------

HRESULT ZQWinAppObject::GetDefaultEncryptionLevel(_ZQEncryptionLevel* level) {
  if (record_ == nullptr) return E_UNEXPECTED;
  BYTE stored = 0;
  record_->GetDefaultEncryptionLevel(stored);
  *level = EncryptionLevelFromStore(stored);
  return *level == ZQEncryptionNotSupported ? E_NOTIMPL : S_OK;
}

HRESULT ZQWinAppObject::SetDefaultEncryptionLevel(_ZQEncryptionLevel level) {
  if (record_ == nullptr) return E_UNEXPECTED;
  if (static_cast<ULONG>(level) > static_cast<ULONG>(ZQEncryptionRC5_128Bit)) return E_INVALIDARG;
  return MapEnumSetResult(record_->SetDefaultEncryptionLevel(EncryptionLevelToStore(level)));
}

HRESULT ZQWinAppObject::GetDefaultSoundType(_ZQSoundType* sound) {
  if (record_ == nullptr) return E_UNEXPECTED;
  BYTE stored = 0;
  record_->GetDefaultSoundType(stored);
  *sound = SoundTypeFromStore(stored);
  return *sound == ZQSoundNotSupported ? E_NOTIMPL : S_OK;
}

HRESULT ZQWinAppObject::SetDefaultSoundType(_ZQSoundType sound) {
  if (record_ == nullptr) return E_UNEXPECTED;
  if (sound != ZQSoundNone && sound != ZQSoundBasic) return E_INVALIDARG;
  return MapEnumSetResult(record_->SetDefaultSoundType(static_cast<BYTE>(sound)));
}

HRESULT ZQWinAppObject::GetDefaultWindowColor(_ZQWindowColor* color) {
  if (record_ == nullptr) return E_UNEXPECTED;
  BYTE stored = 0;
  record_->GetDefaultWindowColor(stored);
  *color = WindowColorFromStore(stored);
  return *color == ZQWindowColorNotSupported ? E_NOTIMPL : S_OK;
}

HRESULT ZQWinAppObject::SetDefaultWindowColor(_ZQWindowColor color) {
  if (record_ == nullptr) return E_UNEXPECTED;
  if (static_cast<ULONG>(color) > static_cast<ULONG>(ZQWindowColorTrue)) return E_INVALIDARG;
  return feroq::MapServiceStatus(record_->SetDefaultWindowColor(WindowColorToStore(color)), kWindowColorSetStatuses,
                                 S_OK);
}

HRESULT ZQWinAppObject::GetDefaultWindowType(_ZQWindowType* type) {
  if (record_ == nullptr) return E_UNEXPECTED;
  BYTE stored = 0;
  record_->GetDefaultWindowType(stored);
  *type = WindowTypeFromStore(stored);
  return *type == ZQWindowFullScreen ? E_NOTIMPL : S_OK;
}

HRESULT ZQWinAppObject::SetDefaultWindowType(_ZQWindowType type) {
  if (record_ == nullptr) return E_UNEXPECTED;
  if (static_cast<ULONG>(type) > static_cast<ULONG>(ZQWindowType9) || type == ZQWindowFullScreen) {
    return E_INVALIDARG;
  }
  return MapEnumSetResult(record_->SetDefaultWindowType(WindowTypeToStore(type)));
}

// ---- Numbers ------------------------------------------------------------------

HRESULT ZQWinAppObject::GetDefaultWindowHeight(LONG* height) {
  if (record_ == nullptr) return E_UNEXPECTED;
  ULONG stored = 0;
  record_->GetDefaultWindowHeight(stored);
  *height = static_cast<LONG>(stored);
  return S_OK;
}

HRESULT ZQWinAppObject::SetDefaultWindowHeight(LONG height) {
  if (record_ == nullptr) return E_UNEXPECTED;
  return MapNumberSetResult(record_->SetDefaultWindowHeight(static_cast<ULONG>(height)));
}

HRESULT ZQWinAppObject::GetDefaultWindowWidth(LONG* width) {
  if (record_ == nullptr) return E_UNEXPECTED;
  ULONG stored = 0;
  record_->GetDefaultWindowWidth(stored);
  *width = static_cast<LONG>(stored);
  return S_OK;
}

HRESULT ZQWinAppObject::SetDefaultWindowWidth(LONG width) {
  if (record_ == nullptr) return E_UNEXPECTED;
  return MapNumberSetResult(record_->SetDefaultWindowWidth(static_cast<ULONG>(width)));
}

HRESULT ZQWinAppObject::GetDefaultWindowScale(LONG* scale) {
  if (record_ == nullptr) return E_UNEXPECTED;
  BYTE stored = 0;
  record_->GetDefaultWindowScale(stored);
  *scale = static_cast<LONG>(stored);
  return S_OK;
}

// Only the low byte of `scale` reaches the store (300 stores 44).
HRESULT ZQWinAppObject::SetDefaultWindowScale(LONG scale) {
  if (record_ == nullptr) return E_UNEXPECTED;
  return MapNumberSetResult(record_->SetDefaultWindowScale(static_cast<BYTE>(scale & 0xFF)));
}

// ---- Flag words ---------------------------------------------------------------

HRESULT ZQWinAppObject::GetDesktopIntegrate(LONG* flags) {
  if (record_ == nullptr) return E_UNEXPECTED;
  BYTE stored = 0;
  record_->GetDesktopIntegrate(stored);
  return ReportFlags(stored, kDesktopIntegrateBits, flags);
}

HRESULT ZQWinAppObject::SetDesktopIntegrate(LONG flags) {
  if (record_ == nullptr) return E_UNEXPECTED;
  if (HasUndefinedBits(flags, kDesktopIntegrateBits)) return E_INVALIDARG;
  return MapEnumSetResult(record_->SetDesktopIntegrate(static_cast<BYTE>(flags)));
}

HRESULT ZQWinAppObject::GetZQAttributes(LONG* flags) {
  if (record_ == nullptr) return E_UNEXPECTED;
  ULONG stored = 0;
  record_->GetZQAttributes(stored);
  return ReportFlags(stored, kZQAttributeBits, flags);
}

HRESULT ZQWinAppObject::SetZQAttributes(LONG flags) {
  if (record_ == nullptr) return E_UNEXPECTED;
  if (HasUndefinedBits(flags, kZQAttributeBits)) return E_INVALIDARG;
  return MapEnumSetResult(record_->SetZQAttributes(static_cast<ULONG>(flags)));
}

HRESULT ZQWinAppObject::GetWLAttributes(LONG* flags) {
  if (record_ == nullptr) return E_UNEXPECTED;
  ULONG stored = 0;
  record_->GetWLAttributes(stored);
  return ReportFlags(stored, kWLAttributeBits, flags);
}

HRESULT ZQWinAppObject::SetWLAttributes(LONG flags) {
  if (record_ == nullptr) return E_UNEXPECTED;
  if (HasUndefinedBits(flags, kWLAttributeBits)) return E_INVALIDARG;
  return MapEnumSetResult(record_->SetWLAttributes(static_cast<ULONG>(flags)));
}

HRESULT ZQWinAppObject::GetPublishingFlags(LONG* flags) {
  if (record_ == nullptr) return E_UNEXPECTED;
  ULONG stored = 0;
  record_->GetPublishingFlags(stored);
  return ReportFlags(stored, kPublishingFlagBits, flags);
}

// Publishing flags report store failures as a number setter does.
HRESULT ZQWinAppObject::SetPublishingFlags(LONG flags) {
  if (record_ == nullptr) return E_UNEXPECTED;
  if (HasUndefinedBits(flags, kPublishingFlagBits)) return E_INVALIDARG;
  return MapNumberSetResult(record_->SetPublishingFlags(static_cast<ULONG>(flags)));
}

// ---- Enabled and read-only ----------------------------------------------------

// Enabled is the "application disabled" WL attribute bit read the other way.
HRESULT ZQWinAppObject::GetEnabled(int* enabled) {
  if (record_ == nullptr) return E_UNEXPECTED;
  ULONG stored = 0;
  record_->GetWLAttributes(stored);
  *enabled = (stored & static_cast<ULONG>(feroq::kWLAttributeApplicationDisabled)) == 0 ? 1 : 0;
  return S_OK;
}

// Only exactly 1 enables; every other value (0, 2, -1, ...) disables. The
// other WL attribute bits, defined or not, are kept.
HRESULT ZQWinAppObject::SetEnabled(int enabled) {
  if (record_ == nullptr) return E_UNEXPECTED;
  ULONG stored = 0;
  record_->GetWLAttributes(stored);
  const auto disabled_bit = static_cast<ULONG>(feroq::kWLAttributeApplicationDisabled);
  stored = enabled == 1 ? (stored & ~disabled_bit) : (stored | disabled_bit);
  return MapEnumSetResult(record_->SetWLAttributes(stored));
}

HRESULT ZQWinAppObject::GetReadOnly(int* read_only) {
  if (record_ == nullptr) return E_UNEXPECTED;
  *read_only = record_->IsReadOnly() == 1 ? 1 : 0;
  return S_OK;
}

// A record can be made writable but never read-only: a non-zero value gives
// E_NOTIMPL and changes nothing.
HRESULT ZQWinAppObject::SetReadOnly(int read_only) {
  if (record_ == nullptr) return E_UNEXPECTED;
  if (read_only != 0) return E_NOTIMPL;
  record_->ResetReadOnly();
  return S_OK;
}
