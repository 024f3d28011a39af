// Allocation of service objects and records from the platform heap.
#include <string>

#include "feroq/services/service_base.h"
#include "platform/platform.h"
#include "services/service_faults.h"

namespace feroq {

void* AllocateServiceObject(const char* operation, std::size_t size) noexcept {
  if (services::EnterServiceCall(operation) != 0) return nullptr;
  return platform::HeapAllocZero(size);
}

void* AllocateUnfilledServiceObject(const char* operation, std::size_t size) noexcept {
  if (services::EnterServiceCall(operation) != 0) return nullptr;
  return platform::HeapAllocUnfilled(size);
}

void FreeServiceObject(void* block) noexcept { platform::HeapFree(block); }

}  // namespace feroq
