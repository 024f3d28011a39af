// The farm's directory services: folders, servers, and the RPC client's farm
// name and event queues.
#ifndef FEROQ_DIRECTORY_SERVICES_H_
#define FEROQ_DIRECTORY_SERVICES_H_

#include "feroq/services/service_base.h"
#include "feroq/services/vorn_system.h"

// The folder service: the tree of application folders. Refusals: 0x80160004
// (a move), 0x80160006 (a rename), 0x8016000C (a deletion). The rules are
// listed in the README's farm rules section.
class FEROQ_SERVICES_API VORNCommonApplicationSAL : public VORN_PIF_SAL {
 public:
  VORN_SERVICE_ALLOCATION(VORNCommonApplicationSAL)

  explicit VORNCommonApplicationSAL(VORN_PIF_ISubSystem* subsystem);
  ~VORNCommonApplicationSAL() override;

  VSTATUS GetRootFolderID(ULONG64& root);
  // The parent of `folder`; 0 for the root. Fails for an unknown folder.
  VSTATUS GetFolderParent(ULONG64 folder, ULONG64& parent);
  // `*name` receives the folder's name, owned by the service and released
  // with FreeMemory. Fails for an identifier that names no folder.
  VSTATUS GetFolderName(ULONG64 folder, char16_t** name);
  VSTATUS RenameFolder(ULONG64 folder, char16_t* name);
  VSTATUS CreateFolder(ULONG64 parent, char16_t* name, ULONG64& created);
  VSTATUS DeleteFolder(ULONG64 folder);
  // `*children` receives the identifiers of the folders and applications in
  // `folder` (folders first, each group in creation order), released with
  // FreeMemory; null when `count` is 0.
  VSTATUS EnumerateFolder(ULONG64 folder, ULONG64** children, ULONG& count);
  VSTATUS MoveFolder(ULONG64 folder, ULONG64 from, ULONG64 to);
  VSTATUS MoveApplication(ULONG64 application, ULONG64 from, ULONG64 to);
  // Releases a block this service handed out; null is accepted.
  VSTATUS FreeMemory(unsigned char* block);
};

// The server service.
class FEROQ_SERVICES_API VORN_ZQServerSAL : public VORN_PIF_SAL {
 public:
  VORN_SERVICE_ALLOCATION(VORN_ZQServerSAL)

  explicit VORN_ZQServerSAL(VORN_PIF_ISubSystem* subsystem);
  ~VORN_ZQServerSAL() override;

  // Server names compare without regard to case.
  VSTATUS GetUIDByName(char16_t* name, ULONG64& server);
  VSTATUS GetNameByUID(ULONG64 server, VORNString& name);
  // `count` and four arrays allocated with new[]: the names, the addresses
  // (one list per server), the zones (one list per server) and the versions.
  // The caller destroys all four with delete[].
  VSTATUS EnumerateAllServerAddresses(ULONG& count, VORNString*& names, VORNMultiString*& addresses,
                                      VORNMultiString*& zones, VORNString*& versions);
};

// The farm's name in the system's multibyte text and its length in bytes, the
// NUL counted; `name` is released with VORNFree_RPC_Mem.
FEROQ_SERVICES_API VSTATUS VORN_FarmName(ULONG& length, char*& name);

// Event queues (the change log's rules are in src/services/event_service.h).
//
// Answered by VORN_WaitGenericVORNEventQueue when its timeout ran out before
// an event the queue selects arrived.
namespace feroq {
constexpr VSTATUS VORN_E_WAIT_TIMEOUT = 0x801D1109u;
}  // namespace feroq

// Makes a queue and writes its handle (never 0) to `queue`. `filters` points
// at `count` packed 8-byte filter entries (constant 13, event identifier,
// filter value; little-endian); the queue selects the identifiers of the
// entries, and entries whose identifier is not a farm event identifier are
// ignored, so a queue may select nothing. `mode` is not interpreted. The
// queue sees the changes committed after it is made. VORN_E_INVALIDVALUE for
// null filters with a non-zero count; `queue` is written only on success.
FEROQ_SERVICES_API VSTATUS VORN_CreateGenericVORNEventQueue(const void* filters, ULONG count,
                                                           ULONG mode, LONG& queue);
// Deletes a queue. VORN_E_FAILURE for a handle that names no queue.
FEROQ_SERVICES_API VSTATUS VORN_DeleteGenericVORNEventQueue(LONG queue);
// Waits up to `timeout` milliseconds (any negative value: without bound; 0:
// only look) for the next event `queue` selects. On success `event` holds the
// event identifier, `a` the number of log entries the queue lost to the
// log's bound just before this one (normally 0), `b` 0, and `record` the
// packed event record, zero-padded to at least 26 bytes and followed by two
// zero bytes, to release with VORNFree_RPC_Mem. Failures deliver nothing
// (`record` null, the queue unchanged): VORN_E_WAIT_TIMEOUT when the time ran
// out, VORN_E_FAILURE for a handle that names no queue (also when the queue
// is deleted while the wait blocks: the wait notices within about a second),
// VORN_E_OUTOFMEMORY. Several threads may wait on one queue; each event goes
// to one of them.
FEROQ_SERVICES_API VSTATUS VORN_WaitGenericVORNEventQueue(LONG queue, LONG timeout, ULONG& a,
                                                         ULONG& event, ULONG& b, void*& record);
// Releases a farm name or an event record; null is accepted.
FEROQ_SERVICES_API void VORNFree_RPC_Mem(void* block);

#endif  // FEROQ_DIRECTORY_SERVICES_H_
