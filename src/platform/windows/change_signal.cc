// Change signals on Windows: none yet. No signal opens, so a waiter for
// another process's commit reads the farm file at its poll interval, and the
// other calls are never reached.
#include "platform/platform.h"

namespace feroq::platform {

ChangeSignal* OpenChangeSignal(const std::string&) noexcept { return nullptr; }
void CloseChangeSignal(ChangeSignal*) noexcept {}
std::uint32_t ChangeSignalValue(const ChangeSignal*) noexcept { return 0; }
std::uint32_t ChangeSignalWaiters(const ChangeSignal*) noexcept { return 0; }
void RaiseChangeSignal(ChangeSignal*) noexcept {}
bool WaitForChangeSignal(ChangeSignal*, std::uint32_t, int) noexcept { return false; }

}  // namespace feroq::platform
