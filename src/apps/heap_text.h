// Copies of wide strings on the heap that blocks handed to a tool come from.
#ifndef FEROQ_APPS_HEAP_TEXT_H_
#define FEROQ_APPS_HEAP_TEXT_H_

#include <cstddef>

#include "feroq/types.h"

namespace feroq {

// Number of UTF-16 units before the NUL; 0 for null.
std::size_t TextLength(const char16_t* text);

// True when `text` is non-null and holds at least one unit.
inline bool HasText(const char16_t* text) { return text != nullptr && text[0] != u'\0'; }

// A new zero-filled heap block holding `text` and its NUL, exactly that long
// (null `text` copies as the empty string). Null when the heap refuses. The
// caller releases it with FarmObject::FreeMemory.
char16_t* CopyTextToHeap(const char16_t* text);

}  // namespace feroq

#endif  // FEROQ_APPS_HEAP_TEXT_H_
