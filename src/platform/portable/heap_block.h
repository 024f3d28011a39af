// The header every platform's heap puts in front of each block it hands
// out: the requested size and a mark that tells a live block from a
// foreign or released pointer.
#ifndef FEROQ_PLATFORM_PORTABLE_HEAP_BLOCK_H_
#define FEROQ_PLATFORM_PORTABLE_HEAP_BLOCK_H_

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace feroq::platform::heap_block {

// 16 bytes on every target (the mark at offset 8 also where a size is 4
// bytes), so the caller's bytes keep the alignment the system allocator
// gives its own blocks.
struct BlockHeader {
  std::size_t size;
  alignas(8) std::uint64_t magic;
};
static_assert(sizeof(BlockHeader) == 16);

constexpr std::uint64_t kLiveMagic = 0x66657271'48656170ull;  // "ferqHeap"
constexpr std::uint64_t kFreedMagic = 0x66726565'64426c6bull;

// The header of a block this heap handed out; aborts on any other pointer,
// as continuing would corrupt memory silently.
inline BlockHeader* HeaderOf(const void* block) noexcept {
  auto* header = const_cast<BlockHeader*>(static_cast<const BlockHeader*>(block) - 1);
  if (header->magic != kLiveMagic) {
    std::fprintf(stderr, "feroq heap: invalid or released block %p\n", block);
    std::abort();
  }
  return header;
}

// The allocation size for `bytes` of the caller's; false when it overflows.
inline bool TotalSize(std::size_t bytes, std::size_t* total) noexcept {
  if (bytes > SIZE_MAX - sizeof(BlockHeader)) return false;
  *total = bytes + sizeof(BlockHeader);
  return true;
}

}  // namespace feroq::platform::heap_block

#endif  // FEROQ_PLATFORM_PORTABLE_HEAP_BLOCK_H_
