// The process heap on Windows: zero-filled blocks from the system's process
// heap (HeapAlloc, HeapReAlloc and HeapFree with HEAP_ZERO_MEMORY), each
// behind a small header that records the requested size and marks the
// block as live, so that a foreign or released pointer is caught as on
// POSIX. A build with FEROQ_TESTING counts and fails allocations through
// heap_hooks.h.
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "platform/platform.h"
#include "platform/portable/heap_block.h"
#include "platform/portable/heap_hooks.h"
#include "platform/windows/system.h"

namespace feroq::platform {
namespace {

using heap_block::BlockHeader;
using heap_block::HeaderOf;
using heap_block::kFreedMagic;
using heap_block::kLiveMagic;
using heap_block::TotalSize;

using heap_hooks::CountAttemptAndCheckFailure;
using heap_hooks::CountLiveBlock;

}  // namespace

void* ProcessHeap() noexcept { return ::GetProcessHeap(); }

void* HeapAllocZero(std::size_t bytes) noexcept {
  if (CountAttemptAndCheckFailure()) return nullptr;
  std::size_t total = 0;
  if (!TotalSize(bytes, &total)) return nullptr;
  auto* header = static_cast<BlockHeader*>(::HeapAlloc(::GetProcessHeap(), HEAP_ZERO_MEMORY, total));
  if (header == nullptr) return nullptr;
  header->size = bytes;
  header->magic = kLiveMagic;
  CountLiveBlock(1);
  return header + 1;
}

void* HeapAllocUnfilled(std::size_t bytes) noexcept {
  if (CountAttemptAndCheckFailure()) return nullptr;
  std::size_t total = 0;
  if (!TotalSize(bytes, &total)) return nullptr;
  auto* header = static_cast<BlockHeader*>(::HeapAlloc(::GetProcessHeap(), 0, total));
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
  // HEAP_ZERO_MEMORY zero-fills what grows; on failure the old block stays.
  auto* moved = static_cast<BlockHeader*>(::HeapReAlloc(::GetProcessHeap(), HEAP_ZERO_MEMORY, header, total));
  if (moved == nullptr) return nullptr;
  moved->size = bytes;
  return moved + 1;
}

void HeapFree(void* block) noexcept {
  if (block == nullptr) return;
  BlockHeader* header = HeaderOf(block);
  header->magic = kFreedMagic;
  CountLiveBlock(-1);
  ::HeapFree(::GetProcessHeap(), 0, header);
}

std::size_t HeapBlockSize(const void* block) noexcept {
  if (block == nullptr) return 0;
  return HeaderOf(block)->size;
}

// The system heap keeps released blocks for reuse itself; none are kept here.
std::size_t HeapBytesKeptForReuse() noexcept { return 0; }

void ReleaseKeptHeapBlocks() noexcept {}

#if defined(FEROQ_TESTING)
std::size_t SetHeapReuseLimit(std::size_t bytes) noexcept {
  static std::atomic<std::size_t> limit{kHeapDefaultReuseLimit};
  return limit.exchange(bytes);
}
#endif

}  // namespace feroq::platform
