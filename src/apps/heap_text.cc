#include "apps/heap_text.h"

#include <cstring>

#include "platform/platform.h"

namespace feroq {

std::size_t TextLength(const char16_t* text) {
  if (text == nullptr) return 0;
  std::size_t length = 0;
  while (text[length] != u'\0') ++length;
  return length;
}

char16_t* CopyTextToHeap(const char16_t* text) {
  const std::size_t length = TextLength(text);
  auto* block = static_cast<char16_t*>(platform::HeapAllocZero((length + 1) * sizeof(char16_t)));
  if (block == nullptr) return nullptr;
  if (length != 0) std::memcpy(block, text, length * sizeof(char16_t));
  return block;  // zero-filled, so the NUL is in place
}

}  // namespace feroq
