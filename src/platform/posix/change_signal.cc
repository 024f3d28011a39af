// Change signals on Linux (elsewhere no signal opens, and waiters read the
// file at intervals): two 32-bit words in a companion file mapped
// shared by every process that opens it, the counter (a futex word) and the
// number of blocked waiters (see platform.h).
//
// A raiser adds to the counter and then, only when someone waits, calls
// FUTEX_WAKE. A waiter counts itself in before it blocks, and FUTEX_WAIT
// blocks only while the counter still holds the value the waiter saw. Both
// steps are sequentially consistent, so either the raiser sees the waiter
// counted in, or the waiter sees the raised counter: no raise is missed.
#include "platform/platform.h"

#if defined(__linux__)
#include <fcntl.h>
#include <linux/futex.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <climits>
#include <cstdint>
#include <new>
#include <string>

namespace feroq::platform {

struct ChangeSignal {
  std::uint32_t* words;  // [0] the counter, [1] blocked waiters
};

namespace {

constexpr std::size_t kSignalBytes = 2 * sizeof(std::uint32_t);

std::atomic_ref<std::uint32_t> Counter(const ChangeSignal* signal) { return std::atomic_ref(signal->words[0]); }
std::atomic_ref<std::uint32_t> Waiters(const ChangeSignal* signal) { return std::atomic_ref(signal->words[1]); }

long Futex(std::uint32_t* word, int op, std::uint32_t value, const timespec* timeout) {
  return ::syscall(SYS_futex, word, op, value, timeout, nullptr, 0);
}

std::int64_t MonotonicMs() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

// Opens (or makes) the companion file, at least kSignalBytes long; -1 when
// that cannot be done.
int OpenCompanion(const std::string& path) {
  struct stat shared{};
  // A process that may not write the file raises nothing; nor does it make
  // the companion, which would then carry its owner instead of the file's.
  if (::stat(path.c_str(), &shared) != 0 || !S_ISREG(shared.st_mode) || ::access(path.c_str(), W_OK) != 0) {
    return -1;
  }
  const std::string companion = path + "-wake";
  const mode_t mode = shared.st_mode & 0666;
  const int fd = ::open(companion.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, mode);
  if (fd < 0) return -1;
  struct stat info{};
  bool usable = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
  if (usable && info.st_size == 0) {
    // Newly made (or made by another process just now): the file's own
    // permissions and owner, whatever the umask and whoever made it, so that
    // every process that may write the file may raise its signal.
    if ((info.st_mode & 0777) != mode) ::fchmod(fd, mode);
    if (::geteuid() == 0 && (info.st_uid != shared.st_uid || info.st_gid != shared.st_gid)) {
      if (::fchown(fd, shared.st_uid, shared.st_gid) != 0) {
        // The signal still works for this user; others fall back to reading.
      }
    }
  }
  if (usable && info.st_size < static_cast<off_t>(kSignalBytes)) {
    // Growing only: a process that lengthened it first has zeros there too.
    usable = ::ftruncate(fd, kSignalBytes) == 0;
  }
  if (!usable) {
    ::close(fd);
    return -1;
  }
  return fd;
}

}  // namespace

ChangeSignal* OpenChangeSignal(const std::string& path) noexcept {
  try {
    const int fd = OpenCompanion(path);
    if (fd < 0) return nullptr;
    void* map = ::mmap(nullptr, kSignalBytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    ::close(fd);  // the mapping keeps the file
    if (map == MAP_FAILED) return nullptr;
    auto* signal = new (std::nothrow) ChangeSignal{static_cast<std::uint32_t*>(map)};
    if (signal == nullptr) ::munmap(map, kSignalBytes);
    return signal;
  } catch (...) {  // std::string's allocation
    return nullptr;
  }
}

void CloseChangeSignal(ChangeSignal* signal) noexcept {
  if (signal == nullptr) return;
  ::munmap(signal->words, kSignalBytes);
  delete signal;
}

std::uint32_t ChangeSignalValue(const ChangeSignal* signal) noexcept { return Counter(signal).load(); }

std::uint32_t ChangeSignalWaiters(const ChangeSignal* signal) noexcept { return Waiters(signal).load(); }

void RaiseChangeSignal(ChangeSignal* signal) noexcept {
  Counter(signal).fetch_add(1);
  if (Waiters(signal).load() != 0) Futex(&signal->words[0], FUTEX_WAKE, INT_MAX, nullptr);
}

bool WaitForChangeSignal(ChangeSignal* signal, std::uint32_t seen, int timeout_ms) noexcept {
  if (Counter(signal).load() != seen) return true;
  if (timeout_ms == 0) return false;
  const std::int64_t deadline = timeout_ms > 0 ? MonotonicMs() + timeout_ms : 0;
  Waiters(signal).fetch_add(1);
  bool changed = false;
  for (;;) {
    if (Counter(signal).load() != seen) {
      changed = true;
      break;
    }
    timespec left{};
    const timespec* timeout = nullptr;
    if (timeout_ms > 0) {
      const std::int64_t ms = deadline - MonotonicMs();
      if (ms <= 0) break;
      left.tv_sec = static_cast<time_t>(ms / 1000);
      left.tv_nsec = static_cast<long>(ms % 1000) * 1000000;
      timeout = &left;
    }
    // Returns at a wake, at once when the counter moved on (EAGAIN), at the
    // timeout or at a signal handler; the loop looks again in every case.
    Futex(&signal->words[0], FUTEX_WAIT, seen, timeout);
  }
  Waiters(signal).fetch_sub(1);
  return changed;
}

}  // namespace feroq::platform
#else   // no futex: no signal opens, so the other calls are never reached

namespace feroq::platform {
ChangeSignal* OpenChangeSignal(const std::string&) noexcept { return nullptr; }
void CloseChangeSignal(ChangeSignal*) noexcept {}
std::uint32_t ChangeSignalValue(const ChangeSignal*) noexcept { return 0; }
std::uint32_t ChangeSignalWaiters(const ChangeSignal*) noexcept { return 0; }
void RaiseChangeSignal(ChangeSignal*) noexcept {}
bool WaitForChangeSignal(ChangeSignal*, std::uint32_t, int) noexcept { return false; }
}  // namespace feroq::platform
#endif  // __linux__
