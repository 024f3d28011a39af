#include "apps/heap_text.h"

#include <cstring>

#include "platform/platform.h"

namespace feroq {

std::size_t TextLength(const WCHAR* text) {
  if (text == nullptr) return 0;
  std::size_t length = 0;
  while (text[length] != u'\0') ++length;
  return length;
}

WCHAR* CopyTextToHeap(const WCHAR* text) {
  const std::size_t length = TextLength(text);
  auto* block = static_cast<WCHAR*>(platform::HeapAllocZero((length + 1) * sizeof(WCHAR)));
  if (block == nullptr) return nullptr;
  if (length != 0) std::memcpy(block, text, length * sizeof(WCHAR));
  return block;  // zero-filled, so the NUL is in place
}

}  // namespace feroq
