#include "apps/record_strings.h"

#include <cstring>

#include "farm/service_status.h"
#include "platform/platform.h"

namespace feroq {

HRESULT CopyRecordStringOut(const VORNString& value, char16_t** out) {
  if (value.m_size <= 2) return S_FALSE;
  auto* block = static_cast<char16_t*>(platform::HeapAllocZero(value.m_size));
  if (block == nullptr) {
    *out = nullptr;
    return E_OUTOFMEMORY;
  }
  std::memcpy(block, value.m_string, value.m_size);
  *out = block;
  return S_OK;
}

HRESULT MapStringSetResult(VSTATUS status, bool browser_name) {
  static constexpr StatusMapping kStringSetStatuses[] = {{ZQAPP_E_VALUE_REFUSED, E_INVALIDARG},
                                                         {ZQAPP_E_READ_ONLY, E_ACCESSDENIED}};
  // The browser name's own refusal.
  static constexpr StatusMapping kBrowserNameSetStatuses[] = {{ZQAPP_E_VALUE_REFUSED, E_INVALIDARG},
                                                              {ZQAPP_E_BROWSER_NAME, E_INVALIDARG},
                                                              {ZQAPP_E_READ_ONLY, E_ACCESSDENIED}};
  return browser_name ? MapServiceStatus(status, kBrowserNameSetStatuses)
                      : MapServiceStatus(status, kStringSetStatuses);
}

}  // namespace feroq
