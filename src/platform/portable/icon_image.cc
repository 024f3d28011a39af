// Icon images: the choice among an icon's images, and the reduction of the
// chosen one to 32 by 32 pixels in the standard 16-colour palette. The rules
// are stated in icon_image.h.
#include "platform/portable/icon_image.h"

#include <algorithm>
#include <cstring>

namespace feroq::platform::icons {

namespace {

constexpr std::uint32_t kSide = 32;

struct PaletteColor {
  int red;
  int green;
  int blue;
};

// The standard 16-colour palette, by index.
constexpr PaletteColor kPalette[16] = {
    {0, 0, 0},       {128, 0, 0},   {0, 128, 0},   {128, 128, 0},
    {0, 0, 128},     {128, 0, 128}, {0, 128, 128}, {128, 128, 128},
    {192, 192, 192}, {255, 0, 0},   {0, 255, 0},   {255, 255, 0},
    {0, 0, 255},     {255, 0, 255}, {0, 255, 255}, {255, 255, 255},
};

// Ranking of a usable image; a smaller key is a better image.
struct Rank {
  int not_exact;          // 0 for exactly 32 by 32
  std::uint64_t distance; // |width - 32| + |height - 32|
  std::uint64_t smaller;  // negated size, so that the larger image wins a tie
  std::uint32_t shallower;  // 32 - depth

  bool operator<(const Rank& other) const {
    if (not_exact != other.not_exact) return not_exact < other.not_exact;
    if (distance != other.distance) return distance < other.distance;
    if (smaller != other.smaller) return smaller < other.smaller;
    return shallower < other.shallower;
  }
};

std::uint64_t Difference(std::uint32_t side) { return side > kSide ? side - kSide : kSide - side; }

}  // namespace

int NearestPaletteIndex(BYTE red, BYTE green, BYTE blue) {
  int best = 0;
  int best_distance = -1;
  for (int index = 0; index < 16; ++index) {
    const int dr = red - kPalette[index].red;
    const int dg = green - kPalette[index].green;
    const int db = blue - kPalette[index].blue;
    const int distance = dr * dr + dg * dg + db * db;
    if (best_distance < 0 || distance < best_distance) {
      best = index;
      best_distance = distance;
    }
  }
  return best;
}

bool IsPngImage(ByteView image) {
  static constexpr BYTE kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  return image.Contains(0, sizeof(kSignature)) &&
         std::memcmp(image.data(), kSignature, sizeof(kSignature)) == 0;
}

bool ProbeIconImage(ByteView image, IconImageInfo* info) {
  return IsPngImage(image) ? ProbePngImage(image, info) : ProbeDibImage(image, info);
}

int ChooseIconImage(const std::vector<ByteView>& images) {
  int chosen = -1;
  Rank chosen_rank{};
  for (std::size_t i = 0; i < images.size(); ++i) {
    IconImageInfo info;
    if (!ProbeIconImage(images[i], &info)) continue;
    const std::uint32_t depth = std::min<std::uint32_t>(info.bits_per_pixel, 32);
    const Rank rank{info.width == kSide && info.height == kSide ? 0 : 1,
                    Difference(info.width) + Difference(info.height),
                    ~(std::uint64_t{info.width} + info.height), 32 - depth};
    if (chosen < 0 || rank < chosen_rank) {
      chosen = static_cast<int>(i);
      chosen_rank = rank;
    }
  }
  return chosen;
}

void RenderIcon32(const RgbaImage& image, BYTE mask[kIconMaskBytes], BYTE colors[kIconColorBytes]) {
  std::memset(mask, 0, kIconMaskBytes);
  std::memset(colors, 0, kIconColorBytes);
  const std::uint64_t width = image.width;
  const std::uint64_t height = image.height;
  for (std::uint32_t y = 0; y < kSide; ++y) {
    const std::uint64_t top = y * height / kSide;
    const std::uint64_t bottom = std::max(top + 1, (y + 1) * height / kSide);
    for (std::uint32_t x = 0; x < kSide; ++x) {
      const std::uint64_t left = x * width / kSide;
      const std::uint64_t right = std::max(left + 1, (x + 1) * width / kSide);
      // Sums over the box: at most 1024 * 1024 pixels of 255 * 255, well
      // inside 64 bits.
      std::uint64_t weighted[3] = {0, 0, 0};
      std::uint64_t plain[3] = {0, 0, 0};
      std::uint64_t alpha = 0;
      for (std::uint64_t sy = top; sy < bottom; ++sy) {
        const Rgba* row = image.pixels.data() + sy * width;
        for (std::uint64_t sx = left; sx < right; ++sx) {
          const Rgba& p = row[sx];
          weighted[0] += std::uint64_t{p.red} * p.alpha;
          weighted[1] += std::uint64_t{p.green} * p.alpha;
          weighted[2] += std::uint64_t{p.blue} * p.alpha;
          plain[0] += p.red;
          plain[1] += p.green;
          plain[2] += p.blue;
          alpha += p.alpha;
        }
      }
      const std::uint64_t count = (bottom - top) * (right - left);
      BYTE rgb[3];
      for (int c = 0; c < 3; ++c) {
        rgb[c] = static_cast<BYTE>(alpha > 0 ? weighted[c] / alpha : plain[c] / count);
      }
      const bool transparent = alpha / count < 128;
      if (transparent) mask[y * 4 + x / 8] |= static_cast<BYTE>(0x80u >> (x % 8));
      const int index = NearestPaletteIndex(rgb[0], rgb[1], rgb[2]);
      colors[y * 16 + x / 2] |= static_cast<BYTE>(x % 2 == 0 ? index << 4 : index);
    }
  }
}

}  // namespace feroq::platform::icons
