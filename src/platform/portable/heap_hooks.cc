// The heap's failure injection and counters (see heap_hooks.h).
#include "platform/portable/heap_hooks.h"

#include <atomic>
#include <cstdint>

#include "platform/platform.h"

#if defined(FEROQ_TESTING)
namespace feroq::platform {
namespace {

std::atomic<std::uint64_t> g_attempts{0};
// Attempt number (counted from process start) that fails first; 0 = none.
std::atomic<std::uint64_t> g_fail_at{0};
std::atomic<bool> g_fail_persistent{false};
std::atomic<bool> g_failure_triggered{false};
std::atomic<std::int64_t> g_live_blocks{0};

}  // namespace

namespace heap_hooks {

bool CountAttemptAndCheckFailure() noexcept {
  const std::uint64_t attempt = g_attempts.fetch_add(1) + 1;
  const std::uint64_t fail_at = g_fail_at.load();
  if (fail_at == 0 || attempt < fail_at) return false;
  if (attempt == fail_at || g_fail_persistent.load()) {
    g_failure_triggered.store(true);
    return true;
  }
  return false;
}

void CountLiveBlock(int change) noexcept { g_live_blocks.fetch_add(change); }

}  // namespace heap_hooks

void FailAllocationAt(std::uint64_t nth, bool persistent) noexcept {
  if (nth == 0) nth = 1;
  g_failure_triggered.store(false);
  g_fail_persistent.store(persistent);
  g_fail_at.store(g_attempts.load() + nth);
}

void ClearAllocationFailure() noexcept {
  g_fail_at.store(0);
  g_fail_persistent.store(false);
}

bool AllocationFailureTriggered() noexcept { return g_failure_triggered.load(); }

std::uint64_t AllocationAttempts() noexcept { return g_attempts.load(); }

std::int64_t LiveHeapBlocks() noexcept { return g_live_blocks.load(); }

}  // namespace feroq::platform
#endif  // FEROQ_TESTING
