// The heap's failure injection and counters, shared by every platform's
// heap (FailAllocationAt and the others in platform.h). A build without
// FEROQ_TESTING has no hook: nothing is counted and nothing fails.
#ifndef FEROQ_PLATFORM_PORTABLE_HEAP_HOOKS_H_
#define FEROQ_PLATFORM_PORTABLE_HEAP_HOOKS_H_

namespace feroq::platform::heap_hooks {

#if defined(FEROQ_TESTING)
// Counts one allocation attempt; true when the attempt must fail.
bool CountAttemptAndCheckFailure() noexcept;
// Adds `change` (+1 or -1) to the number of live blocks.
void CountLiveBlock(int change) noexcept;
#else
constexpr bool CountAttemptAndCheckFailure() noexcept { return false; }
constexpr void CountLiveBlock(int) noexcept {}
#endif

}  // namespace feroq::platform::heap_hooks

#endif  // FEROQ_PLATFORM_PORTABLE_HEAP_HOOKS_H_
