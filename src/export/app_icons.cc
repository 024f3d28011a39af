// ZQWinAppObject: the application's icon, as a record (GetIcon, SetIcon) and
// as a file (GetIconFile writes an ICO file, SetIconFile reads an icon from
// an icon file, executable or library). Changes go to the loaded store
// record; Save writes them back.
#include <cstring>

#include "export/icon_file.h"
#include "farm/service_status.h"
#include "feroq/services/zqapp.h"
#include "feroq/zqwinapp_object.h"
#include "platform/platform.h"

namespace {

static_assert(sizeof(_WLICON_V1) == sizeof(_ZQWinAppIcon));

// The record's icon in the public form.
void ReadRecordIcon(ZQApp* record, _ZQWinAppIcon* icon) {
  _WLICON_V1 stored{};
  record->GetIcon(stored);
  std::memcpy(icon->mask, stored.mask, sizeof(icon->mask));
  std::memcpy(icon->colors, stored.colors, sizeof(icon->colors));
}

// Stores `icon` in the record: S_OK, E_ACCESSDENIED when the record may not
// be changed, E_FAIL for any other refusal.
HRESULT WriteRecordIcon(ZQApp* record, const _ZQWinAppIcon& icon) {
  _WLICON_V1 stored{};
  std::memcpy(stored.mask, icon.mask, sizeof(stored.mask));
  std::memcpy(stored.colors, icon.colors, sizeof(stored.colors));
  static constexpr feroq::StatusMapping kSetIconStatuses[] = {{feroq::ZQAPP_E_READ_ONLY, E_ACCESSDENIED}};
  return feroq::MapServiceStatus(record->SetIcon(stored), kSetIconStatuses);
}

}  // namespace

HRESULT ZQWinAppObject::GetIcon(_ZQWinAppIcon*& icon) {
  if (record_ == nullptr) return E_UNEXPECTED;
  icon = static_cast<_ZQWinAppIcon*>(feroq::platform::HeapAllocZero(sizeof(_ZQWinAppIcon)));
  if (icon == nullptr) return E_OUTOFMEMORY;
  ReadRecordIcon(record_, icon);
  return S_OK;
}

HRESULT ZQWinAppObject::SetIcon(_ZQWinAppIcon* icon) {
  if (record_ == nullptr) return E_UNEXPECTED;
  if (icon == nullptr) return E_INVALIDARG;
  return WriteRecordIcon(record_, *icon);
}

HRESULT ZQWinAppObject::GetIconFile(_IconFileFormat format, char16_t* file_name) {
  if (record_ == nullptr) return E_UNEXPECTED;
  if (format != IconFileFormatICO) return E_NOTIMPL;
  if (file_name == nullptr || file_name[0] == u'\0') return E_INVALIDARG;
  _ZQWinAppIcon icon{};
  ReadRecordIcon(record_, &icon);
  return feroq::WriteIconFile(icon, file_name);
}

HRESULT ZQWinAppObject::SetIconFile(_IconFileFormat, char16_t* file_name, LONG index) {
  if (record_ == nullptr) return E_UNEXPECTED;
  _ZQWinAppIcon icon{};
  if (const HRESULT extracted = feroq::ExtractIconFromFile(file_name, index, &icon); extracted != S_OK) {
    return extracted;
  }
  return WriteRecordIcon(record_, icon);
}
