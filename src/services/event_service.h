// The farm's change log and event queues, as the stand-in services keep them
// in the farm store.
//
// The change log. Every change made through the services appends, inside the
// same store transaction as the change (so in commit order, and rolled back
// with it), one entry per event:
//   0x1000 folder created       CreateFolder
//   0x1001 folder renamed       RenameFolder (not when the name is unchanged);
//                               the record carries the OLD name
//   0x1002 folder moved         MoveFolder to another folder
//   0x1004 folder deleted       DeleteFolder
//   0x1100 application published  ZQAppSAL::Write with identifier 0
//   0x1101 application changed  ZQAppSAL::Write of a stored application
//   0x1102 application deleted  ZQAppSAL::Delete
//   0x1003 application moved    MoveApplication to another folder, and a
//                               Write that changes the application's folder
//                               (appended first, then 0x1101)
// Records are packed little-endian: offset 0, 2 bytes (0); offset 2, u64
// object identifier; for 0x1002 and 0x1003 offset 10, u64 old folder and
// offset 18, u64 new folder; for 0x1001 offset 10, the old name as a
// NUL-terminated UTF-16 string.
// Beside its record every entry keeps the distinguished name its folder or
// application had as of the change: after a publish, change, rename, move
// or creation, the name it then had; for a delete, the name it had just
// before. A watcher that falls behind still learns what the change was
// about (FarmAdmin::GetDeliveredEvent) when the object has since been
// renamed or deleted.
//
// Queues. A queue holds the event identifiers it selects and a read position
// (the sequence of the last log entry it has passed). It starts at the log's
// newest entry when it is made, so it sees only later changes. A wait
// delivers the oldest entry after the read position whose identifier the
// queue selects and moves the read position to it, in one store write, so
// an entry is delivered once even to several threads waiting on one queue.
// The queue remembers the entry its last wait delivered, which the log keeps
// until the queue moves on.
//
// Owners. A queue records the process that made it (host name, process
// number, start token) and when it was last waited on. A queue is abandoned
// when its owner ran on this host and has ended (killed, crashed, or gone
// without DeleteGenericVORNEventQueue), or when nobody has waited on it for
// kAbandonedQueueSeconds (an owner on another host, or one whose process
// number now belongs to another process). Opening a farm removes its
// abandoned queues, so that a killed watcher does not keep the log from
// being trimmed; a later wait on a removed queue fails (VORN_E_FAILURE).
//
// The bound. The log keeps at most kMaxPendingEvents entries: appending
// beyond that drops the oldest entry, whether or not a queue has read it.
// A queue that falls further behind therefore loses its oldest unread
// entries; its next wait delivers the oldest selected entry still kept and
// reports, in the wait's first output (`a`), how many log entries the queue
// lost just before that entry. Entries older than every queue's read
// position are dropped as well (with no queue, the log keeps nothing): when
// a queue reads or goes, and every 64 appends in between.
#ifndef FEROQ_SERVICES_EVENT_SERVICE_H_
#define FEROQ_SERVICES_EVENT_SERVICE_H_

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "feroq/services/service_codes.h"
#include "feroq/types.h"
#include "services/store/farm_store.h"

namespace feroq::services {

inline constexpr USHORT kEventFolderCreated = 0x1000;
inline constexpr USHORT kEventFolderRenamed = 0x1001;
inline constexpr USHORT kEventFolderMoved = 0x1002;
inline constexpr USHORT kEventApplicationMoved = 0x1003;
inline constexpr USHORT kEventFolderDeleted = 0x1004;
inline constexpr USHORT kEventApplicationPublished = 0x1100;
inline constexpr USHORT kEventApplicationDeleted = 0x1102;
inline constexpr USHORT kEventApplicationChanged = 0x1101;

// The most log entries kept, and so the most a queue can have pending.
inline constexpr ULONG64 kMaxPendingEvents = 10000;

// A wait without bound (or a long one) looks again at least this often, so
// that it ends (VORN_E_FAILURE) soon after its queue is deleted.
inline constexpr LONG kQueueRecheckMs = 1000;

// A queue nobody has waited on for this long (a day) is abandoned.
inline constexpr ULONG64 kAbandonedQueueSeconds = 24 * 60 * 60;
// A wait that finds nothing refreshes its queue's last wait when the stored
// time is at least this old (an hour), so that idle waiting writes rarely.
inline constexpr ULONG64 kQueueTouchSeconds = 60 * 60;

// Whether `event_id` is one the services append (the list above).
bool IsFarmEventId(USHORT event_id);
// Whether `event_id` is about an application (0x1003, 0x1100..0x1102)
// rather than a folder.
bool IsApplicationEventId(USHORT event_id);

// The distinguished name of `object`, an application when `application` is
// set and a folder otherwise, as `farm` holds it now, in the form the
// library builds (a backslash and the root folder's name, one component per
// folder below it, the object's own name; for the root folder a backslash
// and its name). None when the object, or a folder on its path, is missing.
// Raises std::bad_alloc.
std::optional<std::u16string> StoredDistinguishedName(const store::FarmView& farm, ULONG64 object,
                                                      bool application);

// Whether `queue` is abandoned (see Owners above) at `now`, seconds since
// 1970 UTC. A queue without a known owner or time is abandoned only by what
// is known of it.
FEROQ_SERVICES_API bool IsAbandonedQueue(const store::EventQueueRecord& queue, ULONG64 now);

// Removes the abandoned queues of `farm` and trims the log they held back.
// Looks in a read transaction and writes only when it found one. Returns how
// many queues it removed; a failure (a farm open for reading only, a busy
// farm, no memory) removes none and is not reported.
FEROQ_SERVICES_API std::size_t ReclaimAbandonedEventQueues(store::FarmStore& farm);

// Appends an entry to the log of `txn`, with the distinguished name the
// record's object has in `txn` now, and drops the entries no longer kept
// (see the bound above). A delete appends its entry before it removes the
// object, so that the name is the one the object had. Raises std::bad_alloc.
FEROQ_SERVICES_API void AppendFarmEvent(store::FarmTxn& txn, USHORT event_id,
                                        const std::vector<BYTE>& record);

// The record builders and appenders the services use.
std::vector<BYTE> ObjectEventRecord(ULONG64 object);
std::vector<BYTE> MoveEventRecord(ULONG64 object, ULONG64 old_folder, ULONG64 new_folder);
std::vector<BYTE> RenameEventRecord(ULONG64 folder, const std::u16string& old_name);
// The entries of a ZQAppSAL::Write of `application`, now in `new_folder`:
// `old_folder` is the folder it was stored in before, or none when the write
// published it.
void AppendApplicationWritten(store::FarmTxn& txn, ULONG64 application,
                              std::optional<ULONG64> old_folder, ULONG64 new_folder);

// ---- Test hooks (a build with FEROQ_TESTING only) ----
#if defined(FEROQ_TESTING)

// What the most recent VORN_CreateGenericVORNEventQueue call of this process
// received (recorded before any check): `count` filter entries, copied as
// raw bytes (8 per entry), and the mode argument.
struct ReceivedQueueFilters {
  std::vector<BYTE> entries;
  ULONG count = 0;
  ULONG mode = 0;
};
FEROQ_SERVICES_API ReceivedQueueFilters LastReceivedQueueFilters();

// The store the event functions use now (the connected farm, or the farm
// FEROQ_FARM names). Null with a code in `*status` when it cannot be opened.
FEROQ_SERVICES_API std::shared_ptr<store::FarmStore> EventStore(VSTATUS* status);

// How many threads are blocked in VORN_WaitGenericVORNEventQueue, waiting for
// the log to grow, right now.
FEROQ_SERVICES_API int BlockedEventWaits();
#endif  // FEROQ_TESTING

}  // namespace feroq::services

#endif  // FEROQ_SERVICES_EVENT_SERVICE_H_
