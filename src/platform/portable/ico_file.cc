// ICO files: a 6-byte header (reserved 0, type 1, image count) and one
// 16-byte directory entry per image (width, height, colour count, reserved,
// planes, bits per pixel, bytes of the image, offset of the image).
#include "platform/portable/icon_containers.h"

namespace feroq::platform::icons {

namespace {

constexpr std::uint64_t kHeaderBytes = 6;
constexpr std::uint64_t kEntryBytes = 16;

}  // namespace

bool LooksLikeIcoFile(ByteView file) {
  std::uint16_t reserved = 0;
  std::uint16_t type = 0;
  std::uint16_t count = 0;
  return file.U16(0, &reserved) && file.U16(2, &type) && file.U16(4, &count) && reserved == 0 &&
         type == 1 && count > 0;
}

bool LooksLikeExecutable(ByteView file) {
  return file.Contains(0, 2) && file.data()[0] == 'M' && file.data()[1] == 'Z';
}

IconExtractResult ReadIcoImages(ByteView file, std::vector<ByteView>* images) {
  std::uint16_t count = 0;
  if (!LooksLikeIcoFile(file) || !file.U16(4, &count)) return kIconUnreadable;
  if (!file.Contains(kHeaderBytes, kEntryBytes * count)) return kIconUnreadable;
  images->clear();
  images->reserve(count);
  for (std::uint64_t i = 0; i < count; ++i) {
    const std::uint64_t entry = kHeaderBytes + kEntryBytes * i;
    std::uint32_t bytes = 0;
    std::uint32_t offset = 0;
    if (!file.U32(entry + 8, &bytes) || !file.U32(entry + 12, &offset)) return kIconUnreadable;
    ByteView image;
    if (bytes == 0 || !file.Tail(offset, bytes, &image) || image.empty()) continue;
    images->push_back(image);
  }
  return images->empty() ? kIconUnreadable : kIconOk;
}

}  // namespace feroq::platform::icons
