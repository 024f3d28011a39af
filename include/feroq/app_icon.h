// The icon of a published application: 32 by 32 pixels in the standard
// 16-colour palette, with a one-bit transparency mask.
#ifndef FEROQ_APP_ICON_H_
#define FEROQ_APP_ICON_H_

#include <cstdint>

#include "feroq/types.h"

// 640 bytes, no header.
//
// `mask`: 32 rows of 4 bytes, top row first; one bit per pixel, the most
// significant bit of a byte being the leftmost of its eight pixels; a set
// bit marks a transparent pixel.
//
// `colors`: 32 rows of 16 bytes, top row first; four bits per pixel, the
// high half of a byte being the left pixel; each value indexes the standard
// palette (red, green, blue): 0 black (0,0,0), 1 (128,0,0), 2 (0,128,0),
// 3 (128,128,0), 4 (0,0,128), 5 (128,0,128), 6 (0,128,128), 7 (128,128,128),
// 8 (192,192,192), 9 (255,0,0), 10 (0,255,0), 11 (255,255,0), 12 (0,0,255),
// 13 (255,0,255), 14 (0,255,255), 15 white (255,255,255).
//
// Records handed out by ZQWinAppObject::GetIcon come from the farm object's
// heap; release them with FarmObject::FreeMemory.
struct _ZQWinAppIcon {
  BYTE mask[128];
  BYTE colors[512];
};
static_assert(sizeof(_ZQWinAppIcon) == 640, "the icon record has no padding");

// The kinds of icon file the library writes. Only ICO is supported.
enum _IconFileFormat : std::int32_t {
  IconFileFormatICO = 0,
};

#endif  // FEROQ_APP_ICON_H_
