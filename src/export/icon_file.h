// Application icons and files: the ICO writer and the reading of an icon from
// an icon file, executable or library.
#ifndef FEROQ_EXPORT_ICON_FILE_H_
#define FEROQ_EXPORT_ICON_FILE_H_

#include <cstddef>

#include "feroq/app_icon.h"
#include "feroq/types.h"

namespace feroq {

// Size of the ICO file WriteIconFile writes: one 32 by 32, 4-bit image.
constexpr std::size_t kIconFileBytes = 766;

// Writes `icon` to the file at `path` (created, or replaced when it exists)
// as an ICO file of kIconFileBytes bytes: header, directory entry, bitmap
// header, the standard palette, the colour rows and then the mask rows, both
// bottom row first. S_OK when the file was created and the final write (the
// mask rows) wrote all of its 128 bytes; otherwise E_FAIL. Failures of the
// earlier writes are not detected, and a partly written file is left in
// place. `icon` is not changed.
HRESULT WriteIconFile(const _ZQWinAppIcon& icon, const char16_t* path);

// Reads the icon at `index` of the icon file, executable or library at
// `path` into `*out`: an index >= 0 counts icon groups in resource order, a
// negative index selects the group whose resource number is -index (an ICO
// file holds the one icon 0). E_INVALIDARG when the file yields no icon:
// it is none of those kinds, cannot be opened or read, has no icon at
// `index`, or its icon is damaged (a directory pointing past the file's end,
// a broken resource or image); E_FAIL when what the file yields is no icon
// (index -1 on a file of several icons, which the shell answers with their
// number); S_OK otherwise. `*out` is written only on S_OK.
HRESULT ExtractIconFromFile(const char16_t* path, LONG index, _ZQWinAppIcon* out);

}  // namespace feroq

#endif  // FEROQ_EXPORT_ICON_FILE_H_
