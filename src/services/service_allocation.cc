// Allocation of service objects and records from the platform heap.
#include <cstring>
#include <string>

#include "feroq/services/service_base.h"
#include "platform/platform.h"
#include "services/service_faults.h"

namespace feroq {

namespace {

// "<Class>::new" of the thread's latest service allocation. The thread's note
// of its current operation keeps pointing at it after the call (a failure
// recorded later names it), so it lives as long as the thread, not on the
// stack.
thread_local char t_operation[96];

// Notes "<Class>::new" as the thread's operation; false when a fault is
// armed for it.
bool EnterAllocation(const char* class_name) noexcept {
  // Made on the stack, then copied once (each access to the thread's own
  // storage is a call).
  char name[sizeof(t_operation)];
  std::size_t length = 0;
  for (const char* c = class_name; *c != '\0' && length < sizeof(name) - 6; ++c) name[length++] = *c;
  for (const char* c = "::new"; *c != '\0'; ++c) name[length++] = *c;
  name[length] = '\0';
  char* const operation = t_operation;
  std::memcpy(operation, name, length + 1);
  return services::EnterServiceCall(operation) == 0;
}

}  // namespace

void* AllocateServiceObject(const char* class_name, std::size_t size) noexcept {
  return EnterAllocation(class_name) ? platform::HeapAllocZero(size) : nullptr;
}

void* AllocateUnfilledServiceObject(const char* operation, std::size_t size) noexcept {
  if (services::EnterServiceCall(operation) != 0) return nullptr;
  return platform::HeapAllocUnfilled(size);
}

void FreeServiceObject(void* block) noexcept { platform::HeapFree(block); }

}  // namespace feroq
