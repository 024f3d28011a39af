// The process heap on POSIX: zero-filled blocks from the C allocator, each
// behind a small header that records the requested size. A build with
// FEROQ_TESTING counts and fails allocations through heap_hooks.h.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/platform.h"
#include "platform/portable/heap_block.h"
#include "platform/portable/heap_hooks.h"

namespace feroq::platform {
namespace {

using heap_block::BlockHeader;
using heap_block::HeaderOf;
using heap_block::kFreedMagic;
using heap_block::kLiveMagic;
using heap_block::TotalSize;

// Identity of the heap handed out by ProcessHeap.
struct ProcessHeapTag {
  int unused;
} g_process_heap;

using heap_hooks::CountAttemptAndCheckFailure;
using heap_hooks::CountLiveBlock;

}  // namespace

void* ProcessHeap() noexcept { return &g_process_heap; }

void* HeapAllocZero(std::size_t bytes) noexcept {
  if (CountAttemptAndCheckFailure()) return nullptr;
  std::size_t total = 0;
  if (!TotalSize(bytes, &total)) return nullptr;
  auto* header = static_cast<BlockHeader*>(std::calloc(1, total));
  if (header == nullptr) return nullptr;
  header->size = bytes;
  header->magic = kLiveMagic;
  CountLiveBlock(1);
  return header + 1;
}

void* HeapReAllocZero(void* block, std::size_t bytes) noexcept {
  if (block == nullptr) return HeapAllocZero(bytes);
  BlockHeader* header = HeaderOf(block);
  if (CountAttemptAndCheckFailure()) return nullptr;
  std::size_t total = 0;
  if (!TotalSize(bytes, &total)) return nullptr;
  const std::size_t old_size = header->size;
  auto* moved = static_cast<BlockHeader*>(std::realloc(header, total));
  if (moved == nullptr) return nullptr;  // realloc keeps the old block intact
  if (bytes > old_size) std::memset(reinterpret_cast<char*>(moved + 1) + old_size, 0, bytes - old_size);
  moved->size = bytes;
  return moved + 1;
}

void HeapFree(void* block) noexcept {
  if (block == nullptr) return;
  BlockHeader* header = HeaderOf(block);
  header->magic = kFreedMagic;
  CountLiveBlock(-1);
  std::free(header);
}

std::size_t HeapBlockSize(const void* block) noexcept {
  if (block == nullptr) return 0;
  return HeaderOf(block)->size;
}

}  // namespace feroq::platform
