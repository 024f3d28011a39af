// Fault injection and call recording for the stand-in services.
//
// Every service operation that returns a code (the services' methods, the
// record's setters and list operations, the RPC functions) begins with
// EnterServiceCall("Class::Method"). Tests arm a code for an operation and
// the next call (or every call, until cleared) answers that code without
// doing anything; tests can also read which operations were called, in order.
// When nothing is armed and no log is open the check costs one atomic load.
//
// All of it exists only in a build with FEROQ_TESTING. Without it (what is
// installed) the three calls the services make are inline and empty:
// EnterServiceCall answers 0, TakeArmedDetailCodes false, and
// ScopedServiceCallSuppression does nothing; the rest is not declared.
#ifndef FEROQ_SERVICES_SERVICE_FAULTS_H_
#define FEROQ_SERVICES_SERVICE_FAULTS_H_

#include <string>
#include <vector>

#include "feroq/services/service_codes.h"
#include "services/service_failure.h"

namespace feroq::services {

#if defined(FEROQ_TESTING)

// Records the call (when the log is open) and returns the code armed for
// `operation`, or 0 when none is.
FEROQ_SERVICES_API VSTATUS EnterServiceCall(const char* operation) noexcept;

// Arms `code` for `operation` ("ZQAppSAL::Read", "ZQApp::SetBrowserName",
// "VORNCommonApplicationSAL::DeleteFolder", "VORN_FarmName", ...). With
// `persistent` false only the next call answers it.
FEROQ_SERVICES_API void InjectServiceFault(const std::string& operation, VSTATUS code,
                                           bool persistent = false);
// Arms `code` for the `nth` (1-based) service call of any operation from now on.
FEROQ_SERVICES_API void InjectServiceFaultAtCall(unsigned long nth, VSTATUS code);
FEROQ_SERVICES_API void ClearServiceFaults();

// Arms a refusal of the next `operation` ("ZQAppSAL::Write" or
// "ZQAppSAL::ValidateOldApp") with 0x801D1104 and a detailed-error chain of
// `codes`, in this order, whatever the record holds. Cleared by
// ClearServiceFaults.
FEROQ_SERVICES_API void InjectDetailedErrors(const std::string& operation, std::vector<ULONG> codes);

// For the store: when a chain is armed for `operation`, disarms it, writes
// its codes into `*codes` and returns true.
FEROQ_SERVICES_API bool TakeArmedDetailCodes(const char* operation, std::vector<ULONG>* codes);

// Starts a fresh call log / stops recording. The log lists operation names.
FEROQ_SERVICES_API void StartServiceCallLog();
FEROQ_SERVICES_API void StopServiceCallLog();
FEROQ_SERVICES_API std::vector<std::string> ServiceCallLog();

// While one lives, EnterServiceCall on this thread neither records nor
// answers an armed code, and the call does not count for
// InjectServiceFaultAtCall. A service uses it around the record operations it
// calls itself (ZQAppSAL::Read fills a ZQApp through its setters), so that
// tests see and fault only the calls the library makes. Nests.
class FEROQ_SERVICES_API ScopedServiceCallSuppression {
 public:
  ScopedServiceCallSuppression() noexcept;
  ~ScopedServiceCallSuppression();
  ScopedServiceCallSuppression(const ScopedServiceCallSuppression&) = delete;
  ScopedServiceCallSuppression& operator=(const ScopedServiceCallSuppression&) = delete;
};

#else  // !FEROQ_TESTING

// Only notes the call that a failure belongs to (service_failure.h); a
// suppression scope gives the outer call back when it ends.
inline VSTATUS EnterServiceCall(const char* operation) noexcept {
  NoteServiceOperation(operation);
  return 0;
}
inline bool TakeArmedDetailCodes(const char*, std::vector<ULONG>*) { return false; }
class ScopedServiceCallSuppression {
 public:
  ScopedServiceCallSuppression() noexcept : outer_(CurrentServiceOperation()) {}
  ~ScopedServiceCallSuppression() { NoteServiceOperation(outer_); }
  ScopedServiceCallSuppression(const ScopedServiceCallSuppression&) = delete;
  ScopedServiceCallSuppression& operator=(const ScopedServiceCallSuppression&) = delete;

 private:
  const char* outer_;
};

#endif  // FEROQ_TESTING

}  // namespace feroq::services

#endif  // FEROQ_SERVICES_SERVICE_FAULTS_H_
