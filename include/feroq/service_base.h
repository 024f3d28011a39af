// What every farm service shares: the remote-access subsystem that connects
// the services to a farm, and the services' common base class.
#ifndef FEROQ_SERVICE_BASE_H_
#define FEROQ_SERVICE_BASE_H_

#include <cstddef>
#include <new>

#include "feroq/service_codes.h"
#include "feroq/types.h"

// Service objects and records are allocated from the platform heap, so that
// tests can make their creation fail: the allocation yields nothing when the
// heap fails or when a fault is armed for "<Class>::new" (service_faults.h).
FEROQ_SERVICES_API void* AllocateServiceObject(const char* class_name, std::size_t size) noexcept;
FEROQ_SERVICES_API void FreeServiceObject(void* block) noexcept;

#define VORN_SERVICE_ALLOCATION(ClassName)                                              \
  static void* operator new(std::size_t size, const std::nothrow_t&) noexcept {         \
    return AllocateServiceObject(#ClassName, size);                                      \
  }                                                                                      \
  static void* operator new(std::size_t size) {                                          \
    void* block = AllocateServiceObject(#ClassName, size);                               \
    if (block == nullptr) throw std::bad_alloc();                                        \
    return block;                                                                        \
  }                                                                                      \
  static void operator delete(void* block) noexcept { FreeServiceObject(block); }        \
  static void operator delete(void* block, const std::nothrow_t&) noexcept { FreeServiceObject(block); }

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
