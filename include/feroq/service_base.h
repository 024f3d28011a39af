// What every farm service shares: the remote-access subsystem that connects
// the services to a farm, and the services' common base class.
#ifndef FEROQ_SERVICE_BASE_H_
#define FEROQ_SERVICE_BASE_H_

#include "feroq/service_codes.h"
#include "feroq/types.h"

// The connection to one farm. Which farm is opened is the services' own
// setting: the environment variable FEROQ_FARM ("memory:NAME" for a farm held
// in this process, "sqlite:PATH" for a farm file); see the README.
class FEROQ_SERVICES_API VORN_PIF_ISubSystem {
 public:
  virtual ~VORN_PIF_ISubSystem() = default;
};

// Starts remote access: opens the farm on the first call, counts the calls.
// The argument is not used. Returns 0, or a failure code when the farm cannot
// be opened (VornRemoteAccess is then null).
FEROQ_SERVICES_API VSTATUS InitiateRemoteAccess(void* reserved);
// Ends one InitiateRemoteAccess; the last one closes the farm.
FEROQ_SERVICES_API VSTATUS UninitiateRemoteAccess();
// The subsystem every service constructor receives; null while no farm is open.
extern FEROQ_SERVICES_API VORN_PIF_ISubSystem* VornRemoteAccess;

// Base of the four services. Its virtual operations stand in the table but
// the library never calls them.
class FEROQ_SERVICES_API VORN_PIF_SAL {
 public:
  explicit VORN_PIF_SAL(VORN_PIF_ISubSystem* subsystem);
  virtual ~VORN_PIF_SAL();
  VORN_PIF_SAL(const VORN_PIF_SAL&) = delete;
  VORN_PIF_SAL& operator=(const VORN_PIF_SAL&) = delete;

  virtual ULONG GetTraceComponent();
  virtual ULONG GetErrorMsgType();
  virtual VSTATUS SendSALEvent(ULONG event, void* data);
  virtual VSTATUS PostSALEvent(ULONG event, void* data);
  virtual VSTATUS CreateSALEvent(ULONG event, void** created);

 protected:
  // The subsystem the service was made with; may be null (the service's
  // calls then fail with VORN_E_FAILURE).
  VORN_PIF_ISubSystem* subsystem() const { return subsystem_; }

 private:
  VORN_PIF_ISubSystem* subsystem_;
};

#endif  // FEROQ_SERVICE_BASE_H_
