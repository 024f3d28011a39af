// Device-independent bitmaps as icons store them: a BITMAPINFOHEADER (or a
// later, longer version of it), the palette, the colour (XOR) rows and the
// 1-bit AND mask rows, both bottom-up, each row padded to 4 bytes. The
// header's height counts the colour rows and the mask rows together.
// Uncompressed images of 1, 4, 8, 24 and 32 bits per pixel are read.

#include "platform/portable/icon_image.h"

namespace feroq::platform::icons {

namespace {

constexpr std::uint32_t kInfoHeaderBytes = 40;
// Longest header accepted (BITMAPV5HEADER is 124 bytes).
constexpr std::uint32_t kMaxHeaderBytes = 1024;
constexpr std::uint32_t kCompressionNone = 0;

struct DibLayout {
  std::uint32_t width = 0;
  std::uint32_t height = 0;  // of the picture, half the header's height
  std::uint32_t bits_per_pixel = 0;
  std::uint64_t palette_offset = 0;
  std::uint32_t palette_entries = 0;
  std::uint64_t pixel_offset = 0;
  std::uint64_t color_stride = 0;
  std::uint64_t mask_offset = 0;
  std::uint64_t mask_stride = 0;
};

// Bytes of one row of `width` pixels of `bits` bits, padded to 4 bytes.
std::uint64_t RowStride(std::uint64_t width, std::uint64_t bits) { return (width * bits + 31) / 32 * 4; }

// Reads and checks the header; the colour rows are known to lie inside
// `image` on success (the mask may not).
bool ReadLayout(ByteView image, DibLayout* layout) {
  std::uint32_t header_bytes = 0;
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::uint16_t bits = 0;
  std::uint32_t compression = 0;
  std::uint32_t colors_used = 0;
  if (!image.U32(0, &header_bytes) || header_bytes < kInfoHeaderBytes || header_bytes > kMaxHeaderBytes ||
      !image.I32(4, &width) || !image.I32(8, &height) || !image.U16(14, &bits) ||
      !image.U32(16, &compression) || !image.U32(32, &colors_used)) {
    return false;
  }
  if (compression != kCompressionNone) return false;
  if (bits != 1 && bits != 4 && bits != 8 && bits != 24 && bits != 32) return false;
  // Icons store bottom-up rows only; a negative height is refused.
  if (width <= 0 || height <= 0) return false;
  const std::uint32_t picture_height = static_cast<std::uint32_t>(height) / 2;
  if (static_cast<std::uint32_t>(width) > kMaxIconImageSide || picture_height == 0 ||
      picture_height > kMaxIconImageSide) {
    return false;
  }
  // The palette: as many entries as the header says are used (all that the
  // depth allows when it says 0); images of more than 8 bits may carry one
  // too, which only moves the pixels.
  if (colors_used > 256) return false;
  std::uint32_t entries = colors_used;
  if (entries == 0 && bits <= 8) entries = 1u << bits;
  layout->width = static_cast<std::uint32_t>(width);
  layout->height = picture_height;
  layout->bits_per_pixel = bits;
  layout->palette_offset = header_bytes;
  layout->palette_entries = entries;
  layout->pixel_offset = std::uint64_t{header_bytes} + std::uint64_t{entries} * 4;
  layout->color_stride = RowStride(layout->width, bits);
  layout->mask_offset = layout->pixel_offset + layout->color_stride * picture_height;
  layout->mask_stride = RowStride(layout->width, 1);
  return image.Contains(layout->pixel_offset, layout->color_stride * picture_height);
}

// Colour of pixel `x` of a colour row (`row` holds color_stride bytes).
Rgba ColorAt(const BYTE* row, std::uint32_t x, const DibLayout& layout, const Rgba* palette) {
  switch (layout.bits_per_pixel) {
    case 32: {
      const BYTE* p = row + std::uint64_t{x} * 4;
      return Rgba{p[2], p[1], p[0], p[3]};
    }
    case 24: {
      const BYTE* p = row + std::uint64_t{x} * 3;
      return Rgba{p[2], p[1], p[0], 255};
    }
    default: {
      const std::uint32_t bits = layout.bits_per_pixel;
      const std::uint32_t per_byte = 8 / bits;
      const BYTE byte = row[x / per_byte];
      const std::uint32_t shift = 8 - bits * (x % per_byte + 1);
      const std::uint32_t index = (byte >> shift) & ((1u << bits) - 1);
      // An index beyond the palette shows black, as Windows draws it.
      return index < layout.palette_entries ? palette[index] : Rgba{0, 0, 0, 255};
    }
  }
}

}  // namespace

bool ProbeDibImage(ByteView image, IconImageInfo* info) {
  DibLayout layout;
  if (!ReadLayout(image, &layout)) return false;
  info->width = layout.width;
  info->height = layout.height;
  info->bits_per_pixel = layout.bits_per_pixel;
  info->png = false;
  return true;
}

bool DecodeDibImage(ByteView image, RgbaImage* out) {
  DibLayout layout;
  if (!ReadLayout(image, &layout)) return false;
  Rgba palette[256];
  for (std::uint32_t i = 0; i < layout.palette_entries; ++i) {
    ByteView quad;
    if (!image.Sub(layout.palette_offset + std::uint64_t{i} * 4, 4, &quad)) return false;
    palette[i] = Rgba{quad.data()[2], quad.data()[1], quad.data()[0], 255};
  }

  const std::uint32_t width = layout.width;
  const std::uint32_t height = layout.height;
  out->width = width;
  out->height = height;
  out->pixels.assign(std::size_t{width} * height, Rgba{0, 0, 0, 255});

  // Colour rows, turned top row first.
  bool any_alpha = false;
  for (std::uint32_t row = 0; row < height; ++row) {
    ByteView line;
    if (!image.Sub(layout.pixel_offset + layout.color_stride * row, layout.color_stride, &line)) return false;
    Rgba* target = out->pixels.data() + std::size_t{height - 1 - row} * width;
    for (std::uint32_t x = 0; x < width; ++x) {
      target[x] = ColorAt(line.data(), x, layout, palette);
      any_alpha = any_alpha || target[x].alpha != 0;
    }
  }

  // The AND mask, when the image holds all of it and it has a bit set.
  const bool has_mask = image.Contains(layout.mask_offset, layout.mask_stride * height);
  bool mask_used = false;
  if (has_mask) {
    for (std::uint32_t row = 0; row < height && !mask_used; ++row) {
      const BYTE* line = image.data() + layout.mask_offset + layout.mask_stride * row;
      for (std::uint32_t x = 0; x < width; ++x) {
        if ((line[x / 8] & (0x80u >> (x % 8))) != 0) {
          mask_used = true;
          break;
        }
      }
    }
  }
  const bool alpha_used = layout.bits_per_pixel == 32 && !mask_used && any_alpha;
  if (alpha_used) return true;
  for (std::uint32_t row = 0; row < height; ++row) {
    Rgba* target = out->pixels.data() + std::size_t{height - 1 - row} * width;
    const BYTE* line = mask_used ? image.data() + layout.mask_offset + layout.mask_stride * row : nullptr;
    for (std::uint32_t x = 0; x < width; ++x) {
      const bool transparent = line != nullptr && (line[x / 8] & (0x80u >> (x % 8))) != 0;
      target[x].alpha = transparent ? 0 : 255;
    }
  }
  return true;
}

}  // namespace feroq::platform::icons
