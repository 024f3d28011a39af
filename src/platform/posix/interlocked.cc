// Interlocked counters on POSIX: sequentially consistent atomic read-modify-
// write on the caller's 32-bit word, as the Windows calls are full barriers.
// The arithmetic is done on the unsigned value so that overflow wraps.
#include <cstdint>

#include "platform/platform.h"

namespace feroq::platform {
namespace {

static_assert(sizeof(LONG) == sizeof(std::uint32_t));

LONG AddAndFetch(volatile LONG* value, std::uint32_t delta) noexcept {
  auto* word = reinterpret_cast<volatile std::uint32_t*>(value);
  return static_cast<LONG>(__atomic_add_fetch(word, delta, __ATOMIC_SEQ_CST));
}

}  // namespace

LONG IncrementCounter(volatile LONG* value) noexcept { return AddAndFetch(value, 1u); }

LONG DecrementCounter(volatile LONG* value) noexcept { return AddAndFetch(value, 0xFFFFFFFFu); }

}  // namespace feroq::platform
