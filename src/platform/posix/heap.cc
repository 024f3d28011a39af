// The process heap on POSIX: zero-filled blocks from the C allocator, each
// behind a small header that records the requested size. A build with
// FEROQ_TESTING counts and fails allocations through heap_hooks.h.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/platform.h"
#include "platform/portable/heap_hooks.h"

namespace feroq::platform {
namespace {

// Sits in front of every block. Its size keeps the caller's bytes aligned
// as malloc's are (16 bytes on the supported targets).
struct alignas(16) BlockHeader {
  std::size_t size;
  std::uint64_t magic;
};
constexpr std::uint64_t kLiveMagic = 0x66657271'48656170ull;  // "ferqHeap"
constexpr std::uint64_t kFreedMagic = 0x66726565'64426c6bull;

// Identity of the heap handed out by ProcessHeap.
struct ProcessHeapTag {
  int unused;
} g_process_heap;

using heap_hooks::CountAttemptAndCheckFailure;
using heap_hooks::CountLiveBlock;

BlockHeader* HeaderOf(const void* block) noexcept {
  auto* header = const_cast<BlockHeader*>(static_cast<const BlockHeader*>(block) - 1);
  if (header->magic != kLiveMagic) {
    // A pointer that this heap did not hand out, or one already released:
    // continuing would corrupt memory silently.
    std::fprintf(stderr, "feroq heap: invalid or released block %p\n", block);
    std::abort();
  }
  return header;
}

bool TotalSize(std::size_t bytes, std::size_t* total) noexcept {
  if (bytes > SIZE_MAX - sizeof(BlockHeader)) return false;
  *total = bytes + sizeof(BlockHeader);
  return true;
}

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
