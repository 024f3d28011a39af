// The event table and the conversions in both directions.
#include "events/event_table.h"

namespace feroq::events {
namespace {

void PutLittleEndian(BYTE* out, ULONG value, int bytes) {
  for (int i = 0; i < bytes; ++i) out[i] = static_cast<BYTE>(value >> (8 * i));
}

}  // namespace

const EventTableRow kEventTable[9] = {
    {kFolderCreatedMask, 0x1000, 3}, {kFolderDeletedMask, 0x1004, 3},
    {kFolderRenamedMask, 0x1001, 3}, {kFolderMovedMask, 0x1002, 3},
    {kAppPublishedMask, 0x1100, 3},  {kAppDeletedMask, 0x1102, 3},
    {kAppChangedMask, 0x1101, 3},    {kAppMovedMask, 0x1003, 3},
    {0, 0, 0},
};

void MaskToEventFilters(ULONG mask, BYTE* buffer, ULONG* count) {
  *count = 0;
  for (ULONG bit = kFolderCreatedMask; bit <= kAppMovedMask; bit <<= 1) {
    if ((mask & bit) == 0) continue;
    const EventTableRow* row = kEventTable;
    while (row->mask != 0 && row->mask != bit) ++row;
    if (row->mask == 0) continue;
    BYTE* entry = buffer + *count * kFilterEntrySize;
    PutLittleEndian(entry, kFilterEntryTag, 2);
    PutLittleEndian(entry + 2, row->event_id, 2);
    PutLittleEndian(entry + 4, row->filter, 4);
    ++*count;
  }
}

ULONG EventIdToMask(USHORT event_id) {
  const EventTableRow* row = kEventTable;
  while (row->mask != 0 && row->event_id != event_id) ++row;
  return row->mask;
}

}  // namespace feroq::events
