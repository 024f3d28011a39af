#include "support/icon_samples.h"

#include <algorithm>
#include <cstdint>
#include <stdexcept>

#include "support/temp_files.h"

namespace feroq::testing {

namespace {

constexpr Color kStandard[16] = {
    {0, 0, 0},       {128, 0, 0},   {0, 128, 0},   {128, 128, 0},
    {0, 0, 128},     {128, 0, 128}, {0, 128, 128}, {128, 128, 128},
    {192, 192, 192}, {255, 0, 0},   {0, 255, 0},   {255, 255, 0},
    {0, 0, 255},     {255, 0, 255}, {0, 255, 255}, {255, 255, 255},
};

// Little-endian `value` in `bytes` bytes at `at`.
void Put(Bytes& out, std::size_t at, std::uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out[at + i] = static_cast<BYTE>(value >> (8 * i));
}
void PutU16(Bytes& out, std::size_t at, std::uint64_t value) { Put(out, at, value, 2); }
void PutU32(Bytes& out, std::size_t at, std::uint64_t value) { Put(out, at, value, 4); }
// The first 12 bytes of an image's entry in an ICO file or an icon group:
// size, colour count, planes, depth, image bytes.
void PutImageEntry(Bytes& out, std::size_t at, const IconImage& image) {
  out[at] = static_cast<BYTE>(image.width >= 256 ? 0 : image.width);
  out[at + 1] = static_cast<BYTE>(image.height >= 256 ? 0 : image.height);
  out[at + 2] = static_cast<BYTE>(image.bits < 8 ? 1 << image.bits : 0);
  PutU16(out, at + 4, 1);
  PutU16(out, at + 6, image.bits);
  PutU32(out, at + 8, image.data.size());
}
std::size_t AlignUp(std::size_t value, std::size_t alignment) {
  return (value + alignment - 1) / alignment * alignment;
}
bool SameRgb(const Color& a, const Color& b) {
  return a.red == b.red && a.green == b.green && a.blue == b.blue;
}

}  // namespace

Color StandardColor(int index) { return kStandard[index & 15]; }

int PatternIndex(int x, int y, int seed) { return (x * 3 + y * 5 + seed * 7 + (x * y) % 3) % 16; }

bool PatternTransparent(int x, int y, int seed) { return (x + 2 * y + seed) % 7 == 0; }

Picture PatternPicture(int seed, int scale) {
  return [seed, scale](int x, int y) {
    Color color = StandardColor(PatternIndex(x / scale, y / scale, seed));
    color.alpha = PatternTransparent(x / scale, y / scale, seed) ? 0 : 255;
    return color;
  };
}

Bytes MakeDib(int width, int height, int bits, const Picture& picture, MaskKind mask) {
  std::vector<Color> palette;
  if (bits <= 8) {
    std::vector<Color> seen;
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) {
        const Color c = picture(x, y);
        if (std::none_of(seen.begin(), seen.end(), [&](const Color& s) { return SameRgb(s, c); })) {
          seen.push_back(c);
        }
      }
    }
    if (seen.size() > (1u << bits)) throw std::invalid_argument("picture has too many colours");
    palette.assign(seen.rbegin(), seen.rend());
  }
  const std::size_t color_stride = (static_cast<std::size_t>(width) * bits + 31) / 32 * 4;
  const std::size_t mask_stride = (static_cast<std::size_t>(width) + 31) / 32 * 4;
  const std::size_t pixels_at = 40 + palette.size() * 4;
  const std::size_t mask_at = pixels_at + color_stride * height;
  const bool has_mask = mask != MaskKind::kNoAndMask && mask != MaskKind::kNoAlphaNoAndMask;
  const bool no_alpha = mask == MaskKind::kNoAlpha || mask == MaskKind::kNoAlphaNoAndMask;
  Bytes dib(mask_at + (has_mask ? mask_stride * height : 0), 0);
  PutU32(dib, 0, 40);
  PutU32(dib, 4, width);
  PutU32(dib, 8, height * 2);
  PutU16(dib, 12, 1);
  PutU16(dib, 14, bits);
  PutU32(dib, 20, dib.size() - 40 - palette.size() * 4);
  PutU32(dib, 32, palette.size());
  for (std::size_t i = 0; i < palette.size(); ++i) {
    dib[40 + i * 4] = palette[i].blue;
    dib[40 + i * 4 + 1] = palette[i].green;
    dib[40 + i * 4 + 2] = palette[i].red;
  }
  for (int y = 0; y < height; ++y) {
    const std::size_t row = static_cast<std::size_t>(height - 1 - y);  // bottom-up
    BYTE* line = dib.data() + pixels_at + row * color_stride;
    for (int x = 0; x < width; ++x) {
      const Color c = picture(x, y);
      if (bits == 32 || bits == 24) {
        BYTE* p = line + static_cast<std::size_t>(x) * (bits / 8);
        p[0] = c.blue;
        p[1] = c.green;
        p[2] = c.red;
        if (bits == 32) p[3] = no_alpha ? 0 : c.alpha;
      } else {
        const auto at = std::find_if(palette.begin(), palette.end(), [&](const Color& s) { return SameRgb(s, c); });
        const unsigned index = static_cast<unsigned>(at - palette.begin());
        const int per_byte = 8 / bits;
        const int shift = 8 - bits * (x % per_byte + 1);
        line[x / per_byte] |= static_cast<BYTE>(index << shift);
      }
      if (has_mask && mask != MaskKind::kZeroAndMask && c.alpha < 128) {
        dib[mask_at + row * mask_stride + static_cast<std::size_t>(x) / 8] |= static_cast<BYTE>(0x80u >> (x % 8));
      }
    }
  }
  return dib;
}

namespace {

std::uint32_t Crc32(const BYTE* data, std::size_t size, std::uint32_t crc = 0) {
  crc = ~crc;
  for (std::size_t i = 0; i < size; ++i) {
    crc ^= data[i];
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

void PutU32BigEndian(Bytes* out, std::uint32_t value) {
  out->insert(out->end(), {static_cast<BYTE>(value >> 24), static_cast<BYTE>(value >> 16),
                           static_cast<BYTE>(value >> 8), static_cast<BYTE>(value)});
}

void PutPngChunk(Bytes* png, const char type[4], const Bytes& data) {
  PutU32BigEndian(png, static_cast<std::uint32_t>(data.size()));
  const std::size_t typed_at = png->size();
  png->insert(png->end(), type, type + 4);
  png->insert(png->end(), data.begin(), data.end());
  PutU32BigEndian(png, Crc32(png->data() + typed_at, 4 + data.size()));
}

// A zlib stream of stored (uncompressed) deflate blocks: every decoder
// reads it, and the sample needs no compression library.
Bytes StoredZlibStream(const Bytes& raw) {
  Bytes stream = {0x78, 0x01};
  std::size_t at = 0;
  do {
    const std::size_t size = std::min<std::size_t>(raw.size() - at, 65535);
    const bool last = at + size == raw.size();
    stream.insert(stream.end(), {static_cast<BYTE>(last ? 1 : 0), static_cast<BYTE>(size), static_cast<BYTE>(size >> 8),
                                 static_cast<BYTE>(~size), static_cast<BYTE>(~size >> 8)});
    stream.insert(stream.end(), raw.begin() + static_cast<std::ptrdiff_t>(at),
                  raw.begin() + static_cast<std::ptrdiff_t>(at + size));
    at += size;
  } while (at < raw.size());
  std::uint32_t a = 1, b = 0;
  for (BYTE byte : raw) {
    a = (a + byte) % 65521;
    b = (b + a) % 65521;
  }
  PutU32BigEndian(&stream, b << 16 | a);
  return stream;
}

}  // namespace

Bytes MakePng(int width, int height, const Picture& picture) {
  // 8-bit RGBA rows, each behind filter type 0 (none).
  Bytes raw;
  for (int y = 0; y < height; ++y) {
    raw.push_back(0);
    for (int x = 0; x < width; ++x) {
      const Color c = picture(x, y);
      raw.insert(raw.end(), {c.red, c.green, c.blue, c.alpha});
    }
  }
  Bytes png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  Bytes header;
  PutU32BigEndian(&header, static_cast<std::uint32_t>(width));
  PutU32BigEndian(&header, static_cast<std::uint32_t>(height));
  header.insert(header.end(), {8, 6, 0, 0, 0});  // depth 8, RGBA, deflate, adaptive filters, no interlace
  PutPngChunk(&png, "IHDR", header);
  PutPngChunk(&png, "IDAT", StoredZlibStream(raw));
  PutPngChunk(&png, "IEND", Bytes());
  return png;
}

IconImage DibImage(int width, int height, int bits, const Picture& picture, MaskKind mask) {
  return IconImage{width, height, bits, MakeDib(width, height, bits, picture, mask)};
}

IconImage PngImage(int width, int height, const Picture& picture) {
  return IconImage{width, height, 32, MakePng(width, height, picture)};
}

Bytes MakeIco(const std::vector<IconImage>& images) {
  Bytes ico(6 + 16 * images.size(), 0);
  PutU16(ico, 2, 1);
  PutU16(ico, 4, images.size());
  for (std::size_t i = 0; i < images.size(); ++i) {
    PutImageEntry(ico, 6 + 16 * i, images[i]);
    PutU32(ico, 6 + 16 * i + 12, ico.size());
    ico.insert(ico.end(), images[i].data.begin(), images[i].data.end());
  }
  return ico;
}

Bytes MakePe(bool pe32_plus, const std::vector<IconGroup>& groups) {
  constexpr std::uint32_t kSectionRva = 0x1000;
  std::vector<const IconImage*> icons;
  for (const IconGroup& group : groups) {
    for (const IconImage& image : group.images) icons.push_back(&image);
  }
  const std::size_t icon_count = icons.size();
  const std::size_t resource_count = icon_count + groups.size();

  // Layout of the tree: root, the two type directories, one language
  // directory and one data entry per resource, names, then the data.
  const std::size_t icon_dir = 32;
  const std::size_t group_dir = icon_dir + 16 + 8 * icon_count;
  const std::size_t languages = group_dir + 16 + 8 * groups.size();
  const std::size_t data_entries = languages + 24 * resource_count;
  std::size_t end = data_entries + 16 * resource_count;
  std::vector<std::size_t> name_at(groups.size(), 0);
  for (std::size_t g = 0; g < groups.size(); ++g) {
    if (groups[g].name.empty()) continue;
    name_at[g] = end;
    end += 2 + 2 * groups[g].name.size();
  }
  std::vector<Bytes> blobs;
  for (const IconImage* image : icons) blobs.push_back(image->data);
  std::uint16_t next_icon = 1;
  for (const IconGroup& group : groups) {
    Bytes directory(6 + 14 * group.images.size(), 0);
    PutU16(directory, 2, 1);
    PutU16(directory, 4, group.images.size());
    for (std::size_t i = 0; i < group.images.size(); ++i) {
      PutImageEntry(directory, 6 + 14 * i, group.images[i]);
      PutU16(directory, 6 + 14 * i + 12, next_icon++);
    }
    blobs.push_back(directory);
  }
  std::vector<std::size_t> blob_at;
  for (const Bytes& blob : blobs) {
    end = AlignUp(end, 4);
    blob_at.push_back(end);
    end += blob.size();
  }

  Bytes tree(end, 0);
  PutU16(tree, 14, 2);  // root: two numbered types, 3 then 14
  PutU32(tree, 16, 3);
  PutU32(tree, 20, 0x80000000u | icon_dir);
  PutU32(tree, 24, 14);
  PutU32(tree, 28, 0x80000000u | group_dir);
  PutU16(tree, icon_dir + 14, icon_count);
  const auto named = std::count_if(groups.begin(), groups.end(), [](const IconGroup& g) { return !g.name.empty(); });
  PutU16(tree, group_dir + 12, named);
  PutU16(tree, group_dir + 14, groups.size() - named);
  for (std::size_t r = 0; r < resource_count; ++r) {
    const std::size_t language = languages + 24 * r;
    const std::size_t data_entry = data_entries + 16 * r;
    const std::size_t g = r - icon_count;  // the group, for r at or past icon_count
    const std::size_t entry = r < icon_count ? icon_dir + 16 + 8 * r : group_dir + 16 + 8 * g;
    PutU32(tree, entry, r < icon_count              ? r + 1
                        : groups[g].name.empty() ? groups[g].number
                                                 : 0x80000000u | name_at[g]);
    PutU32(tree, entry + 4, 0x80000000u | language);
    PutU16(tree, language + 14, 1);
    PutU32(tree, language + 16, 0x409);
    PutU32(tree, language + 20, data_entry);
    PutU32(tree, data_entry, kSectionRva + blob_at[r]);
    PutU32(tree, data_entry + 4, blobs[r].size());
    std::copy(blobs[r].begin(), blobs[r].end(), tree.begin() + static_cast<std::ptrdiff_t>(blob_at[r]));
  }
  for (std::size_t g = 0; g < groups.size(); ++g) {
    if (groups[g].name.empty()) continue;
    PutU16(tree, name_at[g], groups[g].name.size());
    for (std::size_t i = 0; i < groups[g].name.size(); ++i) PutU16(tree, name_at[g] + 2 + 2 * i, groups[g].name[i]);
  }

  const std::size_t raw_size = AlignUp(tree.size(), 0x200);
  Bytes pe(kPeResourceOffset + raw_size, 0);
  std::copy_n("MZ", 2, pe.begin());
  PutU32(pe, 0x3C, kPeHeaderOffset);
  const std::size_t file_header = kPeHeaderOffset + 4;
  const std::size_t optional = file_header + 20;
  const std::uint32_t optional_size = pe32_plus ? 240 : 224;
  std::copy_n("PE", 2, pe.begin() + kPeHeaderOffset);
  PutU16(pe, file_header + 2, 1);
  PutU16(pe, file_header + 16, optional_size);
  PutU16(pe, optional, pe32_plus ? 0x20B : 0x10B);
  const std::size_t directories = optional + (pe32_plus ? 112 : 96);
  PutU32(pe, directories - 4, 16);
  PutU32(pe, directories + 16, kSectionRva);
  PutU32(pe, directories + 20, tree.size());
  const std::size_t section = optional + optional_size;
  PutU32(pe, section + 8, tree.size());
  PutU32(pe, section + 12, kSectionRva);
  PutU32(pe, section + 16, raw_size);
  PutU32(pe, section + 20, kPeResourceOffset);
  std::copy(tree.begin(), tree.end(), pe.begin() + kPeResourceOffset);
  return pe;
}

bool WriteBytes(const std::string& path, const Bytes& bytes) {
  return WriteWholeFile(path, std::string(bytes.begin(), bytes.end()));
}

Bytes ReadBytes(const std::string& path) {
  const std::string bytes = ReadWholeFile(path).value_or("");
  return Bytes(bytes.begin(), bytes.end());
}

}  // namespace feroq::testing
