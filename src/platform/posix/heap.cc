// The process heap on POSIX: zero-filled blocks (unfilled ones from
// HeapAllocUnfilled) from the C allocator, each behind a small header that
// records the requested size. A build with
// FEROQ_TESTING counts and fails allocations through heap_hooks.h.
//
// Released blocks are kept for reuse, as a Windows heap keeps them: a block
// of up to kHeapLargestKeptBlock bytes, header included, belongs to a size
// class (16-byte steps up to 1 KiB, then four classes to each doubling) and
// is always allocated with its class's whole capacity, so that any block of
// the class can serve any request of the class. HeapFree puts it on the
// releasing thread's list for its class while the bytes kept by all
// threads stay within the reuse limit; HeapAllocZero takes a block from the
// calling thread's list before it asks the C library. Without this, a
// program that releases a large listing and makes it again pays for the
// C library trimming the freed pages back to the system and the kernel
// faulting them in again.
//
// The lists are per thread, so that neither releasing nor reusing takes a
// lock (see "The kept blocks" for how the limit is shared). A thread's
// lists go back to the C library when it ends. A kept block keeps the released mark in its header (a second
// HeapFree of it is still caught) and its header's size field links it to
// the next block of its list.
#include <atomic>
#include <bit>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/platform.h"
#include "platform/portable/heap_block.h"
#include "platform/portable/heap_hooks.h"

#if defined(__SANITIZE_ADDRESS__)
#define FEROQ_HEAP_POISONS 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define FEROQ_HEAP_POISONS 1
#endif
#endif
#if defined(FEROQ_HEAP_POISONS)
#include <sanitizer/asan_interface.h>
#endif

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

// ---- Size classes ----------------------------------------------------------

constexpr std::size_t kSmallStep = 16;
constexpr std::size_t kSmallLimit = 1024;
constexpr int kSmallClasses = static_cast<int>(kSmallLimit / kSmallStep);
constexpr int kClassesPerDoubling = 4;
constexpr int kLargeDoublings = std::countr_zero(kHeapLargestKeptBlock) - std::countr_zero(kSmallLimit);
constexpr int kClasses = kSmallClasses + kLargeDoublings * kClassesPerDoubling;
constexpr int kNoClass = -1;

// The class of a block of `total` bytes (header included, so at least 16),
// or kNoClass when it is too large to keep.
constexpr int ClassOf(std::size_t total) {
  if (total <= kSmallLimit) return static_cast<int>((total + kSmallStep - 1) / kSmallStep) - 1;
  if (total > kHeapLargestKeptBlock) return kNoClass;
  // 2^doubling < total <= 2^(doubling + 1)
  const int doubling = static_cast<int>(std::bit_width(total - 1)) - 1;
  const std::size_t base = std::size_t{1} << doubling;
  const std::size_t step = base / kClassesPerDoubling;
  const int within = static_cast<int>((total - 1 - base) / step);
  return kSmallClasses + (doubling - std::countr_zero(kSmallLimit)) * kClassesPerDoubling + within;
}

// The bytes every block of class `size_class` is allocated with.
constexpr std::size_t ClassCapacity(int size_class) {
  if (size_class < kSmallClasses) return (static_cast<std::size_t>(size_class) + 1) * kSmallStep;
  const int large = size_class - kSmallClasses;
  const std::size_t base = kSmallLimit << (large / kClassesPerDoubling);
  return base + (static_cast<std::size_t>(large % kClassesPerDoubling) + 1) * (base / kClassesPerDoubling);
}

static_assert(ClassOf(16) == 0 && ClassCapacity(0) == 16);
static_assert(ClassOf(17) == 1 && ClassCapacity(1) == 32);
static_assert(ClassOf(1024) == kSmallClasses - 1 && ClassCapacity(kSmallClasses - 1) == 1024);
static_assert(ClassOf(1025) == kSmallClasses && ClassCapacity(kSmallClasses) == 1280);
static_assert(ClassOf(2048) == kSmallClasses + 3 && ClassCapacity(kSmallClasses + 3) == 2048);
static_assert(ClassOf(2049) == kSmallClasses + 4 && ClassCapacity(kSmallClasses + 4) == 2560);
static_assert(ClassOf(kHeapLargestKeptBlock) == kClasses - 1 && ClassCapacity(kClasses - 1) == kHeapLargestKeptBlock);
static_assert(ClassOf(kHeapLargestKeptBlock + 1) == kNoClass);

// ---- What the sanitizer may see ---------------------------------------------
// Under AddressSanitizer a kept block's bytes, and the class space beyond a
// live block's requested size, are marked unusable, so that a use after
// release or a write past the end is still reported although the C library
// never saw the release.

void MarkUsable([[maybe_unused]] BlockHeader* header, [[maybe_unused]] std::size_t bytes,
                [[maybe_unused]] std::size_t capacity) {
#if defined(FEROQ_HEAP_POISONS)
  char* user = reinterpret_cast<char*>(header + 1);
  ASAN_UNPOISON_MEMORY_REGION(user, bytes);
  ASAN_POISON_MEMORY_REGION(user + bytes, capacity - sizeof(BlockHeader) - bytes);
#endif
}

void MarkKept([[maybe_unused]] BlockHeader* header, [[maybe_unused]] std::size_t capacity) {
#if defined(FEROQ_HEAP_POISONS)
  ASAN_POISON_MEMORY_REGION(header + 1, capacity - sizeof(BlockHeader));
#endif
}

// Before a block of class space goes back to the C library.
void MarkWhole([[maybe_unused]] BlockHeader* header, [[maybe_unused]] std::size_t capacity) {
#if defined(FEROQ_HEAP_POISONS)
  ASAN_UNPOISON_MEMORY_REGION(header + 1, capacity - sizeof(BlockHeader));
#endif
}

// ---- The kept blocks ----------------------------------------------------------
// Each thread counts what it keeps itself and takes the right to keep from
// the shared budget (the reuse limit) a megabyte at a time, so that keeping
// and reusing a block touch no shared memory and no atomic operation stands
// between the memory reads of a listing's blocks. The rights taken by all
// threads never pass the limit, and a thread keeps no more than its rights;
// rights beyond two steps above what a thread keeps go back to the budget.

constexpr std::size_t kRightsStep = std::size_t{1} << 20;

std::atomic<std::size_t> g_rights_taken{0};
std::atomic<std::size_t> g_reuse_limit{kHeapDefaultReuseLimit};

// A thread's lists: a block of the C library made when the thread first
// keeps a block, reached through one pointer in the thread's static TLS
// (the initial-exec model: no call to find it, and eight bytes fit in what
// the C library sets aside for libraries opened later). A thread whose
// lists are gone points at g_closed_lists, which keeps nothing.
struct ThreadLists {
  BlockHeader* heads[kClasses];
  std::size_t kept_bytes;  // class capacities of the blocks on the lists
  std::size_t rights;      // taken from g_rights_taken; at least kept_bytes
  bool closed;
};
constinit ThreadLists g_closed_lists{{}, 0, 0, true};
[[gnu::tls_model("initial-exec")]] constinit thread_local ThreadLists* t_lists = nullptr;

BlockHeader* NextOf(const BlockHeader* kept) { return reinterpret_cast<BlockHeader*>(kept->size); }

// Frees every block of `lists` to the C library and gives its rights back.
void Drain(ThreadLists& lists) {
  for (int size_class = 0; size_class < kClasses; ++size_class) {
    for (BlockHeader* kept = lists.heads[size_class]; kept != nullptr;) {
      BlockHeader* next = NextOf(kept);
      MarkWhole(kept, ClassCapacity(size_class));
      std::free(kept);
      kept = next;
    }
    lists.heads[size_class] = nullptr;
  }
  g_rights_taken.fetch_sub(lists.rights, std::memory_order_relaxed);
  lists.rights = 0;
  lists.kept_bytes = 0;
}

// Gives the thread's kept blocks and its lists back when the thread ends;
// blocks released on the thread after that (by later thread-exit code) are
// not kept.
struct ThreadListsOwner {
  ~ThreadListsOwner() {
    Drain(*t_lists);
    std::free(t_lists);
    t_lists = &g_closed_lists;
  }
};

// The calling thread's lists, made at the first call; null when they cannot
// be made.
ThreadLists* OpenLists() {
  if (t_lists != nullptr) return t_lists;
  auto* lists = static_cast<ThreadLists*>(std::calloc(1, sizeof(ThreadLists)));
  if (lists == nullptr) return nullptr;
  t_lists = lists;
  static thread_local ThreadListsOwner owner;
  (void)owner;
  return lists;
}

// Takes at least `needed` more bytes of rights for `lists` (a step when the
// budget has it); false when the budget has not `needed` left.
bool TakeRights(ThreadLists& lists, std::size_t needed) {
  const std::size_t step = needed > kRightsStep ? needed : kRightsStep;
  const std::size_t limit = g_reuse_limit.load(std::memory_order_relaxed);
  std::size_t taken = g_rights_taken.load(std::memory_order_relaxed);
  std::size_t granted = 0;
  do {
    if (taken > limit || limit - taken < needed) return false;
    granted = limit - taken < step ? limit - taken : step;
  } while (!g_rights_taken.compare_exchange_weak(taken, taken + granted, std::memory_order_relaxed));
  lists.rights += granted;
  return true;
}

// Keeps the released `header` of class `size_class`; false when the
// thread's lists are gone or the reuse limit would be passed.
bool Keep(BlockHeader* header, int size_class) {
  ThreadLists* open = OpenLists();
  if (open == nullptr || open->closed) return false;
  ThreadLists& lists = *open;
  const std::size_t capacity = ClassCapacity(size_class);
  if (lists.kept_bytes + capacity > lists.rights && !TakeRights(lists, lists.kept_bytes + capacity - lists.rights)) {
    return false;
  }
  lists.kept_bytes += capacity;
  header->size = reinterpret_cast<std::uintptr_t>(lists.heads[size_class]);
  lists.heads[size_class] = header;
  MarkKept(header, capacity);
  return true;
}

// A kept block of class `size_class` taken off the thread's list (its
// header's fields are the caller's to set), or null.
BlockHeader* Reuse(int size_class) {
  if (t_lists == nullptr) return nullptr;
  ThreadLists& lists = *t_lists;
  BlockHeader* kept = lists.heads[size_class];
  if (kept == nullptr) return nullptr;
  BlockHeader* const next = NextOf(kept);
  lists.heads[size_class] = next;
  // The next block of the class is read (its link) and written (its header
  // and zero fill) by the next allocation of the class; a listing's blocks
  // are far beyond the caches, so it is fetched now, while this one is
  // being filled, instead of stalling that allocation.
  if (next != nullptr) __builtin_prefetch(next, 1);
  lists.kept_bytes -= ClassCapacity(size_class);
  if (lists.rights - lists.kept_bytes > 2 * kRightsStep) {
    lists.rights -= kRightsStep;
    g_rights_taken.fetch_sub(kRightsStep, std::memory_order_relaxed);
  }
  return kept;
}

// ---- Blocks ------------------------------------------------------------------

// A block for `bytes` bytes of the caller's (zero-filled when `fill`), not
// counted as live; null when neither the lists nor the C library have one.
BlockHeader* MakeBlock(std::size_t bytes, bool fill) {
  std::size_t total = 0;
  if (!TotalSize(bytes, &total)) return nullptr;
  const int size_class = ClassOf(total);
  BlockHeader* header = nullptr;
  if (size_class != kNoClass) {
    const std::size_t capacity = ClassCapacity(size_class);
    header = Reuse(size_class);
    if (header != nullptr) {
      MarkUsable(header, bytes, capacity);
      if (fill) std::memset(header + 1, 0, bytes);
    } else {
      header = static_cast<BlockHeader*>(fill ? std::calloc(1, capacity) : std::malloc(capacity));
      if (header == nullptr) return nullptr;
      MarkUsable(header, bytes, capacity);
    }
  } else {
    header = static_cast<BlockHeader*>(fill ? std::calloc(1, total) : std::malloc(total));
    if (header == nullptr) return nullptr;
  }
  header->size = bytes;
  header->magic = kLiveMagic;
  return header;
}

// Releases a block whose header was already checked; not counted.
void DropBlock(BlockHeader* header) {
  header->magic = kFreedMagic;
  const int size_class = ClassOf(header->size + sizeof(BlockHeader));
  if (size_class != kNoClass) {
    if (Keep(header, size_class)) return;
    MarkWhole(header, ClassCapacity(size_class));
  }
  std::free(header);
}

}  // namespace

void* ProcessHeap() noexcept { return &g_process_heap; }

void* HeapAllocZero(std::size_t bytes) noexcept {
  if (CountAttemptAndCheckFailure()) return nullptr;
  BlockHeader* header = MakeBlock(bytes, true);
  if (header == nullptr) return nullptr;
  CountLiveBlock(1);
  return header + 1;
}

void* HeapAllocUnfilled(std::size_t bytes) noexcept {
  if (CountAttemptAndCheckFailure()) return nullptr;
  BlockHeader* header = MakeBlock(bytes, false);
  if (header == nullptr) return nullptr;
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
  const int old_class = ClassOf(old_size + sizeof(BlockHeader));
  const int new_class = ClassOf(total);

  if (old_class == kNoClass && new_class == kNoClass) {
    auto* moved = static_cast<BlockHeader*>(std::realloc(header, total));
    if (moved == nullptr) return nullptr;  // realloc keeps the old block intact
    if (bytes > old_size) std::memset(reinterpret_cast<char*>(moved + 1) + old_size, 0, bytes - old_size);
    moved->size = bytes;
    return moved + 1;
  }
  if (old_class == new_class) {
    // The class's capacity holds the new size: the block stays where it is.
    MarkUsable(header, bytes, ClassCapacity(new_class));
    if (bytes > old_size) std::memset(static_cast<char*>(block) + old_size, 0, bytes - old_size);
    header->size = bytes;
    return block;
  }
  // Into another class (or between a class and the C library's own sizes):
  // a new block, since every block of a class must have its full capacity.
  BlockHeader* moved = MakeBlock(bytes, true);
  if (moved == nullptr) return nullptr;
  std::memcpy(moved + 1, block, bytes < old_size ? bytes : old_size);
  DropBlock(header);
  return moved + 1;
}

void HeapFree(void* block) noexcept {
  if (block == nullptr) return;
  BlockHeader* header = HeaderOf(block);
  CountLiveBlock(-1);
  DropBlock(header);
}

std::size_t HeapBlockSize(const void* block) noexcept {
  if (block == nullptr) return 0;
  return HeaderOf(block)->size;
}

std::size_t HeapBytesKeptForReuse() noexcept { return t_lists == nullptr ? 0 : t_lists->kept_bytes; }

void ReleaseKeptHeapBlocks() noexcept {
  if (t_lists != nullptr && !t_lists->closed) Drain(*t_lists);
}

#if defined(FEROQ_TESTING)
std::size_t SetHeapReuseLimit(std::size_t bytes) noexcept { return g_reuse_limit.exchange(bytes); }
#endif

}  // namespace feroq::platform
