// The ICO writer and icon extraction, through the platform's file and icon
// functions.
#include "export/icon_file.h"

#include <cstring>

#include "platform/platform.h"

namespace feroq {

namespace {

constexpr int kRows = 32;
constexpr std::size_t kColorRowBytes = 16;
constexpr std::size_t kMaskRowBytes = 4;

// The standard palette as the file stores it: blue, green, red, 0.
constexpr BYTE kPaletteQuads[64] = {
    0,   0,   0,   0, 0,   0,   128, 0, 0,   128, 0,   0, 0,   128, 128, 0,
    128, 0,   0,   0, 128, 0,   128, 0, 128, 128, 0,   0, 128, 128, 128, 0,
    192, 192, 192, 0, 0,   0,   255, 0, 0,   255, 0,   0, 0,   255, 255, 0,
    255, 0,   0,   0, 255, 0,   255, 0, 255, 255, 0,   0, 255, 255, 255, 0,
};

void PutU16(BYTE* at, std::uint16_t value) {
  at[0] = static_cast<BYTE>(value);
  at[1] = static_cast<BYTE>(value >> 8);
}

void PutU32(BYTE* at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<BYTE>(value >> (8 * i));
}

}  // namespace

HRESULT WriteIconFile(const _ZQWinAppIcon& icon, const char16_t* path) {
  platform::FileHandle* file = platform::CreateFileForWrite(path);
  if (file == nullptr) return E_FAIL;

  // Icon file header: reserved 0, type 1 (icon), one image.
  BYTE reserved[2];
  BYTE type[2];
  BYTE count[2];
  PutU16(reserved, 0);
  PutU16(type, 1);
  PutU16(count, 1);

  // Directory entry: 32 by 32, 16 colours, planes and depth left 0, 744
  // bytes of image at offset 22.
  BYTE entry[16] = {32, 32, 16, 0};
  PutU32(entry + 8, 744);
  PutU32(entry + 12, 22);

  // Bitmap header: 32 wide, 64 high (colour rows and mask rows), 1 plane,
  // 4 bits per pixel, uncompressed, 640 bytes of image; the rest 0.
  BYTE header[40] = {};
  PutU32(header + 0, 40);
  PutU32(header + 4, 32);
  PutU32(header + 8, 64);
  PutU16(header + 12, 1);
  PutU16(header + 14, 4);
  PutU32(header + 20, 640);

  // Rows bottom first.
  BYTE color_rows[sizeof(icon.colors)];
  BYTE mask_rows[sizeof(icon.mask)];
  for (int row = 0; row < kRows; ++row) {
    std::memcpy(color_rows + row * kColorRowBytes, icon.colors + (kRows - 1 - row) * kColorRowBytes,
                kColorRowBytes);
    std::memcpy(mask_rows + row * kMaskRowBytes, icon.mask + (kRows - 1 - row) * kMaskRowBytes,
                kMaskRowBytes);
  }

  // Each part by its own write; only the last one's outcome counts.
  platform::WriteFileBytes(file, reserved, sizeof(reserved));
  platform::WriteFileBytes(file, type, sizeof(type));
  platform::WriteFileBytes(file, count, sizeof(count));
  platform::WriteFileBytes(file, entry, sizeof(entry));
  platform::WriteFileBytes(file, header, sizeof(header));
  platform::WriteFileBytes(file, kPaletteQuads, sizeof(kPaletteQuads));
  platform::WriteFileBytes(file, color_rows, sizeof(color_rows));
  const bool mask_written = platform::WriteFileBytes(file, mask_rows, sizeof(mask_rows));
  platform::CloseFile(file);
  return mask_written ? S_OK : E_FAIL;
}

HRESULT ExtractIconFromFile(const char16_t* path, LONG index, _ZQWinAppIcon* out) {
  _ZQWinAppIcon icon{};
  switch (platform::ExtractIcon32(path, index, icon.mask, icon.colors)) {
    case platform::kIconOk:
      std::memcpy(out, &icon, sizeof(icon));
      return S_OK;
    case platform::kIconNotAnIconFile:
    case platform::kIconUnreadable:
      return E_INVALIDARG;  // the file yields no icon
    case platform::kIconFailed:
    default:
      return E_FAIL;  // what the file yields is no icon
  }
}

}  // namespace feroq
