// Icon groups in the resources of PE executables and libraries (PE32 and
// PE32+).
//
// Layout read here: the DOS header's e_lfanew (offset 0x3C) points at
// "PE\0\0", the 20-byte file header (section count at +2, optional header
// size at +16) and the optional header, whose data directory 2 gives the
// resource tree's address and size. Addresses are RVAs, mapped to file
// offsets through the section table (40-byte entries: virtual size +8,
// virtual address +12, raw size +16, raw offset +20); only bytes stored in
// the file are read.
//
// The resource tree has three levels: type, then name or number, then
// language. A directory is 16 bytes (named entry count at +12, numbered
// entry count at +14) followed by its 8-byte entries, named ones first. An
// entry's second word has its top bit set when it points at a subdirectory;
// otherwise it points at a 16-byte data entry (data RVA, size). Offsets are
// from the start of the tree. The walk always descends exactly three levels
// and takes the first language, so a tree that points back into itself
// cannot make it loop.
//
// An icon group (RT_GROUP_ICON, type 14) holds a 6-byte header (reserved,
// type, count) and 14-byte entries whose last word is the number of an icon
// resource (RT_ICON, type 3) holding one image.
#include <algorithm>

#include "platform/portable/icon_containers.h"

namespace feroq::platform::icons {

namespace {

constexpr std::uint32_t kResourceTypeIcon = 3;
constexpr std::uint32_t kResourceTypeGroupIcon = 14;
constexpr std::uint32_t kSubdirectoryBit = 0x80000000u;
constexpr std::uint32_t kNamedEntryBit = 0x80000000u;
constexpr std::uint16_t kMagicPe32 = 0x10B;
constexpr std::uint16_t kMagicPe32Plus = 0x20B;
constexpr std::uint32_t kResourceDirectoryIndex = 2;

struct Section {
  std::uint32_t virtual_address;
  std::uint32_t virtual_size;
  std::uint32_t raw_offset;
  std::uint32_t raw_size;
};

// The file with its sections sorted by virtual address, so that an RVA is
// mapped in logarithmic time whatever the section count.
class PeImage {
 public:
  explicit PeImage(ByteView file) : file_(file) {}

  // kIconOk, kIconNotAnIconFile (no PE signature), kIconUnreadable.
  IconExtractResult ReadHeaders();
  // True when the image has a resource tree.
  bool has_resources() const { return resource_rva_ != 0 && resource_size_ != 0; }
  std::uint32_t resource_rva() const { return resource_rva_; }

  // The `length` bytes stored in the file at `rva`.
  bool Map(std::uint32_t rva, std::uint64_t length, ByteView* out) const;
  // The bytes stored in the file from `rva` to the end of its section.
  bool MapToSectionEnd(std::uint32_t rva, ByteView* out) const;

 private:
  const Section* SectionOf(std::uint32_t rva) const;

  ByteView file_;
  std::vector<Section> sections_;
  std::uint32_t resource_rva_ = 0;
  std::uint32_t resource_size_ = 0;
};

IconExtractResult PeImage::ReadHeaders() {
  std::uint32_t pe_offset = 0;
  if (!file_.U32(0x3C, &pe_offset) || !file_.Contains(pe_offset, 4)) return kIconNotAnIconFile;
  const BYTE* signature = file_.data() + pe_offset;
  if (signature[0] != 'P' || signature[1] != 'E' || signature[2] != 0 || signature[3] != 0) {
    return kIconNotAnIconFile;
  }
  const std::uint64_t file_header = std::uint64_t{pe_offset} + 4;
  const std::uint64_t optional_header = file_header + 20;
  std::uint16_t section_count = 0;
  std::uint16_t optional_size = 0;
  std::uint16_t magic = 0;
  if (!file_.U16(file_header + 2, &section_count) || !file_.U16(file_header + 16, &optional_size) ||
      !file_.U16(optional_header, &magic)) {
    return kIconUnreadable;
  }
  std::uint64_t count_offset = 0;
  if (magic == kMagicPe32) {
    count_offset = 92;
  } else if (magic == kMagicPe32Plus) {
    count_offset = 108;
  } else {
    return kIconUnreadable;
  }
  std::uint32_t directory_count = 0;
  if (!file_.U32(optional_header + count_offset, &directory_count)) return kIconUnreadable;
  const std::uint64_t resource_entry = count_offset + 4 + 8 * kResourceDirectoryIndex;
  if (directory_count > kResourceDirectoryIndex && resource_entry + 8 <= optional_size) {
    if (!file_.U32(optional_header + resource_entry, &resource_rva_) ||
        !file_.U32(optional_header + resource_entry + 4, &resource_size_)) {
      return kIconUnreadable;
    }
  }

  const std::uint64_t table = optional_header + optional_size;
  if (!file_.Contains(table, std::uint64_t{40} * section_count)) return kIconUnreadable;
  sections_.reserve(section_count);
  for (std::uint64_t i = 0; i < section_count; ++i) {
    const std::uint64_t entry = table + 40 * i;
    Section s{};
    file_.U32(entry + 8, &s.virtual_size);
    file_.U32(entry + 12, &s.virtual_address);
    file_.U32(entry + 16, &s.raw_size);
    file_.U32(entry + 20, &s.raw_offset);
    sections_.push_back(s);
  }
  std::stable_sort(sections_.begin(), sections_.end(), [](const Section& a, const Section& b) {
    return a.virtual_address < b.virtual_address;
  });
  return kIconOk;
}

const Section* PeImage::SectionOf(std::uint32_t rva) const {
  auto after = std::upper_bound(sections_.begin(), sections_.end(), rva,
                                [](std::uint32_t value, const Section& s) { return value < s.virtual_address; });
  if (after == sections_.begin()) return nullptr;
  const Section& section = *(after - 1);
  const std::uint32_t extent = std::max(section.virtual_size, section.raw_size);
  if (rva - section.virtual_address >= extent) return nullptr;
  return &section;
}

bool PeImage::Map(std::uint32_t rva, std::uint64_t length, ByteView* out) const {
  const Section* section = SectionOf(rva);
  if (section == nullptr) return false;
  const std::uint64_t into = rva - section->virtual_address;
  if (into > section->raw_size || length > section->raw_size - into) return false;
  return file_.Sub(std::uint64_t{section->raw_offset} + into, length, out);
}

bool PeImage::MapToSectionEnd(std::uint32_t rva, ByteView* out) const {
  const Section* section = SectionOf(rva);
  if (section == nullptr) return false;
  const std::uint64_t into = rva - section->virtual_address;
  if (into >= section->raw_size) return false;
  return file_.Tail(std::uint64_t{section->raw_offset} + into, section->raw_size - into, out) &&
         !out->empty();
}

// One directory of the resource tree.
struct ResourceDirectory {
  std::uint64_t entries = 0;  // offset of the first entry in the tree
  std::uint32_t named = 0;
  std::uint32_t numbered = 0;

  std::uint32_t total() const { return named + numbered; }
};

bool ReadDirectory(ByteView tree, std::uint32_t offset, ResourceDirectory* directory) {
  std::uint16_t named = 0;
  std::uint16_t numbered = 0;
  if (!tree.U16(std::uint64_t{offset} + 12, &named) || !tree.U16(std::uint64_t{offset} + 14, &numbered)) {
    return false;
  }
  directory->entries = std::uint64_t{offset} + 16;
  directory->named = named;
  directory->numbered = numbered;
  return tree.Contains(directory->entries, std::uint64_t{8} * directory->total());
}

// The two words of entry `i` of `directory` (known to lie inside the tree).
void ReadEntry(ByteView tree, const ResourceDirectory& directory, std::uint32_t i, std::uint32_t* name,
               std::uint32_t* target) {
  tree.U32(directory.entries + std::uint64_t{8} * i, name);
  tree.U32(directory.entries + std::uint64_t{8} * i + 4, target);
}

// The numbered subdirectory `number` of `directory`; false when it is absent.
// A matching entry that is not a subdirectory sets `*damaged`.
bool FindNumbered(ByteView tree, const ResourceDirectory& directory, std::uint32_t number,
                  std::uint32_t* subdirectory, bool* damaged) {
  for (std::uint32_t i = directory.named; i < directory.total(); ++i) {
    std::uint32_t name = 0;
    std::uint32_t target = 0;
    ReadEntry(tree, directory, i, &name, &target);
    if ((name & kNamedEntryBit) != 0 || name != number) continue;
    if ((target & kSubdirectoryBit) == 0) {
      *damaged = true;
      return false;
    }
    *subdirectory = target & ~kSubdirectoryBit;
    return true;
  }
  return false;
}

// The data of the resource whose second-level entry points at `target`:
// its first language's data entry, mapped into the file.
bool ResourceData(const PeImage& image, ByteView tree, std::uint32_t target, ByteView* data) {
  if ((target & kSubdirectoryBit) == 0) return false;
  ResourceDirectory languages;
  if (!ReadDirectory(tree, target & ~kSubdirectoryBit, &languages) || languages.total() == 0) return false;
  std::uint32_t name = 0;
  std::uint32_t data_entry = 0;
  ReadEntry(tree, languages, 0, &name, &data_entry);
  if ((data_entry & kSubdirectoryBit) != 0) return false;
  std::uint32_t rva = 0;
  std::uint32_t size = 0;
  if (!tree.U32(data_entry, &rva) || !tree.U32(std::uint64_t{data_entry} + 4, &size)) return false;
  return image.Map(rva, size, data);
}

struct NumberedEntry {
  std::uint32_t number;
  std::uint32_t target;
};

}  // namespace

IconExtractResult ReadPeIconGroup(ByteView file, LONG index, std::vector<ByteView>* images,
                                  std::uint32_t* group_count) {
  if (!LooksLikeExecutable(file)) return kIconNotAnIconFile;
  PeImage image(file);
  if (const IconExtractResult headers = image.ReadHeaders(); headers != kIconOk) return headers;
  if (group_count != nullptr) *group_count = 0;
  if (!image.has_resources()) return group_count != nullptr ? kIconOk : kIconNotAnIconFile;

  ByteView tree;
  ResourceDirectory types;
  if (!image.MapToSectionEnd(image.resource_rva(), &tree) || !ReadDirectory(tree, 0, &types)) {
    return kIconUnreadable;
  }
  bool damaged = false;
  std::uint32_t groups_offset = 0;
  if (!FindNumbered(tree, types, kResourceTypeGroupIcon, &groups_offset, &damaged)) {
    if (damaged) return kIconUnreadable;
    return group_count != nullptr ? kIconOk : kIconNotAnIconFile;
  }
  ResourceDirectory groups;
  if (!ReadDirectory(tree, groups_offset, &groups)) return kIconUnreadable;
  if (group_count != nullptr) {
    *group_count = groups.total();
    return kIconOk;
  }

  // The group entry the index selects.
  std::uint32_t group_target = 0;
  bool found = false;
  if (index >= 0) {
    if (static_cast<std::uint32_t>(index) < groups.total()) {
      std::uint32_t name = 0;
      ReadEntry(tree, groups, static_cast<std::uint32_t>(index), &name, &group_target);
      found = true;
    }
  } else {
    const std::uint32_t number = 0u - static_cast<std::uint32_t>(index);
    for (std::uint32_t i = groups.named; i < groups.total() && !found; ++i) {
      std::uint32_t name = 0;
      ReadEntry(tree, groups, i, &name, &group_target);
      found = (name & kNamedEntryBit) == 0 && name == number;
    }
  }
  if (!found) return kIconNotAnIconFile;

  ByteView group;
  std::uint16_t group_type = 0;
  std::uint16_t entry_count = 0;
  if (!ResourceData(image, tree, group_target, &group) || !group.U16(2, &group_type) ||
      !group.U16(4, &entry_count) || group_type != 1 || entry_count == 0 ||
      !group.Contains(6, std::uint64_t{14} * entry_count)) {
    return kIconUnreadable;
  }

  // The icon resources by number, for lookup of the group's entries.
  std::uint32_t icons_offset = 0;
  ResourceDirectory icons;
  if (!FindNumbered(tree, types, kResourceTypeIcon, &icons_offset, &damaged) ||
      !ReadDirectory(tree, icons_offset, &icons)) {
    return kIconUnreadable;
  }
  std::vector<NumberedEntry> numbered;
  numbered.reserve(icons.numbered);
  for (std::uint32_t i = icons.named; i < icons.total(); ++i) {
    NumberedEntry entry{};
    ReadEntry(tree, icons, i, &entry.number, &entry.target);
    if ((entry.number & kNamedEntryBit) == 0) numbered.push_back(entry);
  }
  std::stable_sort(numbered.begin(), numbered.end(),
                   [](const NumberedEntry& a, const NumberedEntry& b) { return a.number < b.number; });

  images->clear();
  images->reserve(entry_count);
  for (std::uint64_t i = 0; i < entry_count; ++i) {
    std::uint16_t icon_number = 0;
    group.U16(6 + 14 * i + 12, &icon_number);
    auto match = std::lower_bound(numbered.begin(), numbered.end(), std::uint32_t{icon_number},
                                  [](const NumberedEntry& e, std::uint32_t n) { return e.number < n; });
    if (match == numbered.end() || match->number != icon_number) continue;
    ByteView data;
    if (ResourceData(image, tree, match->target, &data) && !data.empty()) images->push_back(data);
  }
  return images->empty() ? kIconUnreadable : kIconOk;
}

}  // namespace feroq::platform::icons
