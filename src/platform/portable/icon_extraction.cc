// ExtractIcon32FromBytes: recognises an ICO file or a PE executable in the
// bytes, finds the icon the index selects, chooses and decodes one of its
// images and reduces it to the farm's form. Portable: the platform layers
// only read the file. No exception leaves; running out of memory is
// kIconUnreadable.
#include <new>
#include <vector>

#include "platform/platform.h"
#include "platform/portable/icon_containers.h"
#include "platform/portable/icon_image.h"

namespace feroq::platform {

namespace {

// The shell's index that asks for the number of icons instead of one.
constexpr LONG kCountIconsIndex = -1;

}  // namespace

IconExtractResult ExtractIcon32FromBytes(const BYTE* data, std::size_t size, LONG index,
                                         BYTE mask[kIconMaskBytes], BYTE colors[kIconColorBytes]) noexcept {
  if (data == nullptr && size != 0) return kIconUnreadable;
  try {
    const icons::ByteView file(data, size);
    std::vector<icons::ByteView> images;
    if (icons::LooksLikeIcoFile(file)) {
      // An icon file holds one icon; the count request answers 1.
      if (index != 0) return kIconNotAnIconFile;
      if (const IconExtractResult found = icons::ReadIcoImages(file, &images); found != kIconOk) return found;
    } else if (icons::LooksLikeExecutable(file)) {
      if (index == kCountIconsIndex) {
        std::uint32_t groups = 0;
        const IconExtractResult counted = icons::ReadPeIconGroup(file, index, &images, &groups);
        if (counted != kIconOk) return counted;
        return groups <= 1 ? kIconNotAnIconFile : kIconFailed;
      }
      if (const IconExtractResult found = icons::ReadPeIconGroup(file, index, &images); found != kIconOk) {
        return found;
      }
    } else {
      return kIconNotAnIconFile;
    }

    const int chosen = icons::ChooseIconImage(images);
    if (chosen < 0) return kIconUnreadable;
    const icons::ByteView image = images[static_cast<std::size_t>(chosen)];
    icons::RgbaImage decoded;
    const bool ok = icons::IsPngImage(image) ? icons::DecodePngImage(image, &decoded)
                                             : icons::DecodeDibImage(image, &decoded);
    if (!ok || decoded.pixels.empty()) return kIconUnreadable;
    icons::RenderIcon32(decoded, mask, colors);
    return kIconOk;
  } catch (const std::bad_alloc&) {
    return kIconUnreadable;
  }
}

}  // namespace feroq::platform
