// Moving strings between the store record and the caller's heap blocks.
#ifndef FEROQ_APPS_RECORD_STRINGS_H_
#define FEROQ_APPS_RECORD_STRINGS_H_

#include "feroq/services/vorn_system.h"

namespace feroq {

// Hands out `value` as a new zero-filled heap block of its exact size.
// S_FALSE for an empty string (nothing allocated, `*out` untouched);
// E_OUTOFMEMORY with `*out` null when the block cannot be had.
HRESULT CopyRecordStringOut(const VORNString& value, char16_t** out);

// Maps a record string setter's code: 0 to S_OK, 0x801D1100 (and, for the
// browser name, 0x801D1106) to E_INVALIDARG, 0x801D1103 to E_ACCESSDENIED,
// anything else to E_FAIL.
HRESULT MapStringSetResult(VSTATUS status, bool browser_name = false);

}  // namespace feroq

#endif  // FEROQ_APPS_RECORD_STRINGS_H_
