// Fault injection and call recording for the stand-in services.
//
// g_engaged is true while anything is armed or the log is open; when it is
// false EnterServiceCall returns after one relaxed atomic load. Everything
// else sits behind one mutex.
#include "services/service_faults.h"

#include "services/service_failure.h"

#include <atomic>
#include <map>
#include <mutex>

namespace feroq::services {
namespace {

struct ArmedFault {
  VSTATUS code;
  bool persistent;
};

struct FaultState {
  std::mutex mutex;
  std::map<std::string, ArmedFault> by_operation;
  // Calls counted since InjectServiceFaultAtCall; the fault fires at `nth`.
  unsigned long calls_since_armed = 0;
  unsigned long nth = 0;  // 0: nothing armed by position
  VSTATUS nth_code = 0;
  bool logging = false;
  std::vector<std::string> log;
  // Detailed-error chains armed per operation (InjectDetailedErrors).
  std::map<std::string, std::vector<ULONG>> chains;
};

std::atomic<bool> g_engaged{false};
thread_local int t_suppression_depth = 0;

FaultState& TheFaults() {
  static auto* state = new FaultState;  // never destroyed: services may run late
  return *state;
}

// REQUIRES: state.mutex held.
void UpdateEngaged(const FaultState& state) {
  g_engaged.store(state.logging || state.nth != 0 || !state.by_operation.empty() || !state.chains.empty(),
                  std::memory_order_release);
}

}  // namespace

VSTATUS EnterServiceCall(const char* operation) noexcept {
  if (t_suppression_depth > 0) return 0;
  NoteServiceOperation(operation);
  if (!g_engaged.load(std::memory_order_relaxed)) return 0;
  FaultState& state = TheFaults();
  std::lock_guard lock(state.mutex);
  try {
    if (state.logging) state.log.emplace_back(operation);
  } catch (...) {
    // A log that cannot grow loses the entry; the call itself goes on.
  }
  VSTATUS answer = 0;
  if (state.nth != 0 && ++state.calls_since_armed == state.nth) {
    answer = state.nth_code;
    state.nth = 0;
  }
  if (answer == 0) {
    auto it = state.by_operation.find(operation);
    if (it != state.by_operation.end()) {
      answer = it->second.code;
      if (!it->second.persistent) state.by_operation.erase(it);
    }
  }
  UpdateEngaged(state);
  return answer;
}

void InjectServiceFault(const std::string& operation, VSTATUS code, bool persistent) {
  FaultState& state = TheFaults();
  std::lock_guard lock(state.mutex);
  state.by_operation[operation] = ArmedFault{code, persistent};
  UpdateEngaged(state);
}

void InjectServiceFaultAtCall(unsigned long nth, VSTATUS code) {
  FaultState& state = TheFaults();
  std::lock_guard lock(state.mutex);
  state.nth = nth;
  state.nth_code = code;
  state.calls_since_armed = 0;
  UpdateEngaged(state);
}

void ClearServiceFaults() {
  FaultState& state = TheFaults();
  std::lock_guard lock(state.mutex);
  state.by_operation.clear();
  state.chains.clear();
  state.nth = 0;
  state.nth_code = 0;
  state.calls_since_armed = 0;
  UpdateEngaged(state);
}

void InjectDetailedErrors(const std::string& operation, std::vector<ULONG> codes) {
  FaultState& state = TheFaults();
  std::lock_guard lock(state.mutex);
  state.chains[operation] = std::move(codes);
  UpdateEngaged(state);
}

bool TakeArmedDetailCodes(const char* operation, std::vector<ULONG>* codes) {
  if (!g_engaged.load(std::memory_order_relaxed)) return false;
  FaultState& state = TheFaults();
  std::lock_guard lock(state.mutex);
  auto armed = state.chains.find(operation);
  if (armed == state.chains.end()) return false;
  *codes = std::move(armed->second);
  state.chains.erase(armed);
  UpdateEngaged(state);
  return true;
}

void StartServiceCallLog() {
  FaultState& state = TheFaults();
  std::lock_guard lock(state.mutex);
  state.log.clear();
  state.logging = true;
  UpdateEngaged(state);
}

void StopServiceCallLog() {
  FaultState& state = TheFaults();
  std::lock_guard lock(state.mutex);
  state.logging = false;
  UpdateEngaged(state);
}

std::vector<std::string> ServiceCallLog() {
  FaultState& state = TheFaults();
  std::lock_guard lock(state.mutex);
  return state.log;
}

ScopedServiceCallSuppression::ScopedServiceCallSuppression() noexcept { ++t_suppression_depth; }
ScopedServiceCallSuppression::~ScopedServiceCallSuppression() { --t_suppression_depth; }

}  // namespace feroq::services
