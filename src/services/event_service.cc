// The RPC client's event-queue functions and the farm's change log (rules in
// event_service.h).
//
// Waiting: look for the next selected entry after the queue's read position;
// if there is none, block in FarmStore::WaitForEventAfter until the log grows
// past the newest entry seen (a commit in this process wakes the waiter at
// once), for the remaining timeout but at most kQueueRecheckMs, then look
// again. A look that finds nothing pending is a read transaction; taking an
// entry is one write transaction (read position moved, record allocated; a
// failed allocation rolls the move back).
#include "services/event_service.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <new>

#include "feroq/services/directory_services.h"
#include "platform/platform.h"
#include "services/farm_connection.h"
#include "services/service_faults.h"

namespace feroq::services {
namespace {

using store::EventQueueRecord;
using store::EventRecord;
using store::FarmTxn;
using store::FarmView;

constexpr std::array<USHORT, 8> kFarmEventIds = {
    kEventFolderCreated,        kEventFolderRenamed,     kEventFolderMoved,
    kEventApplicationMoved,     kEventFolderDeleted,     kEventApplicationPublished,
    kEventApplicationDeleted,   kEventApplicationChanged};

constexpr std::size_t kFilterEntrySize = 8;
// The smallest record block handed out: the longest fixed layout (a move).
constexpr std::size_t kMinRecordBytes = 26;
// Entries read per page while scanning a queue's pending entries.
constexpr std::size_t kScanPage = 256;

#if defined(FEROQ_TESTING)
// What tests read back: the filters the last queue was made with, and how
// many waits are blocked now.
struct ReceivedFilters {
  std::mutex mutex;
  ReceivedQueueFilters last;
};

ReceivedFilters& TheReceivedFilters() {
  static auto* received = new ReceivedFilters;
  return *received;
}

// Keeps a copy of what VORN_CreateGenericVORNEventQueue received. Raises
// std::bad_alloc.
void RecordReceivedFilters(const BYTE* bytes, ULONG count, ULONG mode) {
  ReceivedFilters& received = TheReceivedFilters();
  std::lock_guard lock(received.mutex);
  received.last.count = count;
  received.last.mode = mode;
  received.last.entries.clear();
  if (bytes != nullptr) received.last.entries.assign(bytes, bytes + std::size_t{count} * kFilterEntrySize);
}

std::atomic<int> blocked_waits{0};

// Counts the calling thread as blocked for its lifetime.
class BlockedWaitScope {
 public:
  BlockedWaitScope() { blocked_waits.fetch_add(1); }
  ~BlockedWaitScope() { blocked_waits.fetch_sub(1); }
  BlockedWaitScope(const BlockedWaitScope&) = delete;
  BlockedWaitScope& operator=(const BlockedWaitScope&) = delete;
};
#else
void RecordReceivedFilters(const BYTE*, ULONG, ULONG) {}
class BlockedWaitScope {
 public:
  BlockedWaitScope() {}
  ~BlockedWaitScope() {}
  BlockedWaitScope(const BlockedWaitScope&) = delete;
  BlockedWaitScope& operator=(const BlockedWaitScope&) = delete;
};
#endif

void PutLittleEndian(std::vector<BYTE>& out, std::size_t offset, ULONG64 value, int bytes) {
  for (int i = 0; i < bytes; ++i) out[offset + i] = static_cast<BYTE>(value >> (8 * i));
}

USHORT ReadUShort(const BYTE* bytes) {
  return static_cast<USHORT>(bytes[0] | (bytes[1] << 8));
}

ULONG64 ReadULong64(const BYTE* bytes) {
  ULONG64 value = 0;
  for (int i = 7; i >= 0; --i) value = (value << 8) | bytes[i];
  return value;
}

// More folders above an object than this means the folders do not form a
// tree (the store does not enforce it); such a name is not made.
constexpr int kMaxFolderDepth = 100000;

// Appends between two looks for entries that no queue needs any more.
constexpr ULONG64 kTrimInterval = 64;

// Drops the entries beyond the bound and those older than every queue's
// read position, keeping the entry each queue's last wait delivered.
void TrimLog(FarmTxn& txn) {
  const ULONG64 newest = txn.LastEventSequence();
  ULONG64 needed_after = newest;
  for (const EventQueueRecord& queue : txn.ListEventQueues()) {
    needed_after = std::min(needed_after, queue.read_position);
    if (queue.delivered != 0) needed_after = std::min(needed_after, queue.delivered - 1);
  }
  const ULONG64 bound = newest > kMaxPendingEvents ? newest - kMaxPendingEvents : 0;
  const ULONG64 through = std::max(needed_after, bound);
  if (through > 0) txn.DeleteEventsThrough(through);
}

// What one look at a queue found.
struct Taken {
  void* block = nullptr;  // the record handed out, or null
  USHORT event_id = 0;
  ULONG lost = 0;
  ULONG64 newest_seen = 0;  // wait for entries after this one
};

// In a write transaction: moves `handle`'s read position past the entries it
// does not select up to (and including) the first it selects, and hands that
// one out in `taken->block`. VORN_E_FAILURE for an unknown queue;
// VORN_E_OUTOFMEMORY (rolling back) when the block cannot be allocated, in
// which case `taken->block` stays null.
VSTATUS TakeNextEvent(FarmTxn& txn, LONG handle, Taken* taken) {
  std::optional<EventQueueRecord> queue = txn.GetEventQueue(handle);
  if (!queue) return VORN_E_FAILURE;
  const ULONG64 newest = txn.LastEventSequence();
  taken->newest_seen = newest;
  const ULONG64 start = queue->read_position;
  ULONG64 position = start;
  std::optional<EventRecord> found;
  bool first_page = true;
  while (!found && position < newest) {
    std::vector<EventRecord> page = txn.EventsAfter(position, kScanPage);
    if (page.empty()) {
      // Every entry up to the newest was dropped: the queue lost them all.
      position = newest;
      break;
    }
    if (first_page && page.front().sequence > start + 1) {
      taken->lost = static_cast<ULONG>(std::min<ULONG64>(page.front().sequence - start - 1, 0xFFFFFFFFu));
    }
    first_page = false;
    for (EventRecord& entry : page) {
      position = entry.sequence;
      if (std::find(queue->event_ids.begin(), queue->event_ids.end(), entry.event_id) !=
          queue->event_ids.end()) {
        found = std::move(entry);
        break;
      }
    }
  }
  if (position == start) return VORN_OK;
  queue->read_position = position;
  queue->delivered = found ? found->sequence : 0;
  if (found) queue->last_wait = platform::WallClockSeconds();
  txn.PutEventQueue(*queue);
  TrimLog(txn);
  if (found) {
    const std::size_t size = std::max(found->record.size(), kMinRecordBytes) + 2;
    void* block = platform::HeapAllocZero(size);
    if (block == nullptr) return VORN_E_OUTOFMEMORY;
    if (!found->record.empty()) std::memcpy(block, found->record.data(), found->record.size());
    taken->block = block;
    taken->event_id = found->event_id;
  }
  return VORN_OK;
}

bool WaitIsStale(const EventQueueRecord& queue, ULONG64 now) {
  return now >= queue.last_wait + kQueueTouchSeconds;
}

// Whether `handle` names a queue with entries after its read position; the
// newest entry's sequence goes to `*newest`. A queue whose last wait is
// older than kQueueTouchSeconds gets the time of this one.
VSTATUS HasPending(store::FarmStore& farm, LONG handle, bool* pending, ULONG64* newest) {
  const ULONG64 now = platform::WallClockSeconds();
  bool stale = false;
  VSTATUS status = farm.Read([&](const FarmView& view) -> VSTATUS {
    std::optional<EventQueueRecord> queue = view.GetEventQueue(handle);
    if (!queue) return VORN_E_FAILURE;
    *newest = view.LastEventSequence();
    *pending = *newest > queue->read_position;
    stale = WaitIsStale(*queue, now);
    return VORN_OK;
  });
  if (status == VORN_OK && stale && !*pending) {
    // A failure here (a farm open for reading only) leaves the time as it
    // was; the wait goes on.
    farm.Write([&](FarmTxn& txn) -> VSTATUS {
      std::optional<EventQueueRecord> queue = txn.GetEventQueue(handle);
      if (!queue || !WaitIsStale(*queue, now)) return VORN_OK;
      queue->last_wait = now;
      txn.PutEventQueue(*queue);
      return VORN_OK;
    });
  }
  return status;
}

}  // namespace

bool IsFarmEventId(USHORT event_id) {
  return std::find(kFarmEventIds.begin(), kFarmEventIds.end(), event_id) != kFarmEventIds.end();
}

bool IsApplicationEventId(USHORT event_id) {
  return event_id == kEventApplicationMoved || event_id == kEventApplicationPublished ||
         event_id == kEventApplicationChanged || event_id == kEventApplicationDeleted;
}

std::optional<std::u16string> StoredDistinguishedName(const FarmView& farm, ULONG64 object,
                                                      bool application) {
  std::u16string own;
  ULONG64 parent = 0;
  if (application) {
    std::optional<store::ApplicationName> app = farm.GetApplicationName(object);
    if (!app) return std::nullopt;
    own = std::move(app->name);
    parent = app->folder_id;
  } else {
    std::optional<store::FolderRecord> folder = farm.GetFolder(object);
    if (!folder) return std::nullopt;
    own = std::move(folder->name);
    parent = folder->parent_id;
  }
  // The folders from the object's parent up to the root, nearest first.
  std::vector<std::u16string> path;
  for (int depth = 0; parent != 0; ++depth) {
    if (depth == kMaxFolderDepth) return std::nullopt;
    std::optional<store::FolderRecord> folder = farm.GetFolder(parent);
    if (!folder) return std::nullopt;
    path.push_back(std::move(folder->name));
    parent = folder->parent_id;
  }
  // Made in one block, without a string for each piece.
  std::size_t units = own.size() + 1;
  for (const std::u16string& name : path) units += name.size() + 1;
  std::u16string dn;
  dn.reserve(units);
  for (auto it = path.rbegin(); it != path.rend(); ++it) dn.append(1, u'\\').append(*it);
  dn.append(1, u'\\').append(own);
  return dn;
}

bool IsAbandonedQueue(const EventQueueRecord& queue, ULONG64 now) {
  if (!queue.owner_host.empty()) {
    const platform::ProcessIdentity owner{queue.owner_host, queue.owner_process, queue.owner_start};
    if (platform::CheckProcess(owner) == platform::ProcessState::kGone) return true;
  }
  return queue.last_wait != 0 && now >= queue.last_wait + kAbandonedQueueSeconds;
}

std::size_t ReclaimAbandonedEventQueues(store::FarmStore& farm) {
  try {
    const ULONG64 now = platform::WallClockSeconds();
    bool any = false;
    VSTATUS status = farm.Read([&](const FarmView& view) -> VSTATUS {
      for (const EventQueueRecord& queue : view.ListEventQueues()) any = any || IsAbandonedQueue(queue, now);
      return VORN_OK;
    });
    if (status != VORN_OK || !any) return 0;
    std::size_t removed = 0;
    status = farm.Write([&](FarmTxn& txn) -> VSTATUS {
      removed = 0;
      for (const EventQueueRecord& queue : txn.ListEventQueues()) {
        if (!IsAbandonedQueue(queue, now)) continue;
        txn.DeleteEventQueue(queue.handle);
        ++removed;
      }
      TrimLog(txn);
      return VORN_OK;
    });
    return status == VORN_OK ? removed : 0;
  } catch (const std::bad_alloc&) {
    return 0;
  }
}

void AppendFarmEvent(FarmTxn& txn, USHORT event_id, const std::vector<BYTE>& record) {
  std::optional<std::u16string> dn;
  if (record.size() >= 10) dn = StoredDistinguishedName(txn, ReadULong64(record.data() + 2), IsApplicationEventId(event_id));
  const ULONG64 sequence = txn.AppendEvent(event_id, record, dn);
  // The bound holds after every append (at most one entry falls out of it
  // per append, a one-row delete); entries that no queue needs any more are
  // looked for only every kTrimInterval appends, and whenever a queue reads
  // or goes.
  if (sequence % kTrimInterval == 0) {
    TrimLog(txn);
  } else if (sequence > kMaxPendingEvents) {
    txn.DeleteEventsThrough(sequence - kMaxPendingEvents);
  }
}

std::vector<BYTE> ObjectEventRecord(ULONG64 object) {
  std::vector<BYTE> record(10, 0);
  PutLittleEndian(record, 2, object, 8);
  return record;
}

std::vector<BYTE> MoveEventRecord(ULONG64 object, ULONG64 old_folder, ULONG64 new_folder) {
  std::vector<BYTE> record(26, 0);
  PutLittleEndian(record, 2, object, 8);
  PutLittleEndian(record, 10, old_folder, 8);
  PutLittleEndian(record, 18, new_folder, 8);
  return record;
}

std::vector<BYTE> RenameEventRecord(ULONG64 folder, const std::u16string& old_name) {
  std::vector<BYTE> record(10 + 2 * (old_name.size() + 1), 0);
  PutLittleEndian(record, 2, folder, 8);
  for (std::size_t i = 0; i < old_name.size(); ++i) {
    PutLittleEndian(record, 10 + 2 * i, old_name[i], 2);
  }
  return record;
}

void AppendApplicationWritten(FarmTxn& txn, ULONG64 application, std::optional<ULONG64> old_folder,
                              ULONG64 new_folder) {
  if (!old_folder) {
    AppendFarmEvent(txn, kEventApplicationPublished, ObjectEventRecord(application));
    return;
  }
  if (*old_folder != new_folder) {
    AppendFarmEvent(txn, kEventApplicationMoved, MoveEventRecord(application, *old_folder, new_folder));
  }
  AppendFarmEvent(txn, kEventApplicationChanged, ObjectEventRecord(application));
}

#if defined(FEROQ_TESTING)
ReceivedQueueFilters LastReceivedQueueFilters() {
  ReceivedFilters& received = TheReceivedFilters();
  std::lock_guard lock(received.mutex);
  return received.last;
}

std::shared_ptr<store::FarmStore> EventStore(VSTATUS* status) { return CurrentStore(status); }

int BlockedEventWaits() { return blocked_waits.load(); }
#endif

}  // namespace feroq::services

using feroq::services::EnterServiceCall;

VSTATUS VORN_CreateGenericVORNEventQueue(const void* filters, ULONG count, ULONG mode, LONG& queue) {
  if (VSTATUS s = EnterServiceCall("VORN_CreateGenericVORNEventQueue")) return s;
  try {
    const auto* bytes = static_cast<const BYTE*>(filters);
    feroq::services::RecordReceivedFilters(bytes, count, mode);
    if (bytes == nullptr && count != 0) return feroq::VORN_E_INVALIDVALUE;

    std::vector<USHORT> selected;  // in entry order, each once
    for (ULONG i = 0; i < count; ++i) {
      const USHORT id = feroq::services::ReadUShort(bytes + i * feroq::services::kFilterEntrySize + 2);
      if (!feroq::services::IsFarmEventId(id)) continue;
      if (std::find(selected.begin(), selected.end(), id) == selected.end()) selected.push_back(id);
    }

    VSTATUS status = feroq::VORN_OK;
    std::shared_ptr<feroq::store::FarmStore> farm = feroq::services::CurrentStore(&status);
    if (!farm) return status != feroq::VORN_OK ? status : feroq::VORN_E_FAILURE;
    const feroq::platform::ProcessIdentity owner = feroq::platform::CurrentProcessIdentity();
    LONG handle = 0;
    status = farm->Write([&](feroq::store::FarmTxn& txn) -> VSTATUS {
      handle = txn.AllocateEventQueueHandle();
      feroq::store::EventQueueRecord record{handle, selected, txn.LastEventSequence()};
      record.owner_host = owner.host;
      record.owner_process = owner.process;
      record.owner_start = owner.start;
      record.last_wait = feroq::platform::WallClockSeconds();
      txn.PutEventQueue(record);
      return feroq::VORN_OK;
    });
    if (status == feroq::VORN_OK) queue = handle;
    return status;
  } catch (const std::bad_alloc&) {
    return feroq::VORN_E_OUTOFMEMORY;
  }
}

VSTATUS VORN_DeleteGenericVORNEventQueue(LONG queue) {
  if (VSTATUS s = EnterServiceCall("VORN_DeleteGenericVORNEventQueue")) return s;
  try {
    VSTATUS status = feroq::VORN_OK;
    std::shared_ptr<feroq::store::FarmStore> farm = feroq::services::CurrentStore(&status);
    if (!farm) return status != feroq::VORN_OK ? status : feroq::VORN_E_FAILURE;
    return farm->Write([&](feroq::store::FarmTxn& txn) -> VSTATUS {
      if (!txn.GetEventQueue(queue)) return feroq::VORN_E_FAILURE;
      txn.DeleteEventQueue(queue);
      feroq::services::TrimLog(txn);
      return feroq::VORN_OK;
    });
  } catch (const std::bad_alloc&) {
    return feroq::VORN_E_OUTOFMEMORY;
  }
}

VSTATUS VORN_WaitGenericVORNEventQueue(LONG queue, LONG timeout, ULONG& a, ULONG& event, ULONG& b,
                                       void*& record) {
  using Clock = std::chrono::steady_clock;
  record = nullptr;
  if (VSTATUS s = EnterServiceCall("VORN_WaitGenericVORNEventQueue")) return s;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(std::max<LONG>(timeout, 0));
  feroq::services::Taken taken;
  try {
    VSTATUS status = feroq::VORN_OK;
    std::shared_ptr<feroq::store::FarmStore> farm = feroq::services::CurrentStore(&status);
    if (!farm) return status != feroq::VORN_OK ? status : feroq::VORN_E_FAILURE;
    for (;;) {
      bool pending = false;
      ULONG64 newest = 0;
      status = feroq::services::HasPending(*farm, queue, &pending, &newest);
      if (status != feroq::VORN_OK) return status;
      if (pending) {
        taken = feroq::services::Taken{};
        status = farm->Write([&](feroq::store::FarmTxn& txn) -> VSTATUS {
          // A farm on a database server runs this again after a collision
          // with another writer: the block of the run it rolled back goes.
          feroq::platform::HeapFree(taken.block);
          taken = feroq::services::Taken{};
          return feroq::services::TakeNextEvent(txn, queue, &taken);
        });
        if (status != feroq::VORN_OK) {
          // A commit that failed after the block was made takes it back.
          feroq::platform::HeapFree(taken.block);
          return status;
        }
        if (taken.block != nullptr) {
          record = taken.block;
          event = taken.event_id;
          a = taken.lost;
          b = 0;
          return feroq::VORN_OK;
        }
        newest = taken.newest_seen;
      }
      if (timeout == 0) return feroq::VORN_E_WAIT_TIMEOUT;
      LONG slice = feroq::services::kQueueRecheckMs;
      if (timeout > 0) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) return feroq::VORN_E_WAIT_TIMEOUT;
        slice = static_cast<LONG>(std::min<long long>(left, slice));
      }
      feroq::services::BlockedWaitScope blocked;
      farm->WaitForEventAfter(newest, slice);
    }
  } catch (const std::bad_alloc&) {
    return feroq::VORN_E_OUTOFMEMORY;
  }
}
