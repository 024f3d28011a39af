// PNG-compressed icon images, decoded with libpng's simplified reader into
// 8-bit RGBA (straight alpha, sRGB). libpng checks the stream's structure and
// CRCs and reports damage as a failure, never by a jump out of this code.
//
// libpng is required except on Windows: a Windows build without libpng for
// the target probes PNG images (their size and depth choose the image) but
// decodes none, so that an icon whose chosen image is a PNG stream is
// unreadable from bytes. ExtractIcon32 on Windows is the system's and
// decodes them.
#if defined(FEROQ_HAVE_LIBPNG)
#include <png.h>
#endif

#include "platform/portable/icon_image.h"

namespace feroq::platform::icons {

namespace {

#if defined(FEROQ_HAVE_LIBPNG)
// Ends a simplified read on every path.
class PngReadGuard {
 public:
  explicit PngReadGuard(png_image* image) : image_(image) {}
  ~PngReadGuard() { png_image_free(image_); }
  PngReadGuard(const PngReadGuard&) = delete;
  PngReadGuard& operator=(const PngReadGuard&) = delete;

 private:
  png_image* image_;
};
#endif  // FEROQ_HAVE_LIBPNG

// Bits per pixel of a PNG colour type at `bit_depth`; 0 for an unknown type.
std::uint32_t PngBitsPerPixel(std::uint32_t color_type, std::uint32_t bit_depth) {
  switch (color_type) {
    case 0: return bit_depth;      // grey
    case 2: return bit_depth * 3;  // RGB
    case 3: return bit_depth;      // palette
    case 4: return bit_depth * 2;  // grey and alpha
    case 6: return bit_depth * 4;  // RGBA
    default: return 0;
  }
}

}  // namespace

bool ProbePngImage(ByteView image, IconImageInfo* info) {
  // Signature (8), then the IHDR chunk: length 13, "IHDR", width, height
  // (big-endian), bit depth, colour type.
  std::uint32_t length = 0;
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::uint8_t bit_depth = 0;
  std::uint8_t color_type = 0;
  if (!IsPngImage(image) || !image.U32BigEndian(8, &length) || length != 13 || !image.Contains(12, 4) ||
      image.data()[12] != 'I' || image.data()[13] != 'H' || image.data()[14] != 'D' ||
      image.data()[15] != 'R' || !image.U32BigEndian(16, &width) || !image.U32BigEndian(20, &height) ||
      !image.U8(24, &bit_depth) || !image.U8(25, &color_type)) {
    return false;
  }
  if (width == 0 || height == 0 || width > kMaxIconImageSide || height > kMaxIconImageSide) return false;
  const std::uint32_t bits = PngBitsPerPixel(color_type, bit_depth);
  if (bits == 0) return false;
  info->width = width;
  info->height = height;
  info->bits_per_pixel = bits > 32 ? 32 : bits;
  info->png = true;
  return true;
}

#if defined(FEROQ_HAVE_LIBPNG)
bool DecodePngImage(ByteView image, RgbaImage* out) {
  IconImageInfo info;
  if (!ProbePngImage(image, &info)) return false;
  png_image png{};
  png.version = PNG_IMAGE_VERSION;
  PngReadGuard guard(&png);
  if (png_image_begin_read_from_memory(&png, image.data(), static_cast<std::size_t>(image.size())) == 0) {
    return false;
  }
  // The header read by libpng must be the one probed, so the buffer below is
  // bounded by kMaxIconImageSide.
  if (png.width != info.width || png.height != info.height) return false;
  png.format = PNG_FORMAT_RGBA;
  out->width = png.width;
  out->height = png.height;
  out->pixels.assign(std::size_t{png.width} * png.height, Rgba{0, 0, 0, 0});
  static_assert(sizeof(Rgba) == 4, "pixels are read as packed RGBA bytes");
  if (png_image_finish_read(&png, nullptr, out->pixels.data(), 0, nullptr) == 0) return false;
  return true;
}
#else
bool DecodePngImage(ByteView, RgbaImage*) { return false; }
#endif  // FEROQ_HAVE_LIBPNG

}  // namespace feroq::platform::icons
