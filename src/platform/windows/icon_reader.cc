// ExtractIcon32 on Windows, through the system's own icon calls: the shell
// extracts the icon at the system's large-icon size (ExtractIconW), its
// mask bitmap gives the transparency rows as they are (GetBitmapBits), and
// its colour bitmap is read as a 4-bit top-down bitmap (GetDIBits), which
// maps each pixel to the nearest colour of the system's 16-colour palette.
// That palette holds the same colours as the farm's (platform.h) but not in
// the same order (the system's 7 is light grey and 8 grey), so the indices
// are translated through the colour table GetDIBits returns. Every handle
// made is released on every path.
//
// The shell does not say why a file yields no icon: a damaged icon file or
// executable answers kIconNotAnIconFile here, where the portable readers
// answer kIconUnreadable; the library maps both to the same code.
#include <cstdint>
#include <cstring>

#include "platform/platform.h"
#include "platform/windows/system.h"

#include <shellapi.h>

namespace feroq::platform {
namespace {

// Releases what GetIconInfo made and the icon itself.
class IconParts {
 public:
  explicit IconParts(HICON icon) noexcept : icon_(icon) {}
  ~IconParts() {
    if (info_.hbmMask != nullptr) ::DeleteObject(info_.hbmMask);
    if (info_.hbmColor != nullptr) ::DeleteObject(info_.hbmColor);
    ::DestroyIcon(icon_);
  }
  IconParts(const IconParts&) = delete;
  IconParts& operator=(const IconParts&) = delete;

  bool Load() noexcept { return ::GetIconInfo(icon_, &info_) != 0; }
  HBITMAP mask() const noexcept { return info_.hbmMask; }
  HBITMAP colors() const noexcept { return info_.hbmColor; }

 private:
  HICON icon_;
  ICONINFO info_{};
};

// A memory device context compatible with the screen.
class MemoryContext {
 public:
  MemoryContext() noexcept : dc_(::CreateCompatibleDC(nullptr)) {}
  ~MemoryContext() {
    if (dc_ != nullptr) ::DeleteDC(dc_);
  }
  MemoryContext(const MemoryContext&) = delete;
  MemoryContext& operator=(const MemoryContext&) = delete;
  HDC get() const noexcept { return dc_; }

 private:
  HDC dc_;
};

// A bitmap header with room for the 16 colours GetDIBits writes after it.
struct FourBitDib {
  BITMAPINFOHEADER header;
  RGBQUAD palette[16];
};

// The farm's palette (red, green, blue), as platform.h lists it.
constexpr BYTE kFarmPalette[16][3] = {
    {0, 0, 0},     {128, 0, 0},   {0, 128, 0},   {128, 128, 0}, {0, 0, 128},   {128, 0, 128},
    {0, 128, 128}, {128, 128, 128}, {192, 192, 192}, {255, 0, 0}, {0, 255, 0},   {255, 255, 0},
    {0, 0, 255},   {255, 0, 255}, {0, 255, 255}, {255, 255, 255}};

// The farm's index of the colour nearest to `color`.
BYTE NearestFarmIndex(const RGBQUAD& color) {
  BYTE best = 0;
  long best_distance = -1;
  for (int i = 0; i < 16; ++i) {
    const long red = color.rgbRed - kFarmPalette[i][0];
    const long green = color.rgbGreen - kFarmPalette[i][1];
    const long blue = color.rgbBlue - kFarmPalette[i][2];
    const long distance = red * red + green * green + blue * blue;
    if (best_distance < 0 || distance < best_distance) {
      best = static_cast<BYTE>(i);
      best_distance = distance;
    }
  }
  return best;
}

}  // namespace

IconExtractResult ExtractIcon32(const char16_t* path, LONG index, BYTE mask[kIconMaskBytes],
                                BYTE colors[kIconColorBytes]) noexcept {
  if (path == nullptr || path[0] == u'\0') return kIconNotAnIconFile;
  // The index goes to the shell as it is: a negative one selects the group
  // whose resource identifier is -index, and -1 asks for the number of icons.
  HICON icon = ::ExtractIconW(nullptr, SystemWide(path), static_cast<UINT>(index));
  const auto answer = reinterpret_cast<std::uintptr_t>(icon);
  if (index == -1) {
    // A number, not an icon: none or one icon reads as no icon file, as the
    // shell's 0 and 1 do; more are a count no caller can use as an icon.
    return answer <= 1 ? kIconNotAnIconFile : kIconFailed;
  }
  if (answer == 0 || answer == 1) return kIconNotAnIconFile;

  IconParts parts(icon);
  if (!parts.Load()) return kIconFailed;
  MemoryContext dc;
  if (dc.get() == nullptr || parts.colors() == nullptr) return kIconFailed;

  BYTE mask_rows[kIconMaskBytes] = {};
  // A monochrome 32-pixel row is 4 bytes; rows come top row first.
  if (::GetBitmapBits(parts.mask(), static_cast<LONG>(kIconMaskBytes), mask_rows) == 0) return kIconFailed;

  FourBitDib dib{};
  dib.header.biSize = sizeof(BITMAPINFOHEADER);
  dib.header.biWidth = 32;
  dib.header.biHeight = -32;  // top-down
  dib.header.biPlanes = 1;
  dib.header.biBitCount = 4;
  dib.header.biCompression = BI_RGB;
  dib.header.biSizeImage = kIconColorBytes;
  BYTE color_rows[kIconColorBytes] = {};
  if (::GetDIBits(dc.get(), parts.colors(), 0, 32, color_rows, reinterpret_cast<BITMAPINFO*>(&dib),
                  DIB_RGB_COLORS) == 0) {
    return kIconFailed;
  }
  BYTE to_farm[16];
  for (int i = 0; i < 16; ++i) to_farm[i] = NearestFarmIndex(dib.palette[i]);
  for (std::size_t i = 0; i < kIconColorBytes; ++i) {
    const BYTE pair = color_rows[i];
    color_rows[i] = static_cast<BYTE>(to_farm[pair >> 4] << 4 | to_farm[pair & 0x0F]);
  }
  std::memcpy(mask, mask_rows, kIconMaskBytes);
  std::memcpy(colors, color_rows, kIconColorBytes);
  return kIconOk;
}

}  // namespace feroq::platform
