// The process heap on Windows: zero-filled blocks from the system's process
// heap (HeapAlloc, HeapReAlloc and HeapFree with HEAP_ZERO_MEMORY), each
// behind a small header that records the requested size and marks the
// block as live, so that a foreign or released pointer is caught as on
// POSIX. A build with FEROQ_TESTING counts and fails allocations through
// heap_hooks.h.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "platform/platform.h"
#include "platform/portable/heap_hooks.h"
#include "platform/windows/system.h"

namespace feroq::platform {
namespace {

// Sits in front of every block; 16 bytes on both targets, so the caller's
// bytes keep the alignment the system heap gives (8 bytes on 32-bit
// Windows, 16 on 64-bit).
struct BlockHeader {
  std::size_t size;
  std::uint64_t magic;
};
static_assert(sizeof(BlockHeader) == 16);
constexpr std::uint64_t kLiveMagic = 0x66657271'48656170ull;  // "ferqHeap"
constexpr std::uint64_t kFreedMagic = 0x66726565'64426c6bull;

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

}  // namespace feroq::platform
