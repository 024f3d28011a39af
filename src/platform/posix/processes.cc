// Processes: who runs a piece of work and whether that process still runs,
// and the wall clock (see platform.h).
#include <errno.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <string>

#include "platform/platform.h"

namespace feroq::platform {
namespace {

// FNV-1a, to fold the machine's boot and a start time into one token.
std::uint64_t Fold(std::uint64_t hash, const std::string& bytes) {
  for (unsigned char c : bytes) hash = (hash ^ c) * 1099511628211ull;
  return hash;
}

// The first line of a small file of /proc, or "" when it cannot be read.
std::string FirstLine(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "re");
  if (file == nullptr) return std::string();
  char buffer[1024];
  std::string line;
  if (std::fgets(buffer, sizeof(buffer), file) != nullptr) line = buffer;
  std::fclose(file);
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
  return line;
}

// The start of process `pid` since the machine booted, in clock ticks (field
// 22 of /proc/PID/stat), with the machine's boot identifier: 0 when unknown.
std::uint64_t StartToken(std::uint32_t pid) {
  const std::string stat = FirstLine("/proc/" + std::to_string(pid) + "/stat");
  // The command name (field 2) is in parentheses and may hold anything.
  const std::size_t end_of_name = stat.rfind(')');
  if (end_of_name == std::string::npos) return 0;
  // `position` is at the space before field 3; move it to the space before
  // field 22.
  std::size_t position = end_of_name + 1;
  for (int field = 3; field < 22 && position != std::string::npos; ++field) {
    position = stat.find(' ', position + 1);
  }
  if (position == std::string::npos) return 0;
  const std::string start = stat.substr(position + 1, stat.find(' ', position + 1) - position - 1);
  const std::string boot = FirstLine("/proc/sys/kernel/random/boot_id");
  return Fold(Fold(14695981039346656037ull, boot), start);
}

std::string HostName() {
  char name[256] = {};
  if (::gethostname(name, sizeof(name) - 1) != 0) return std::string();
  return name;
}

}  // namespace

ProcessIdentity CurrentProcessIdentity() {
  ProcessIdentity me;
  me.host = HostName();
  me.process = static_cast<std::uint32_t>(::getpid());
  me.start = StartToken(me.process);
  return me;
}

ProcessState CheckProcess(const ProcessIdentity& owner) noexcept {
  try {
    if (owner.host != HostName()) return ProcessState::kUnknown;
    const pid_t pid = static_cast<pid_t>(owner.process);
    if (pid <= 0) return ProcessState::kGone;
    if (::kill(pid, 0) != 0 && errno == ESRCH) return ProcessState::kGone;
    // The number runs a process; it is the owner only if it started when
    // the owner did (and on this boot of the machine).
    if (owner.start != 0 && StartToken(owner.process) != owner.start) return ProcessState::kGone;
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
