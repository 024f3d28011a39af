// FarmObject::CreateEventQueue and DeleteEventQueue: public mask bits turned
// into the event service's filter entries. Neither uses any state of the
// farm object; a queue is known only by its handle and outlives the farm
// object.
#include "events/event_table.h"
#include "farm/service_status.h"
#include "feroq/services/directory_services.h"
#include "feroq/farm_object.h"

// `masks` null selects every event; otherwise the first `count` masks are
// combined (count 0 or less: none). A mask without any of the eight bits
// still makes a queue, which receives nothing. `*queue` is written only with
// S_OK.
HRESULT FarmObject::CreateEventQueue(LONG* masks, LONG count, LONG* queue) {
  if (queue == nullptr) return E_INVALIDARG;
  BYTE entries[feroq::events::kFilterBufferSize] = {};
  ULONG combined = 0;
  if (masks == nullptr) {
    combined = feroq::events::kAllEventMasks;
  } else {
    for (LONG i = 0; i < count; ++i) combined |= static_cast<ULONG>(masks[i]);
  }
  ULONG entry_count = 0;
  feroq::events::MaskToEventFilters(combined, entries, &entry_count);
  return feroq::MapServiceStatus(VORN_CreateGenericVORNEventQueue(entries, entry_count, 1, *queue),
                                 feroq::kOutOfMemoryStatus);
}

HRESULT FarmObject::DeleteEventQueue(LONG queue) {
  if (queue == 0) return E_INVALIDARG;
  return feroq::MapServiceStatus(VORN_DeleteGenericVORNEventQueue(queue), feroq::kOutOfMemoryStatus);
}
