// Processes on Windows: a process is named by its number and its creation
// time (GetProcessTimes), so that a number used again by a later process is
// not taken for the first one; and the wall clock (see platform.h).
#include <ctime>
#include <string>

#include "platform/platform.h"
#include "platform/windows/system.h"

namespace feroq::platform {
namespace {

std::uint64_t CreationTime(HANDLE process) {
  FILETIME created{}, exited{}, kernel{}, user{};
  if (!::GetProcessTimes(process, &created, &exited, &kernel, &user)) return 0;
  return (std::uint64_t{created.dwHighDateTime} << 32) | created.dwLowDateTime;
}

std::string HostName() {
  wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD length = MAX_COMPUTERNAME_LENGTH + 1;
  if (!::GetComputerNameW(name, &length)) return std::string();
  return SystemWideToUtf8(name, length);
}

}  // namespace

ProcessIdentity CurrentProcessIdentity() {
  ProcessIdentity me;
  me.host = HostName();
  me.process = ::GetCurrentProcessId();
  me.start = CreationTime(::GetCurrentProcess());
  return me;
}

ProcessState CheckProcess(const ProcessIdentity& owner) noexcept {
  try {
    if (owner.host != HostName()) return ProcessState::kUnknown;
    if (owner.process == 0) return ProcessState::kGone;
    ScopedHandle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, owner.process));
    if (!process.valid()) {
      // A process this user may not look at still runs.
      return ::GetLastError() == ERROR_ACCESS_DENIED ? ProcessState::kRunning : ProcessState::kGone;
    }
    // An ended process stays signalled while a handle to it is open.
    if (::WaitForSingleObject(process.get(), 0) == WAIT_OBJECT_0) return ProcessState::kGone;
    if (owner.start != 0 && CreationTime(process.get()) != owner.start) return ProcessState::kGone;
    return ProcessState::kRunning;
  } catch (...) {
    return ProcessState::kUnknown;
  }
}

std::uint64_t WallClockSeconds() noexcept {
  const std::time_t now = std::time(nullptr);
  return now < 0 ? 0 : static_cast<std::uint64_t>(now);
}

}  // namespace feroq::platform
