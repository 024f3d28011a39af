// Allocation of service objects and records from the platform heap.
#include <string>

#include "feroq/services/service_base.h"
#include "platform/platform.h"
#include "services/service_faults.h"

namespace feroq {

void* AllocateServiceObject(const char* class_name, std::size_t size) noexcept {
  char operation[96];
  std::size_t length = 0;
  for (const char* c = class_name; *c != '\0' && length < sizeof(operation) - 6; ++c) {
    operation[length++] = *c;
  }
  for (const char* c = "::new"; *c != '\0'; ++c) operation[length++] = *c;
  operation[length] = '\0';
  if (services::EnterServiceCall(operation) != 0) return nullptr;
  return platform::HeapAllocZero(size);
}

void FreeServiceObject(void* block) noexcept { platform::HeapFree(block); }

}  // namespace feroq
