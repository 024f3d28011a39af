// ZQApp and ZQApp2: one published application of the application store, in
// memory. The store service (ZQAppSAL) reads records into these and writes
// them back; everything else reaches the members through the accessors below.
//
// Store rules enforced by the setters:
// - Every setter and list operation first asks the fault hook under the name
//   "ZQApp::<Method>" and answers an armed code without doing anything.
// - While the record is read-only (the read-only byte is exactly 1) setters
//   and list changes answer 0x801D1103 and change nothing.
// - A string property holds at most 259 UTF-16 units (a 260-unit buffer with
//   its NUL) and no line break (CR or LF: every string goes into the
//   definition file, whose values cannot hold one). Other texts are refused
//   with 0x801D1100; for the browser name the refusal is 0x801D1106. A
//   server entry whose own initial program or working directory holds a line
//   break is refused by AddServer with 0x801D1100.
// - When memory runs out a setter answers 0x80000002 and the property keeps
//   its value. Getters copy into the caller's string and let std::bad_alloc
//   pass.
#include <new>

#include "feroq/services/zqapp.h"
#include "services/service_failure.h"
#include "services/service_faults.h"
#include "services/service_support.h"

namespace {

using feroq::FARM_E_NAME_CONTROL;
using feroq::FARM_E_NAME_TOO_LONG;
using feroq::FARM_E_TEXT_LINE_BREAK;
using feroq::ZQAPP_E_READ_ONLY;
using feroq::ZQAPP_E_VALUE_REFUSED;

constexpr ULONG kMaxTextUnits = feroq::services::kMaxRecordTextUnits;
constexpr char16_t kEmptyText[] = u"";

bool IsReadOnlyByte(BYTE value) { return value == 1; }

bool HasLineBreak(const VORNString& text) {
  return feroq::services::HasLineBreak(std::u16string_view(text.c_str(), text.Length()));
}

// The causes recorded when a text setter refuses a value.
struct TextCauses {
  VSTATUS too_long = ZQAPP_E_VALUE_REFUSED;
  VSTATUS line_break = FARM_E_TEXT_LINE_BREAK;
};
// An application's name: the naming rules' causes.
constexpr TextCauses kNameCauses{FARM_E_NAME_TOO_LONG, FARM_E_NAME_CONTROL};

// Stores `value` in `member` under the store's text rules; `refused` is the
// refusal for this property, recorded with the cause `causes` give.
VSTATUS StoreText(VORNString& member, const VORNString& value, VSTATUS refused, TextCauses causes = {}) {
  if (value.Length() > kMaxTextUnits) return feroq::services::Refuse(refused, causes.too_long);
  if (HasLineBreak(value)) return feroq::services::Refuse(refused, causes.line_break);
  try {
    member = value;
  } catch (const std::bad_alloc&) {
    return feroq::VORN_E_OUTOFMEMORY;
  }
  return feroq::VORN_OK;
}

}  // namespace

// A blank record: empty strings, zero scalars and icon, version 0, writable.
ZQApp::ZQApp() : ZQApp(nullptr) {}

ZQApp::ZQApp(void* user_slots)
    : id_(0),
      read_only_(0),
      video_type_(0),
      icon_held_(0),
      folder_id_(0),
      version_(0),
      publishing_flags_(0),
      users_(user_slots),
      window_height_(0),
      window_width_(0),
      zq_attributes_(0),
      wl_attributes_(0),
      encryption_level_(0),
      sound_type_(0),
      window_color_(0),
      window_scale_(0),
      window_type_(0),
      desktop_integrate_(0),
      reserved_byte_(0),
      reserved_word_(0) {}

// Members are copy-constructed in order; if one raises, those already built
// are destroyed and the exception passes on.
ZQApp::ZQApp(const ZQApp& other)
    : id_(other.id_),
      read_only_(other.read_only_),
      video_type_(other.video_type_),
      icon_held_(other.icon_held_),
      folder_id_(other.folder_id_),
      version_(other.version_),
      publishing_flags_(other.publishing_flags_),
      browser_name_(other.browser_name_),
      friendly_name_(other.friendly_name_),
      users_(other.users_),
      // The server table's copy constructor reads its source through the
      // source's own enumeration (opening and closing it), so it takes a
      // non-const reference; the source record's entries are not changed.
      servers_(const_cast<SERVERTABLE&>(other.servers_)),
      initial_program_(other.initial_program_),
      work_directory_(other.work_directory_),
      description_(other.description_),
      folder_(other.folder_),
      window_height_(other.window_height_),
      window_width_(other.window_width_),
      zq_attributes_(other.zq_attributes_),
      wl_attributes_(other.wl_attributes_),
      encryption_level_(other.encryption_level_),
      sound_type_(other.sound_type_),
      window_color_(other.window_color_),
      window_scale_(other.window_scale_),
      window_type_(other.window_type_),
      desktop_integrate_(other.desktop_integrate_),
      reserved_byte_(other.reserved_byte_),
      reserved_word_(other.reserved_word_) {
  if (icon_held_ != 0) icon_ = other.icon_;
}

ZQApp::~ZQApp() = default;

// Assigns member by member; the record keeps its own class. Allocation
// failures of the string and table assignments pass as std::bad_alloc.
ZQApp& ZQApp::operator=(ZQApp& other) {
  id_ = other.id_;
  read_only_ = other.read_only_;
  video_type_ = other.video_type_;
  folder_id_ = other.folder_id_;
  version_ = other.version_;
  publishing_flags_ = other.publishing_flags_;
  browser_name_ = other.browser_name_;
  friendly_name_ = other.friendly_name_;
  users_ = other.users_;  // the copy that the table's assignment returns is dropped
  servers_ = other.servers_;
  initial_program_ = other.initial_program_;
  work_directory_ = other.work_directory_;
  description_ = other.description_;
  folder_ = other.folder_;
  icon_held_ = other.icon_held_;
  if (icon_held_ != 0) icon_ = other.icon_;
  window_height_ = other.window_height_;
  window_width_ = other.window_width_;
  zq_attributes_ = other.zq_attributes_;
  wl_attributes_ = other.wl_attributes_;
  encryption_level_ = other.encryption_level_;
  sound_type_ = other.sound_type_;
  window_color_ = other.window_color_;
  window_scale_ = other.window_scale_;
  window_type_ = other.window_type_;
  desktop_integrate_ = other.desktop_integrate_;
  reserved_byte_ = other.reserved_byte_;
  reserved_word_ = other.reserved_word_;
  return *this;
}

// ---- Strings -----------------------------------------------------------------

void ZQApp::GetBrowserName(VORNString& value) { value = browser_name_; }

VSTATUS ZQApp::SetBrowserName(VORNString& value) {
  if (VSTATUS s = feroq::services::EnterServiceCall("ZQApp::SetBrowserName")) return s;
  if (IsReadOnlyByte(read_only_)) return feroq::ZQAPP_E_READ_ONLY;
  return StoreText(browser_name_, value, feroq::ZQAPP_E_BROWSER_NAME);
}

void ZQApp::GetDefaultInitialProgram(VORNString& value) { value = initial_program_; }

VSTATUS ZQApp::SetDefaultInitialProgram(VORNString& value) {
  if (VSTATUS s = feroq::services::EnterServiceCall("ZQApp::SetDefaultInitialProgram")) return s;
  if (IsReadOnlyByte(read_only_)) return feroq::ZQAPP_E_READ_ONLY;
  return StoreText(initial_program_, value, feroq::ZQAPP_E_VALUE_REFUSED);
}

void ZQApp::GetDefaultWorkDirectory(VORNString& value) { value = work_directory_; }

VSTATUS ZQApp::SetDefaultWorkDirectory(VORNString& value) {
  if (VSTATUS s = feroq::services::EnterServiceCall("ZQApp::SetDefaultWorkDirectory")) return s;
  if (IsReadOnlyByte(read_only_)) return feroq::ZQAPP_E_READ_ONLY;
  return StoreText(work_directory_, value, feroq::ZQAPP_E_VALUE_REFUSED);
}

void ZQApp::GetDescription(VORNString& value) { value = description_; }

VSTATUS ZQApp::SetDescription(VORNString& value) {
  if (VSTATUS s = feroq::services::EnterServiceCall("ZQApp::SetDescription")) return s;
  if (IsReadOnlyByte(read_only_)) return feroq::ZQAPP_E_READ_ONLY;
  return StoreText(description_, value, feroq::ZQAPP_E_VALUE_REFUSED);
}

void ZQApp::GetFriendlyName(VORNString& value) { value = friendly_name_; }

VSTATUS ZQApp::SetFriendlyName(VORNString& value) {
  if (VSTATUS s = feroq::services::EnterServiceCall("ZQApp::SetFriendlyName")) return s;
  if (IsReadOnlyByte(read_only_)) return ZQAPP_E_READ_ONLY;
  return StoreText(friendly_name_, value, ZQAPP_E_VALUE_REFUSED, kNameCauses);
}

void ZQApp::GetFolder(VORNString& value) { value = folder_; }

VSTATUS ZQApp::SetFolder(VORNString& value) {
  if (VSTATUS s = feroq::services::EnterServiceCall("ZQApp::SetFolder")) return s;
  if (IsReadOnlyByte(read_only_)) return feroq::ZQAPP_E_READ_ONLY;
  return StoreText(folder_, value, feroq::ZQAPP_E_VALUE_REFUSED);
}

// ---- Bytes -------------------------------------------------------------------

void ZQApp::GetDefaultEncryptionLevel(BYTE& value) { value = encryption_level_; }

VSTATUS ZQApp::SetDefaultEncryptionLevel(BYTE value) {
  if (VSTATUS s = feroq::services::EnterServiceCall("ZQApp::SetDefaultEncryptionLevel")) return s;
  if (IsReadOnlyByte(read_only_)) return feroq::ZQAPP_E_READ_ONLY;
  encryption_level_ = value;
  return feroq::VORN_OK;
}

void ZQApp::GetDefaultSoundType(BYTE& value) { value = sound_type_; }

VSTATUS ZQApp::SetDefaultSoundType(BYTE value) {
  if (VSTATUS s = feroq::services::EnterServiceCall("ZQApp::SetDefaultSoundType")) return s;
  if (IsReadOnlyByte(read_only_)) return feroq::ZQAPP_E_READ_ONLY;
  sound_type_ = value;
  return feroq::VORN_OK;
}

void ZQApp::GetDefaultWindowColor(BYTE& value) { value = window_color_; }

VSTATUS ZQApp::SetDefaultWindowColor(BYTE value) {
  if (VSTATUS s = feroq::services::EnterServiceCall("ZQApp::SetDefaultWindowColor")) return s;
  if (IsReadOnlyByte(read_only_)) return feroq::ZQAPP_E_READ_ONLY;
  window_color_ = value;
  return feroq::VORN_OK;
}

void ZQApp::GetDefaultWindowScale(BYTE& value) { value = window_scale_; }

VSTATUS ZQApp::SetDefaultWindowScale(BYTE value) {
  if (VSTATUS s = feroq::services::EnterServiceCall("ZQApp::SetDefaultWindowScale")) return s;
  if (IsReadOnlyByte(read_only_)) return feroq::ZQAPP_E_READ_ONLY;
  window_scale_ = value;
  return feroq::VORN_OK;
}

void ZQApp::GetDefaultWindowType(BYTE& value) { value = window_type_; }

VSTATUS ZQApp::SetDefaultWindowType(BYTE value) {
  if (VSTATUS s = feroq::services::EnterServiceCall("ZQApp::SetDefaultWindowType")) return s;
  if (IsReadOnlyByte(read_only_)) return feroq::ZQAPP_E_READ_ONLY;
  window_type_ = value;
  return feroq::VORN_OK;
}

void ZQApp::GetDesktopIntegrate(BYTE& value) { value = desktop_integrate_; }

VSTATUS ZQApp::SetDesktopIntegrate(BYTE value) {
  if (VSTATUS s = feroq::services::EnterServiceCall("ZQApp::SetDesktopIntegrate")) return s;
  if (IsReadOnlyByte(read_only_)) return feroq::ZQAPP_E_READ_ONLY;
  desktop_integrate_ = value;
  return feroq::VORN_OK;
}

// ---- 32-bit words --------------------------------------------------------------

void ZQApp::GetDefaultWindowHeight(ULONG& value) { value = window_height_; }

VSTATUS ZQApp::SetDefaultWindowHeight(ULONG value) {
  if (VSTATUS s = feroq::services::EnterServiceCall("ZQApp::SetDefaultWindowHeight")) return s;
  if (IsReadOnlyByte(read_only_)) return feroq::ZQAPP_E_READ_ONLY;
  window_height_ = value;
  return feroq::VORN_OK;
}

void ZQApp::GetDefaultWindowWidth(ULONG& value) { value = window_width_; }

VSTATUS ZQApp::SetDefaultWindowWidth(ULONG value) {
  if (VSTATUS s = feroq::services::EnterServiceCall("ZQApp::SetDefaultWindowWidth")) return s;
  if (IsReadOnlyByte(read_only_)) return feroq::ZQAPP_E_READ_ONLY;
  window_width_ = value;
  return feroq::VORN_OK;
}

void ZQApp::GetZQAttributes(ULONG& value) { value = zq_attributes_; }

VSTATUS ZQApp::SetZQAttributes(ULONG value) {
  if (VSTATUS s = feroq::services::EnterServiceCall("ZQApp::SetZQAttributes")) return s;
  if (IsReadOnlyByte(read_only_)) return feroq::ZQAPP_E_READ_ONLY;
  zq_attributes_ = value;
  return feroq::VORN_OK;
}

void ZQApp::GetWLAttributes(ULONG& value) { value = wl_attributes_; }

VSTATUS ZQApp::SetWLAttributes(ULONG value) {
  if (VSTATUS s = feroq::services::EnterServiceCall("ZQApp::SetWLAttributes")) return s;
  if (IsReadOnlyByte(read_only_)) return feroq::ZQAPP_E_READ_ONLY;
  wl_attributes_ = value;
  return feroq::VORN_OK;
}

void ZQApp::GetPublishingFlags(ULONG& value) { value = publishing_flags_; }

VSTATUS ZQApp::SetPublishingFlags(ULONG value) {
  if (VSTATUS s = feroq::services::EnterServiceCall("ZQApp::SetPublishingFlags")) return s;
  if (IsReadOnlyByte(read_only_)) return feroq::ZQAPP_E_READ_ONLY;
  publishing_flags_ = value;
  return feroq::VORN_OK;
}

// ---- Folder, icon, record state -----------------------------------------------

void ZQApp::GetCommonAppFolder(ULONG64& value) { value = folder_id_; }

VSTATUS ZQApp::SetCommonAppFolder(ULONG64 value) {
  if (VSTATUS s = feroq::services::EnterServiceCall("ZQApp::SetCommonAppFolder")) return s;
  if (IsReadOnlyByte(read_only_)) return feroq::ZQAPP_E_READ_ONLY;
  folder_id_ = value;
  return feroq::VORN_OK;
}

void ZQApp::GetIcon(_WLICON_V1& icon) { icon = icon_held_ != 0 ? icon_ : _WLICON_V1{}; }

VSTATUS ZQApp::SetIcon(_WLICON_V1& icon) {
  if (VSTATUS s = feroq::services::EnterServiceCall("ZQApp::SetIcon")) return s;
  if (IsReadOnlyByte(read_only_)) return feroq::ZQAPP_E_READ_ONLY;
  icon_ = icon;
  icon_held_ = 1;
  return feroq::VORN_OK;
}

void ZQApp::GetDefaultVideoType(BYTE& value) { value = video_type_; }

VSTATUS ZQApp::SetDefaultVideoType(BYTE value) {
  if (VSTATUS s = feroq::services::EnterServiceCall("ZQApp::SetDefaultVideoType")) return s;
  if (IsReadOnlyByte(read_only_)) return feroq::ZQAPP_E_READ_ONLY;
  video_type_ = value;
  return feroq::VORN_OK;
}

BYTE ZQApp::IsReadOnly() { return read_only_; }

void ZQApp::ResetReadOnly() { read_only_ = 0; }

ULONG ZQApp::GetVersion() { return version_; }

// Makes this a blank, writable record of `version` with no users or servers
// and no stored identifier. A version of 0 or above kZQAppCurrentVersion is
// refused (0x80000003, record unchanged). 0x80000002 when the server table
// cannot be emptied.
VSTATUS ZQApp::Initialize(ULONG version) {
  if (VSTATUS s = feroq::services::EnterServiceCall("ZQApp::Initialize")) return s;
  if (version == 0 || version > feroq::kZQAppCurrentVersion) return feroq::VORN_E_INVALIDVALUE;
  if (servers_.RemoveAllServers() != feroq::VORN_OK) return feroq::VORN_E_OUTOFMEMORY;
  users_.StopGetUser();
  users_.RemoveAllUsers();

  id_ = 0;
  read_only_ = 0;
  video_type_ = 0;
  folder_id_ = 0;
  version_ = version;
  publishing_flags_ = 0;
  browser_name_ = kEmptyText;  // emptying a string never allocates
  friendly_name_ = kEmptyText;
  initial_program_ = kEmptyText;
  work_directory_ = kEmptyText;
  description_ = kEmptyText;
  folder_ = kEmptyText;
  icon_held_ = 0;  // the blank icon
  window_height_ = 0;
  window_width_ = 0;
  zq_attributes_ = 0;
  wl_attributes_ = 0;
  encryption_level_ = 0;
  sound_type_ = 0;
  window_color_ = 0;
  window_scale_ = 0;
  window_type_ = 0;
  desktop_integrate_ = 0;
  reserved_byte_ = 0;
  reserved_word_ = 0;
  return feroq::VORN_OK;
}

// ---- Servers -------------------------------------------------------------------
// Codes are the server table's: 0x80000001 for an absent server or a refused
// insertion, 0x80000002 out of memory, 0x801D1101 empty or at the end,
// 0x801D1107 no iteration open, 0x801D1108 one is already open.

VSTATUS ZQApp::AddServer(ULONG64 uid, _ZQAPP_SERVER_CONFIG& config) {
  if (VSTATUS s = feroq::services::EnterServiceCall("ZQApp::AddServer")) return s;
  if (IsReadOnlyByte(read_only_)) return ZQAPP_E_READ_ONLY;
  if (HasLineBreak(config.initialProgram) || HasLineBreak(config.workDirectory)) {
    return feroq::services::Refuse(ZQAPP_E_VALUE_REFUSED, FARM_E_TEXT_LINE_BREAK, "Servers");
  }
  return servers_.AddServer(uid, config);
}

VSTATUS ZQApp::RemoveServer(ULONG64 uid) {
  if (VSTATUS s = feroq::services::EnterServiceCall("ZQApp::RemoveServer")) return s;
  if (IsReadOnlyByte(read_only_)) return feroq::ZQAPP_E_READ_ONLY;
  return servers_.RemoveServer(uid);
}

USHORT ZQApp::GetServerCount() { return servers_.GetServerCount(); }

VSTATUS ZQApp::GetFirstServer(ULONG64& uid, _ZQAPP_SERVER_CONFIG& config) {
  if (VSTATUS s = feroq::services::EnterServiceCall("ZQApp::GetFirstServer")) return s;
  return servers_.GetFirstServer(uid, config);
}

VSTATUS ZQApp::GetNextServer(ULONG64& uid, _ZQAPP_SERVER_CONFIG& config) {
  if (VSTATUS s = feroq::services::EnterServiceCall("ZQApp::GetNextServer")) return s;
  return servers_.GetNextServer(uid, config);
}

void ZQApp::StopGetServer() { servers_.StopGetServer(); }

// ---- Users ---------------------------------------------------------------------
// Codes are the user table's (0x80000001 for an empty name or failed growth,
// 0x801D1101, 0x801D1107, 0x801D1108), plus 0x80000002 when a name cannot be
// copied out (the iteration is then where it was).

VSTATUS ZQApp::AddUser(VORNString& dn) {
  if (VSTATUS s = feroq::services::EnterServiceCall("ZQApp::AddUser")) return s;
  if (IsReadOnlyByte(read_only_)) return feroq::ZQAPP_E_READ_ONLY;
  return users_.AddUser(dn);
}

VSTATUS ZQApp::RemoveUser(VORNString& dn) {
  if (VSTATUS s = feroq::services::EnterServiceCall("ZQApp::RemoveUser")) return s;
  if (IsReadOnlyByte(read_only_)) return feroq::ZQAPP_E_READ_ONLY;
  return users_.RemoveUser(dn);
}

USHORT ZQApp::GetUserCount() { return users_.GetUserCount(); }

VSTATUS ZQApp::GetFirstUser(VORNString& dn) {
  if (VSTATUS s = feroq::services::EnterServiceCall("ZQApp::GetFirstUser")) return s;
  try {
    return users_.GetFirstUser(dn);
  } catch (const std::bad_alloc&) {
    return feroq::VORN_E_OUTOFMEMORY;
  }
}

VSTATUS ZQApp::GetNextUser(VORNString& dn) {
  if (VSTATUS s = feroq::services::EnterServiceCall("ZQApp::GetNextUser")) return s;
  try {
    return users_.GetNextUser(dn);
  } catch (const std::bad_alloc&) {
    return feroq::VORN_E_OUTOFMEMORY;
  }
}

void ZQApp::StopGetUser() { users_.StopGetUser(); }

// ---- ZQApp2 --------------------------------------------------------------------

ZQApp2::ZQApp2()
    : extra1(0), extra2(0), extra3(0), extra4(0), extraText(), extraByte1(0), extraByte2(0) {}

ZQApp2::ZQApp2(const ZQApp2& other)
    : ZQApp(other),
      extra1(other.extra1),
      extra2(other.extra2),
      extra3(other.extra3),
      extra4(other.extra4),
      extraText(other.extraText),
      extraByte1(other.extraByte1),
      extraByte2(other.extraByte2) {}

ZQApp2::~ZQApp2() = default;

ZQApp2& ZQApp2::operator=(ZQApp2& other) {
  ZQApp::operator=(other);
  extra1 = other.extra1;
  extra2 = other.extra2;
  extra3 = other.extra3;
  extra4 = other.extra4;
  extraText = other.extraText;
  extraByte1 = other.extraByte1;
  extraByte2 = other.extraByte2;
  return *this;
}
