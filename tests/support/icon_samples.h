// Builders of icon sources for tests: device-independent bitmaps, PNG
// streams, ICO files and minimal PE32 / PE32+ files with icon resources, all
// made in memory from a picture function, so that a test knows exactly what
// an extracted icon must hold.
#ifndef FEROQ_TESTS_SUPPORT_ICON_SAMPLES_H_
#define FEROQ_TESTS_SUPPORT_ICON_SAMPLES_H_

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "feroq/types.h"

namespace feroq::testing {

using Bytes = std::vector<BYTE>;

struct Color {
  BYTE red;
  BYTE green;
  BYTE blue;
  BYTE alpha = 255;
  bool operator==(const Color&) const = default;
};

// The standard 16-colour palette entry `index` (opaque).
Color StandardColor(int index);

// Colour of pixel (x, y), y = 0 the top row.
using Picture = std::function<Color(int x, int y)>;

// A picture of standard colours with transparent pixels: `seed` varies it.
// Pixel (x, y) of a `scale`-times enlarged copy is PatternIndex(x/scale, ...).
int PatternIndex(int x, int y, int seed);
bool PatternTransparent(int x, int y, int seed);
Picture PatternPicture(int seed, int scale = 1);

// How a bitmap carries transparency.
enum class MaskKind {
  kAndMask,      // AND mask from alpha < 128; 32-bit images store alpha as is
  kZeroAndMask,  // AND mask all zero; 32-bit images store alpha as is
  kNoAndMask,    // the image ends after the colour rows
  kNoAlpha,      // AND mask from alpha < 128; 32-bit images store alpha 0
  kNoAlphaNoAndMask,  // no AND mask; 32-bit images store alpha 0
};

// A device-independent bitmap of `width` x `height` pixels at `bits` (1, 4,
// 8, 24 or 32) bits per pixel. For 8 bits or fewer the palette holds the
// picture's distinct colours in reverse order of first appearance (so palette
// positions differ from the standard indices); at most 2^bits of them.
Bytes MakeDib(int width, int height, int bits, const Picture& picture, MaskKind mask = MaskKind::kAndMask);

// An 8-bit RGBA PNG stream (stored deflate blocks, so any decoder reads it).
Bytes MakePng(int width, int height, const Picture& picture);

// One image of an icon with the values its directory entry states.
struct IconImage {
  int width;
  int height;
  int bits;
  Bytes data;
};
IconImage DibImage(int width, int height, int bits, const Picture& picture, MaskKind mask = MaskKind::kAndMask);
IconImage PngImage(int width, int height, const Picture& picture);

// An ICO file holding `images` in the given order.
Bytes MakeIco(const std::vector<IconImage>& images);

// One icon group of a PE file: a name (resource named by string) or a number.
struct IconGroup {
  std::u16string name;  // empty: numbered
  std::uint16_t number = 0;
  std::vector<IconImage> images;
};

// A PE file (PE32+ when `pe32_plus`) with one resource section holding the
// groups in the order resources are stored: named groups first, then
// numbered ones ascending (the caller lists them in that order). Icon
// resources are numbered 1, 2, ... across the groups.
Bytes MakePe(bool pe32_plus, const std::vector<IconGroup>& groups);

// Offsets inside a MakePe result, for damaging it on purpose.
constexpr std::uint32_t kPeHeaderOffset = 0x40;
constexpr std::uint32_t kPeResourceOffset = 0x200;  // file offset of the resource tree

bool WriteBytes(const std::string& path, const Bytes& bytes);
Bytes ReadBytes(const std::string& path);

}  // namespace feroq::testing

#endif  // FEROQ_TESTS_SUPPORT_ICON_SAMPLES_H_
