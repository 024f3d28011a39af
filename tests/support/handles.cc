#include "support/handles.h"

#include <stdlib.h>

#include <algorithm>
#include <vector>

#include <gtest/gtest.h>

#include "platform/platform.h"
#include "services/service_faults.h"

namespace feroq::testing {

void SetEnvironment(const char* name, const std::optional<std::string>& value) {
#if defined(_WIN32)
  // An empty value removes the variable; the runtime passes it on to the
  // system's environment block.
  _putenv_s(name, value ? value->c_str() : "");
#else
  value ? setenv(name, value->c_str(), 1) : unsetenv(name);
#endif
}

EnvOverride::EnvOverride(const char* name, std::optional<std::string> value) : name_(name) {
  if (const char* old = getenv(name); old != nullptr) old_ = old;
  SetEnvironment(name, value);
}

EnvOverride::~EnvOverride() { SetEnvironment(name_.c_str(), old_); }

bool ServiceWasCalled(const std::string& operation) {
  const std::vector<std::string> calls = services::ServiceCallLog();
  return std::find(calls.begin(), calls.end(), operation) != calls.end();
}

int ForEachAllocationFailure(const std::function<void()>& operation, const std::function<void(bool failed)>& check,
                             bool persistent) {
  // Far more allocations than any single operation under test makes.
  constexpr std::uint64_t kLimit = 10000;
  int failures = 0;
  for (std::uint64_t nth = 1; nth <= kLimit; ++nth) {
    platform::FailAllocationAt(nth, persistent);
    operation();
    const bool failed = platform::AllocationFailureTriggered();
    platform::ClearAllocationFailure();
    SCOPED_TRACE(::testing::Message() << "allocation " << nth << " failing");
    check(failed);
    if (!failed) return failures;
    ++failures;
  }
  ADD_FAILURE() << "the operation still allocates after " << kLimit << " allocations";
  return failures;
}

}  // namespace feroq::testing
