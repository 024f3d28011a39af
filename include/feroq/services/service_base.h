// What every farm service shares: the remote-access subsystem that connects
// the services to a farm, and the services' common base class.
#ifndef FEROQ_SERVICE_BASE_H_
#define FEROQ_SERVICE_BASE_H_

#include <cstddef>
#include <new>
#include <type_traits>
#include <vector>

#include "feroq/services/service_codes.h"
#include "feroq/types.h"

// Service objects and records are allocated from the platform heap, so that
// tests can make their creation fail: the allocation yields nothing when the
// heap fails or when a fault is armed for "<Class>::new" (service_faults.h).
// `operation` is that name, as a string literal: the thread's note of its
// current operation points at it as it is, with nothing composed or copied.
namespace feroq {
FEROQ_SERVICES_API void* AllocateServiceObject(const char* operation, std::size_t size) noexcept;
// The same, counted and failed the same way, for a class whose constructors
// set every member: the block is not zero-filled, so that memory they do not
// write is not touched at all.
FEROQ_SERVICES_API void* AllocateUnfilledServiceObject(const char* operation, std::size_t size) noexcept;
FEROQ_SERVICES_API void FreeServiceObject(void* block) noexcept;
}  // namespace feroq

#define VORN_SERVICE_ALLOCATION_FROM(Allocate, name)                                       \
  static void* operator new(std::size_t size, const std::nothrow_t&) noexcept {            \
    return ::feroq::Allocate(name, size);                                                  \
  }                                                                                        \
  static void* operator new(std::size_t size) {                                            \
    void* block = ::feroq::Allocate(name, size);                                           \
    if (block == nullptr) throw std::bad_alloc();                                          \
    return block;                                                                          \
  }                                                                                        \
  static void operator delete(void* block) noexcept { ::feroq::FreeServiceObject(block); } \
  static void operator delete(void* block, const std::nothrow_t&) noexcept {               \
    ::feroq::FreeServiceObject(block);                                                     \
  }
#define VORN_SERVICE_ALLOCATION(ClassName) VORN_SERVICE_ALLOCATION_FROM(AllocateServiceObject, #ClassName "::new")
#define VORN_SERVICE_ALLOCATION_UNFILLED(ClassName) \
  VORN_SERVICE_ALLOCATION_FROM(AllocateUnfilledServiceObject, #ClassName "::new")

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

namespace feroq {

// ---- One transaction for many service calls (feroq's own addition) ---------
//
// RunInOneTransaction runs `body` on the calling thread inside one write
// transaction of the farm behind `subsystem`. While `body` runs, every
// service call this thread makes on that farm (folders, applications,
// servers, accounts, events) reads and writes inside that transaction: it
// sees the transaction's own changes, and nobody else sees any of them before
// the commit. Other threads and processes that write the farm wait for the
// transaction to end (on a farm file they give up after its busy timeout);
// readers on a farm file read the last commit without waiting, while readers
// of a memory farm in this process wait for the end. The store is the same
// for every backend: nothing here depends on which one holds the farm.
//
// The transaction ends as a whole, when `body` returns:
// - committed when `end` is kCommit, `body` returned 0 and no service write
//   inside it failed;
// - rolled back otherwise. A service write that fails inside the
//   transaction (a refusal, running out of memory) may have left part of its
//   changes in it, so it dooms the whole transaction, even when `body` goes
//   on and returns 0.
// Results: `body`'s result when it is not 0; else the code of the first
// service write that failed inside it; else the farm's code for a commit that
// failed (feroq/services/farm_admin.h: kFarmBusy, kFarmFileUnavailable, ...); else 0
// (also for a kRollBack run). VORN_E_FAILURE without a farm, and
// VORN_E_INVALIDVALUE for a null `body`, both without running it;
// VORN_E_REFUSED, without running `body`, when this thread already runs one
// (transactions do not nest); VORN_E_OUTOFMEMORY when memory runs out (rolled
// back). An exception other than std::bad_alloc leaving `body` rolls the
// transaction back and passes on.
//
// Inside `body`, do not wait for events (a waiter sees only commits) and do
// not use another thread to call the services on the same farm (it would
// wait for this transaction to end).
//
// On a farm on a database server `body` may run more than once: a
// transaction that collides with another writer is rolled back and `body`
// runs again from the start, up to a bound, after which the result is
// kFarmWriteConflict. Write `body` so that a second run does the same as the
// first: make its changes through the services (they are rolled back with
// the transaction) and set up any state of its own at its start, not before
// the call. A farm file or a memory farm runs `body` once.
enum class TransactionEnd : int { kCommit = 0, kRollBack = 1 };

using TransactionBody = VSTATUS (*)(void* context);

FEROQ_SERVICES_API VSTATUS RunInOneTransaction(VORN_PIF_ISubSystem* subsystem, TransactionEnd end,
                                               TransactionBody body, void* context);

// The same with any callable `fn` taking no arguments and returning VSTATUS.
template <class Fn>
VSTATUS RunInOneTransaction(VORN_PIF_ISubSystem* subsystem, TransactionEnd end, Fn&& fn) {
  return RunInOneTransaction(
      subsystem, end,
      [](void* context) -> VSTATUS { return (*static_cast<std::remove_reference_t<Fn>*>(context))(); },
      const_cast<void*>(static_cast<const void*>(&fn)));
}

// RunInOneReadTransaction runs `body` on the calling thread inside one read
// transaction of the farm behind `subsystem`: while `body` runs, every
// service call this thread makes on that farm reads one snapshot (the last
// commit when the transaction began), and the calls share the cost of one
// transaction instead of each beginning its own. A service call that would
// write the farm is refused with VORN_E_REFUSED (nothing is written). When
// this thread already runs a transaction (of either kind), `body` simply
// runs in it. Writers are not held up on a farm file; on a memory farm they
// wait for the end.
// Results: `body`'s result; the farm's code when the transaction cannot
// begin (`body` then does not run); VORN_E_FAILURE without a farm and
// VORN_E_INVALIDVALUE for a null `body`, both without running it;
// VORN_E_OUTOFMEMORY when memory runs out before `body` runs. An exception
// leaving `body` ends the transaction and passes on.
FEROQ_SERVICES_API VSTATUS RunInOneReadTransaction(VORN_PIF_ISubSystem* subsystem, TransactionBody body,
                                                   void* context);

template <class Fn>
VSTATUS RunInOneReadTransaction(VORN_PIF_ISubSystem* subsystem, Fn&& fn) {
  return RunInOneReadTransaction(
      subsystem, [](void* context) -> VSTATUS { return (*static_cast<std::remove_reference_t<Fn>*>(context))(); },
      const_cast<void*>(static_cast<const void*>(&fn)));
}

// ---- Children by name (feroq's own addition) -------------------------------
//
// FindChildrenByName answers, for a lookup of one child of a folder by its
// name, what enumerating the folder and reading every child's name would:
// in `*ids` the identifiers of the children of folder `folder` whose name (a
// folder's name, an application's display name) equals `name` without
// regard to case, in the order EnumerateFolder lists the children (folders,
// then applications); the other children are not read. The caller compares
// each one's name exactly where case matters. With `count` not null,
// `*count` receives the number of children EnumerateFolder lists.
// Results: VORN_OK; VORN_E_FAILURE when `folder` names no folder or no farm
// is open; VORN_E_INVALIDVALUE for a null `name` or `ids`;
// VORN_E_OUTOFMEMORY. Outputs are written only on success.
FEROQ_SERVICES_API VSTATUS FindChildrenByName(VORN_PIF_ISubSystem* subsystem, ULONG64 folder, const char16_t* name,
                                              std::vector<ULONG64>* ids, std::size_t* count);

}  // namespace feroq

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
