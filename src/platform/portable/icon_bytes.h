// Bounds-checked little-endian reading of untrusted icon sources.
//
// Every read of an icon, executable or image goes through a ByteView: a
// non-owning window on bytes that answers false instead of reading outside
// itself. Offsets and lengths are 64-bit, so sums of two 32-bit file fields
// never wrap, and every check is written so that it cannot overflow.
#ifndef FEROQ_PLATFORM_PORTABLE_ICON_BYTES_H_
#define FEROQ_PLATFORM_PORTABLE_ICON_BYTES_H_

#include <cstddef>
#include <cstdint>

#include "feroq/types.h"

namespace feroq::platform::icons {

class ByteView {
 public:
  ByteView() = default;
  ByteView(const BYTE* data, std::size_t size) : data_(size == 0 ? nullptr : data), size_(size) {}

  const BYTE* data() const { return data_; }
  std::uint64_t size() const { return size_; }
  bool empty() const { return size_ == 0; }

  // True when the `length` bytes at `offset` lie inside the view.
  bool Contains(std::uint64_t offset, std::uint64_t length) const {
    return offset <= size_ && length <= size_ - offset;
  }

  // The `length` bytes at `offset`; false (and `*out` unchanged) when they
  // do not lie inside the view.
  bool Sub(std::uint64_t offset, std::uint64_t length, ByteView* out) const {
    if (!Contains(offset, length)) return false;
    *out = length == 0 ? ByteView() : ByteView(data_ + offset, static_cast<std::size_t>(length));
    return true;
  }

  // Everything from `offset` to the end, at most `limit` bytes; false when
  // `offset` lies beyond the end.
  bool Tail(std::uint64_t offset, std::uint64_t limit, ByteView* out) const {
    if (offset > size_) return false;
    const std::uint64_t rest = size_ - offset;
    return Sub(offset, rest < limit ? rest : limit, out);
  }

  bool U8(std::uint64_t offset, std::uint8_t* value) const {
    if (!Contains(offset, 1)) return false;
    *value = data_[offset];
    return true;
  }
  bool U16(std::uint64_t offset, std::uint16_t* value) const {
    if (!Contains(offset, 2)) return false;
    *value = static_cast<std::uint16_t>(data_[offset] | (data_[offset + 1] << 8));
    return true;
  }
  bool U32(std::uint64_t offset, std::uint32_t* value) const {
    if (!Contains(offset, 4)) return false;
    *value = static_cast<std::uint32_t>(data_[offset]) |
             (static_cast<std::uint32_t>(data_[offset + 1]) << 8) |
             (static_cast<std::uint32_t>(data_[offset + 2]) << 16) |
             (static_cast<std::uint32_t>(data_[offset + 3]) << 24);
    return true;
  }
  bool I32(std::uint64_t offset, std::int32_t* value) const {
    std::uint32_t raw = 0;
    if (!U32(offset, &raw)) return false;
    *value = static_cast<std::int32_t>(raw);
    return true;
  }
  // Big-endian 32-bit value (PNG chunk fields).
  bool U32BigEndian(std::uint64_t offset, std::uint32_t* value) const {
    if (!Contains(offset, 4)) return false;
    *value = (static_cast<std::uint32_t>(data_[offset]) << 24) |
             (static_cast<std::uint32_t>(data_[offset + 1]) << 16) |
             (static_cast<std::uint32_t>(data_[offset + 2]) << 8) |
             static_cast<std::uint32_t>(data_[offset + 3]);
    return true;
  }

 private:
  const BYTE* data_ = nullptr;
  std::uint64_t size_ = 0;
};

}  // namespace feroq::platform::icons

#endif  // FEROQ_PLATFORM_PORTABLE_ICON_BYTES_H_
