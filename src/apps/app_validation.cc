// Validation of a stored application, the detailed-error chain, and the
// character checks tools use before setting a name or a directory.
#include "apps/creation_codes.h"
#include "farm/holders.h"
#include "farm/service_access.h"
#include "farm/service_status.h"
#include "feroq/app_data.h"
#include "feroq/zqwinapp_object.h"

namespace feroq {

HRESULT CreationCodeForDetails(const _VORN_ZQAPP_DETAILED_ERR* chain) {
  if (chain == nullptr) return E_FAIL;
  // Creation codes for detail indexes 0 to 39.
  static constexpr HRESULT kCodes[40] = {
      ZQ_CREATE_E_BROWSER_NAME,       ZQ_CREATE_E_BROWSER_NAME,      ZQ_CREATE_E_INITIAL_PROGRAM,
      ZQ_CREATE_E_WORKING_DIRECTORY,  ZQ_CREATE_E_OBJECT_NAME,       ZQ_CREATE_E_PARENT_NOT_FOUND,
      ZQ_CREATE_E_DESCRIPTION,        ZQ_CREATE_E_WINDOW_HEIGHT,     ZQ_CREATE_E_WINDOW_HEIGHT,
      ZQ_CREATE_E_WINDOW_WIDTH,       ZQ_CREATE_E_WINDOW_WIDTH,      ZQ_CREATE_E_WINDOW_SCALE,
      ZQ_CREATE_E_WINDOW_SCALE,       ZQ_CREATE_E_ZQ_ATTRIBUTES,     ZQ_CREATE_E_WL_ATTRIBUTES,
      ZQ_CREATE_E_SOUND_TYPE,         ZQ_CREATE_E_VIDEO_TYPE,        ZQ_CREATE_E_VIDEO_TYPE,
      ZQ_CREATE_E_ENCRYPTION_LEVEL,   ZQ_CREATE_E_SOUND_TYPE,        ZQ_CREATE_E_VIDEO_TYPE,
      ZQ_CREATE_E_DESKTOP_INTEGRATE,  ZQ_CREATE_E_PUBLISHING_FLAGS,  ZQ_CREATE_E_WINDOW_COLOR,
      ZQ_CREATE_E_SOUND_TYPE,         ZQ_CREATE_E_VIDEO_TYPE,        ZQ_CREATE_E_ENCRYPTION_LEVEL,
      ZQ_CREATE_E_DETAIL_27,          ZQ_CREATE_E_DETAIL_28,         ZQ_CREATE_E_DETAIL_29,
      ZQ_CREATE_E_DETAIL_30,          ZQ_CREATE_E_DETAIL_31,         ZQ_CREATE_E_DETAIL_32,
      ZQ_CREATE_E_DETAIL_33,          ZQ_CREATE_E_DETAIL_34,         ZQ_CREATE_E_DETAIL_35,
      ZQ_CREATE_E_DETAIL_35,          ZQ_CREATE_E_DETAIL_33,         ZQ_CREATE_E_WINDOW_TYPE,
      ZQ_CREATE_E_WORKING_DIRECTORY,
  };
  const ULONG index = chain->code - kDetailedErrorBase;
  if (chain->code < kDetailedErrorBase || index >= 40) return E_FAIL;
  return kCodes[index];
}

}  // namespace feroq

HRESULT ZQWinAppObject::Validate() {
  ZQAppSAL* store = feroq::AppStoreOf(farm_);
  if (record_ == nullptr || store == nullptr) return E_UNEXPECTED;
  ULONG64 id = 0;
  GetObjectID(id);
  static constexpr feroq::StatusMapping kValidateStatuses[] = {
      {feroq::VORN_E_ACCESSDENIED, E_ACCESSDENIED}, {feroq::VORN_E_REFUSED, E_ACCESSDENIED},   {feroq::VORN_E_OUTOFMEMORY, E_OUTOFMEMORY},
      {feroq::VORN_E_INVALIDVALUE, E_NOTIMPL},      {feroq::ZQAPP_E_NOT_SUPPORTED, E_NOTIMPL}, {feroq::ZQAPP_E_CHECKS_FAILED, E_INVALIDARG}};
  // The details are not reported to the caller.
  feroq::DetailChain details;
  return feroq::MapServiceStatus(store->ValidateOldApp(id, &details.out()), kValidateStatuses);
}

void ReleaseZQAppErrMemory(_VORN_ZQAPP_DETAILED_ERR* chain) {
  while (chain != nullptr) {
    _VORN_ZQAPP_DETAILED_ERR* next = chain->next;
    // The entry's arrays and the entry itself go back to the services' heap.
    if (chain->tag == 5) feroq::FreeServiceObject(chain->value2);
    if (chain->tag == 4 || chain->tag == 7) feroq::FreeServiceObject(chain->value1);
    delete chain;
    chain = next;
  }
}

namespace {

unsigned char HasAnyOf(const VORNString& text, const char16_t* set) {
  for (const char16_t* c = text.c_str(); *c != 0; ++c) {
    for (const char16_t* s = set; *s != 0; ++s) {
      if (*c == *s) return 1;
    }
  }
  return 0;
}

}  // namespace

unsigned char FHasInvalidWorkDirectoryChars(VORNString& dir) { return HasAnyOf(dir, u"/*?\"<>|"); }

unsigned char FHasInvalidBrNameChars(VORNString& name) {
  if (HasAnyOf(name, u"\\/;:.*?=<>|[]()'\"#")) return 1;
  return name.c_str()[0] == u' ' ? 1 : 0;
}
