// Service statuses turned into the library's result codes. Every operation
// has its own mapping; each names its table of the statuses it tells apart
// beside the code that calls the service, and MapServiceStatus applies it.
#ifndef FEROQ_FARM_SERVICE_STATUS_H_
#define FEROQ_FARM_SERVICE_STATUS_H_

#include <cstddef>

#include "feroq/services/service_codes.h"
#include "feroq/types.h"

namespace feroq {

struct StatusMapping {
  VSTATUS status;
  HRESULT result;
};

// The result for `status`: S_OK for 0, the table's result for a status it
// lists, `otherwise` for any other status.
template <std::size_t N>
constexpr HRESULT MapServiceStatus(VSTATUS status, const StatusMapping (&table)[N],
                                   HRESULT otherwise = E_FAIL) {
  if (status == VORN_OK) return S_OK;
  for (const StatusMapping& entry : table) {
    if (entry.status == status) return entry.result;
  }
  return otherwise;
}

// The mapping most calls share: the service's out-of-memory status becomes
// E_OUTOFMEMORY, any other failure E_FAIL.
inline constexpr StatusMapping kOutOfMemoryStatus[] = {{VORN_E_OUTOFMEMORY, E_OUTOFMEMORY}};

}  // namespace feroq

#endif  // FEROQ_FARM_SERVICE_STATUS_H_
