// The event table: the one constant mapping between the public event mask
// bits and the event service's identifiers, used to build a queue's filter
// entries and to turn a delivered event back into its mask bit.
//
// Mask bits (identifier; what the event is about):
//   0x10  0x1000 folder created      0x100  0x1100 application published
//   0x20  0x1004 folder deleted      0x200  0x1102 application deleted
//   0x40  0x1001 folder renamed      0x400  0x1101 application changed
//   0x80  0x1002 folder moved        0x800  0x1003 application moved
// Other mask bits are ignored; 0xFF0 selects every event.
#ifndef FEROQ_EVENTS_EVENT_TABLE_H_
#define FEROQ_EVENTS_EVENT_TABLE_H_

#include <cstddef>

#include "feroq/types.h"

namespace feroq::events {

struct EventTableRow {
  ULONG mask;
  USHORT event_id;
  ULONG filter;
};

// The eight rows in table order, then a row of zeros that ends the table.
extern const EventTableRow kEventTable[9];

inline constexpr ULONG kFolderCreatedMask = 0x10;
inline constexpr ULONG kFolderDeletedMask = 0x20;
inline constexpr ULONG kFolderRenamedMask = 0x40;
inline constexpr ULONG kFolderMovedMask = 0x80;
inline constexpr ULONG kAppPublishedMask = 0x100;
inline constexpr ULONG kAppDeletedMask = 0x200;
inline constexpr ULONG kAppChangedMask = 0x400;
inline constexpr ULONG kAppMovedMask = 0x800;
inline constexpr ULONG kAllEventMasks = 0xFF0;

// Filter entries: 8 bytes each, packed little-endian (u16 13, u16 event
// identifier, u32 filter value), built in a zero-filled buffer of 256 bytes.
inline constexpr std::size_t kFilterEntrySize = 8;
inline constexpr std::size_t kFilterBufferSize = 256;
inline constexpr USHORT kFilterEntryTag = 13;

// Writes one entry per mask bit of `mask` that the table holds, in ascending
// order of mask bit, from the start of `buffer` (at least kFilterBufferSize
// bytes; the bytes after the entries are left as they are), and their number
// to `*count`.
void MaskToEventFilters(ULONG mask, BYTE* buffer, ULONG* count);

// The mask bit of the first row with identifier `event_id`; 0 when no row
// has it.
ULONG EventIdToMask(USHORT event_id);

}  // namespace feroq::events

#endif  // FEROQ_EVENTS_EVENT_TABLE_H_
