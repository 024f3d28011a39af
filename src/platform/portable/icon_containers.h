// The files icons come in: ICO files (one icon) and PE executables and
// libraries (icon groups in their resources). Each reader finds the icon an
// index selects and hands out the image data of every image it holds, as
// windows on the file's bytes; the choice among them is icon_image.h's.
#ifndef FEROQ_PLATFORM_PORTABLE_ICON_CONTAINERS_H_
#define FEROQ_PLATFORM_PORTABLE_ICON_CONTAINERS_H_

#include <vector>

#include "platform/platform.h"
#include "platform/portable/icon_bytes.h"

namespace feroq::platform::icons {

// True when `file` starts as an ICO file: reserved word 0, type 1 (icon) and
// a non-zero image count.
bool LooksLikeIcoFile(ByteView file);

// True when `file` starts with the "MZ" of an executable's DOS header.
bool LooksLikeExecutable(ByteView file);

// The images of an ICO file (see LooksLikeIcoFile). kIconOk with at least
// one image; kIconUnreadable when the directory does not fit in the file or no
// entry points inside it. An entry's size is cut at the end of the file.
IconExtractResult ReadIcoImages(ByteView file, std::vector<ByteView>* images);

// The images of the icon group that `index` selects in the PE file `file`
// (ExtractIcon32's indexing: >= 0 the index-th group in directory order,
// named groups first, then numbered ones ascending; < 0 the group numbered
// -index). kIconNotAnIconFile when `file` is not a PE file or has no such
// group; kIconUnreadable when the headers, the resource tree or the group are
// damaged or none of the group's images exists. With `group_count` set the
// number of groups is stored there instead and no images are read.
IconExtractResult ReadPeIconGroup(ByteView file, LONG index, std::vector<ByteView>* images,
                                  std::uint32_t* group_count = nullptr);

}  // namespace feroq::platform::icons

#endif  // FEROQ_PLATFORM_PORTABLE_ICON_CONTAINERS_H_
