#include "support/handles.h"

#include <stdlib.h>

#include <gtest/gtest.h>

#include "platform/platform.h"
#include "services/service_faults.h"

namespace feroq::testing {

EnvOverride::EnvOverride(const char* name, std::optional<std::string> value) : name_(name) {
  if (const char* old = getenv(name); old != nullptr) old_ = old;
  value ? setenv(name, value->c_str(), 1) : unsetenv(name);
}

EnvOverride::~EnvOverride() { old_ ? setenv(name_.c_str(), old_->c_str(), 1) : unsetenv(name_.c_str()); }

bool ServiceWasCalled(const std::string& operation) {
  for (const std::string& call : services::ServiceCallLog()) {
    if (call == operation) return true;
  }
  return false;
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
