// Icon images: choosing one image of an icon, decoding it, and reducing it
// to the farm's 32 by 32, 16-colour form.
//
// An icon (an ICO file, or one icon group of an executable) holds several
// images of the same picture. Each image is either a device-independent
// bitmap (a BITMAPINFOHEADER, a palette for 8 bits per pixel or fewer, the
// colour rows bottom-up, then the 1-bit AND mask rows bottom-up, the header's
// height counting both) or a PNG stream.
//
// Choice of image (ChooseIconImage): an image of exactly 32 by 32 wins; among
// several, the deepest colour depth (at most 32 bits). Without one, the image
// nearest in size (smallest |width - 32| + |height - 32|; on a tie the larger
// image, since shrinking keeps more detail than growing), then the deepest.
// Images whose header cannot be read, with an unsupported depth or
// compression, or with a side of 0 or above kMaxIconImageSide, are passed
// over.
//
// Transparency: a pixel is transparent where its AND-mask bit is set. A
// 32-bit image whose AND mask is missing or all zero takes transparency from
// its alpha channel instead (alpha below 128 is transparent), unless every
// alpha value is 0 (an image without alpha; then all pixels are opaque). A
// PNG image takes it from its alpha channel. A bitmap whose AND mask is cut
// off by the end of the image counts as having none.
//
// Scaling (RenderIcon32): each of the 32 by 32 output pixels averages the box
// of source pixels it covers (a single source pixel when enlarging, which is
// nearest-neighbour). Colours are averaged weighted by alpha, so transparent
// surroundings do not darken an edge; a box with no opacity at all takes the
// plain average of its colours. The pixel is transparent when the box's mean
// alpha is below 128. An exact 32 by 32 image is taken pixel for pixel.
//
// Colour matching: each output pixel takes the palette entry with the
// smallest squared RGB distance ((dr)^2 + (dg)^2 + (db)^2); on a tie the
// lower index. Transparent pixels keep their own colour matched the same way
// (as the colour half of a Windows icon does), so an image whose colours are
// all palette colours is reproduced exactly.
#ifndef FEROQ_PLATFORM_PORTABLE_ICON_IMAGE_H_
#define FEROQ_PLATFORM_PORTABLE_ICON_IMAGE_H_

#include <cstdint>
#include <vector>

#include "platform/platform.h"
#include "platform/portable/icon_bytes.h"

namespace feroq::platform::icons {

// Largest width or height of an image that is decoded (bounds the pixel
// buffer at 4 MiB).
constexpr std::uint32_t kMaxIconImageSide = 1024;

struct Rgba {
  BYTE red;
  BYTE green;
  BYTE blue;
  BYTE alpha;  // 0 transparent .. 255 opaque
};

// A decoded image, rows top first, `width` * `height` pixels.
struct RgbaImage {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::vector<Rgba> pixels;
};

// What an image's header says about it.
struct IconImageInfo {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::uint32_t bits_per_pixel = 0;
  bool png = false;
};

// True when `image` starts with the PNG signature.
bool IsPngImage(ByteView image);

// Reads the header of `image`; false when it is not an image this reader can
// decode (see "Choice of image" above). The depth of a PNG image counts as
// that of its decoded form, at most 32 bits.
bool ProbeIconImage(ByteView image, IconImageInfo* info);
bool ProbeDibImage(ByteView image, IconImageInfo* info);
bool ProbePngImage(ByteView image, IconImageInfo* info);

// Index in `images` of the image to use, or -1 when none is usable.
int ChooseIconImage(const std::vector<ByteView>& images);

// Decode `image` into `*out`; false for a damaged image. May throw
// std::bad_alloc (at most 4 MiB of pixels are allocated).
bool DecodeDibImage(ByteView image, RgbaImage* out);
bool DecodePngImage(ByteView image, RgbaImage* out);

// Reduces `image` (non-empty) to the mask and colour rows of the platform
// interface (ExtractIcon32).
void RenderIcon32(const RgbaImage& image, BYTE mask[kIconMaskBytes], BYTE colors[kIconColorBytes]);

// Index of the standard palette entry nearest to the colour.
int NearestPaletteIndex(BYTE red, BYTE green, BYTE blue);

}  // namespace feroq::platform::icons

#endif  // FEROQ_PLATFORM_PORTABLE_ICON_IMAGE_H_
