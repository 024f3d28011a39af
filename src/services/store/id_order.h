// Identifier lists in ascending order, for a store whose index hands them
// out in another order (by folder and name).
#ifndef FEROQ_SERVICES_STORE_ID_ORDER_H_
#define FEROQ_SERVICES_STORE_ID_ORDER_H_

#include <algorithm>
#include <array>
#include <cstddef>
#include <utility>
#include <vector>

#include "feroq/types.h"

namespace feroq::store {

// Sorts `ids` in ascending order in time linear in their number: one pass
// counts every byte of every identifier (and sees whether they ascend
// already, as when names were given in publishing order), then a
// least-significant-byte-first radix sort moves them once for each byte in
// which they differ; the bytes they all share (the kind, the high bytes of
// the serials) cost nothing: a farm's listing takes two or three moves.
// Short lists are sorted by comparison. Raises std::bad_alloc when the
// second buffer cannot be made.
inline void SortIds(std::vector<ULONG64>& ids) {
  constexpr std::size_t kRadixFrom = 1024;
  const std::size_t n = ids.size();
  if (n < kRadixFrom) {
    std::sort(ids.begin(), ids.end());
    return;
  }
  std::array<std::array<std::size_t, 256>, 8> counts{};
  bool ascending = true;
  ULONG64 previous = 0;
  for (const ULONG64 id : ids) {
    for (std::size_t byte = 0; byte < 8; ++byte) ++counts[byte][(id >> (8 * byte)) & 0xFF];
    ascending = ascending && previous <= id;
    previous = id;
  }
  if (ascending) return;

  std::vector<ULONG64> buffer(n);
  ULONG64* from = ids.data();
  ULONG64* to = buffer.data();
  for (std::size_t byte = 0; byte < 8; ++byte) {
    std::array<std::size_t, 256>& count = counts[byte];
    const unsigned shift = static_cast<unsigned>(8 * byte);
    if (count[(from[0] >> shift) & 0xFF] == n) continue;  // the same in all of them
    std::size_t start = 0;
    for (std::size_t& slot : count) start += std::exchange(slot, start);
    for (std::size_t i = 0; i < n; ++i) to[count[(from[i] >> shift) & 0xFF]++] = from[i];
    std::swap(from, to);
  }
  if (from != ids.data()) ids.swap(buffer);
}

}  // namespace feroq::store

#endif  // FEROQ_SERVICES_STORE_ID_ORDER_H_
