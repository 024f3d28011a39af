#include "apps/record_strings.h"

#include <cstring>

#include "platform/platform.h"

namespace feroq {

HRESULT CopyRecordStringOut(const VORNString& value, WCHAR** out) {
  if (value.m_size <= 2) return S_FALSE;
  auto* block = static_cast<WCHAR*>(platform::HeapAllocZero(value.m_size));
  if (block == nullptr) {
    *out = nullptr;
    return E_OUTOFMEMORY;
  }
  std::memcpy(block, value.m_string, value.m_size);
  *out = block;
  return S_OK;
}

HRESULT MapStringSetResult(VSTATUS status, bool browser_name) {
  if (status == 0) return S_OK;
  if (status == ZQAPP_E_VALUE_REFUSED) return E_INVALIDARG;
  if (browser_name && status == ZQAPP_E_BROWSER_NAME) return E_INVALIDARG;
  if (status == ZQAPP_E_READ_ONLY) return E_ACCESSDENIED;
  return E_FAIL;
}

}  // namespace feroq
