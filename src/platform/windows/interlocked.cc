// Interlocked counters on Windows: the system's interlocked increment and
// decrement (full barriers, wrapping on overflow).
#include "platform/platform.h"
#include "platform/windows/system.h"

namespace feroq::platform {

LONG IncrementCounter(volatile LONG* value) noexcept { return ::InterlockedIncrement(value); }

LONG DecrementCounter(volatile LONG* value) noexcept { return ::InterlockedDecrement(value); }

}  // namespace feroq::platform
