#include "pe/image.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "pe/little_endian.h"
#include "pe/utf16.h"

namespace {
constexpr std::uint16_t kPe32Magic = 0x10B;
constexpr std::uint16_t kPe32PlusMagic = 0x20B;
constexpr std::uint16_t kMachineI386 = 0x14C;
constexpr std::uint16_t kMachineAmd64 = 0x8664;
constexpr std::uint32_t kMaxSections = 96;              // the loader's own limit
constexpr std::size_t kMaxResourceItems = 1'000'000;    // far beyond any real package
constexpr std::size_t kMaxDirectoryVisits = 2'000'000;  // bounds the work on shared subtrees
constexpr std::uint32_t kSubdirectoryFlag = 0x80000000u;

bool IsPowerOfTwo(std::uint32_t v) { return v != 0 && (v & (v - 1)) == 0; }

struct TreeReader {
  const ByteSource& source;
  const PeImage& image;
  std::uint32_t rootRva;
  std::uint32_t rootSize;
  std::size_t visits = 0;
  std::string* error;

  bool Fail(const std::string& text) {
    *error = "resource directory: " + text;
    return false;
  }

  // Reads `size` bytes at `offset` from the start of the resource directory.
  bool ReadAt(std::uint32_t offset, std::span<std::uint8_t> out) {
    std::uint64_t fileOffset = 0;
    if (out.empty()) return true;
    if (offset >= rootSize || out.size() > rootSize - offset ||
        !RvaToFileOffset(image, rootRva + offset, static_cast<std::uint32_t>(out.size()),
                         &fileOffset) ||
        !source.Read(fileOffset, out)) {
      return Fail("a table lies outside the resource data");
    }
    return true;
  }

  bool ReadKey(std::uint32_t raw, ResourceKey* key) {
    if (!(raw & kSubdirectoryFlag)) {
      if (raw > 0xFFFF) return Fail("an id above 65535");
      *key = IdKey(static_cast<std::uint16_t>(raw));
      return true;
    }
    const std::uint32_t offset = raw & ~kSubdirectoryFlag;
    std::uint8_t lengthBytes[2];
    if (!ReadAt(offset, lengthBytes)) return false;
    const std::uint16_t length = Le16(lengthBytes);
    std::vector<std::uint8_t> bytes(std::size_t{length} * 2);
    if (!ReadAt(offset + 2, bytes)) return false;
    std::u16string name(length, u'\0');
    for (std::size_t i = 0; i < length; ++i) name[i] = static_cast<char16_t>(Le16(&bytes[2 * i]));
    *key = NamedKey(name);
    return true;
  }

  struct Entry {
    ResourceKey key;
    bool subdirectory;
    std::uint32_t offset;
  };

  bool ReadDirectory(std::uint32_t offset, std::vector<Entry>* entries) {
    if (++visits > kMaxDirectoryVisits) return Fail("too many directories");
    std::uint8_t head[16];
    if (!ReadAt(offset, head)) return false;
    const std::size_t count = std::size_t{Le16(head + 12)} + Le16(head + 14);
    std::vector<std::uint8_t> raw(count * 8);
    if (!ReadAt(offset + 16, raw)) return false;
    entries->clear();
    entries->reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
      Entry e;
      if (!ReadKey(Le32(&raw[8 * i]), &e.key)) return false;
      const std::uint32_t target = Le32(&raw[8 * i + 4]);
      e.subdirectory = (target & kSubdirectoryFlag) != 0;
      e.offset = target & ~kSubdirectoryFlag;
      entries->push_back(std::move(e));
    }
    return true;
  }

  // One leaf of the tree: the data entry that says where a resource's bytes are.
  bool ReadItem(const Entry& type, const Entry& name, const Entry& language,
                std::vector<ResourceItem>* items) {
    if (language.subdirectory || language.key.isName) {
      return Fail("a language entry that is not a data entry");
    }
    if (items->size() >= kMaxResourceItems) return Fail("too many resources");
    std::uint8_t data[16];
    if (!ReadAt(language.offset, data)) return false;
    ResourceItem item;
    item.type = type.key;
    item.name = name.key;
    item.language = language.key.id;
    const std::uint32_t rva = Le32(data);
    item.size = Le32(data + 4);
    item.codePage = Le32(data + 8);
    if (!RvaToFileOffset(image, rva, item.size, &item.fileOffset)) {
      return Fail("the data of " + KeyText(type.key) + "/" + KeyText(name.key) +
                  " lies outside the file");
    }
    items->push_back(std::move(item));
    return true;
  }

  // Types, their names, the names' languages: three levels, as Windows reads them.
  bool ReadTree(std::vector<ResourceItem>* items) {
    std::vector<Entry> types, names, languages;
    if (!ReadDirectory(0, &types)) return false;
    for (const Entry& type : types) {
      if (!type.subdirectory) return Fail("a type without a name directory");
      if (!ReadDirectory(type.offset, &names)) return false;
      for (const Entry& name : names) {
        if (!name.subdirectory) return Fail("a name without a language directory");
        if (!ReadDirectory(name.offset, &languages)) return false;
        for (const Entry& language : languages) {
          if (!ReadItem(type, name, language, items)) return false;
        }
      }
    }
    return true;
  }
};

// The DOS header, the PE signature and file header, and the optional header's bytes, which tell
// the kind of image.
bool ReadFileHeaders(const ByteSource& source, PeImage* image, std::vector<std::uint8_t>* opt,
                     std::string* error) {
  std::uint8_t dos[64];
  if (!source.Read(0, dos) || dos[0] != 'M' || dos[1] != 'Z') {
    *error = "not a Windows executable (no MZ header)";
    return false;
  }
  image->peOffset = Le32(dos + 0x3C);
  std::uint8_t coff[24];
  if (!source.Read(image->peOffset, coff) || coff[0] != 'P' || coff[1] != 'E' || coff[2] ||
      coff[3]) {
    *error = "not a PE image (no PE signature)";
    return false;
  }
  const std::uint16_t machine = Le16(coff + 4);
  image->numberOfSections = Le16(coff + 6);
  image->timeDateStamp = Le32(coff + 8);
  image->pointerToSymbolTable = Le32(coff + 12);
  const std::uint16_t optionalSize = Le16(coff + 20);
  image->optionalHeaderOffset = image->peOffset + 24;
  opt->assign(optionalSize, 0);
  if (optionalSize < kOptDataDirectoriesPe32 || !source.Read(image->optionalHeaderOffset, *opt)) {
    *error = "truncated optional header";
    return false;
  }
  const std::uint16_t magic = Le16(opt->data());
  if (magic == kPe32Magic && machine == kMachineI386) {
    image->arch = PeArch::kX86;
    image->dataDirectoriesOffset = kOptDataDirectoriesPe32;
  } else if (magic == kPe32PlusMagic && machine == kMachineAmd64) {
    image->arch = PeArch::kX64;
    image->dataDirectoriesOffset = kOptDataDirectoriesPe32Plus;
  } else {
    char text[96];
    std::snprintf(text, sizeof text,
                  "neither an x86 (PE32) nor an x64 (PE32+) image (magic 0x%X, machine 0x%X)",
                  magic, machine);
    *error = text;
    return false;
  }
  return true;
}

// The optional header's alignments, sizes and data directories.
bool ReadOptionalHeader(std::span<const std::uint8_t> opt, PeImage* image, std::string* error) {
  image->sectionAlignment = Le32(&opt[32]);
  image->fileAlignment = Le32(&opt[36]);
  image->sizeOfImage = Le32(&opt[kOptSizeOfImage]);
  image->sizeOfHeaders = Le32(&opt[kOptSizeOfHeaders]);
  image->checkSum = Le32(&opt[kOptCheckSum]);
  // NumberOfRvaAndSizes is the field just before the data directories.
  if (image->dataDirectoriesOffset > opt.size()) {
    *error = "truncated optional header";
    return false;
  }
  image->numberOfRvaAndSizes = Le32(&opt[image->dataDirectoriesOffset - 4]);
  if (!IsPowerOfTwo(image->fileAlignment) || !IsPowerOfTwo(image->sectionAlignment) ||
      image->fileAlignment > 0x10000 || image->sectionAlignment < image->fileAlignment) {
    *error = "invalid section or file alignment";
    return false;
  }
  const std::uint32_t directoryCount =
      std::min<std::uint32_t>(image->numberOfRvaAndSizes, kDataDirectoryCount);
  const std::uint32_t dirs = image->dataDirectoriesOffset;
  if (dirs + 8 * directoryCount > opt.size()) {
    *error = "the optional header is too small for its data directories";
    return false;
  }
  for (std::uint32_t i = 0; i < directoryCount; ++i) {
    image->directories[i] = {Le32(&opt[dirs + 8 * i]), Le32(&opt[dirs + 8 * i + 4])};
  }
  return true;
}

// The section table, right after the optional header, and where the sections' raw data ends.
bool ReadSectionTable(const ByteSource& source, std::size_t optionalSize, PeImage* image,
                      std::string* error) {
  if (image->numberOfSections > kMaxSections) {
    *error = "too many sections";
    return false;
  }
  image->sectionTableOffset =
      image->optionalHeaderOffset + static_cast<std::uint32_t>(optionalSize);
  std::vector<std::uint8_t> table(std::size_t{image->numberOfSections} * kSectionHeaderSize);
  if (!source.Read(image->sectionTableOffset, table)) {
    *error = "truncated section table";
    return false;
  }
  image->endOfSections = std::min<std::uint64_t>(image->sizeOfHeaders, image->fileSize);
  for (std::size_t i = 0; i < image->numberOfSections; ++i) {
    const std::uint8_t* h = &table[i * kSectionHeaderSize];
    PeSection s;
    std::copy(h, h + 8, s.name);
    s.virtualSize = Le32(h + 8);
    s.virtualAddress = Le32(h + 12);
    s.rawSize = Le32(h + 16);
    s.rawPointer = Le32(h + 20);
    s.characteristics = Le32(h + 36);
    if (s.rawSize && std::uint64_t{s.rawPointer} + s.rawSize > image->fileSize) {
      *error = "section " + std::string(s.name, strnlen(s.name, 8)) + " extends past the file";
      return false;
    }
    if (s.rawSize)
      image->endOfSections =
          std::max<std::uint64_t>(image->endOfSections, std::uint64_t{s.rawPointer} + s.rawSize);
    image->sections.push_back(s);
  }
  return true;
}

// What lies past the sections: a signature where the security directory says so, and anything
// else, which a new resource section would not keep.
bool MeasureTrailingData(PeImage* image, std::string* error) {
  const DataDirectory security = image->directories[kSecurityDirectoryIndex];
  std::uint64_t signatureBytes = 0;
  if (security.size) {
    if (security.address < image->endOfSections ||
        std::uint64_t{security.address} + security.size > image->fileSize) {
      *error = "the signature lies outside the file's trailing data";
      return false;
    }
    image->signature = true;
    signatureBytes = security.size;
  }
  image->trailingBytes = image->fileSize - image->endOfSections - signatureBytes;
  // Signing tools pad the file to 8 bytes before the certificate table.
  if (image->signature && image->trailingBytes < 8) image->trailingBytes = 0;
  return true;
}

// The section that holds the resource directory, and the resource tree.
bool ReadResources(const ByteSource& source, PeImage* image, std::string* error) {
  const DataDirectory resources = image->directories[kResourceDirectoryIndex];
  if (resources.address == 0 || resources.size == 0) return true;
  for (std::size_t i = 0; i < image->sections.size(); ++i) {
    const PeSection& s = image->sections[i];
    const std::uint32_t extent = std::max(s.virtualSize, s.rawSize);
    if (resources.address >= s.virtualAddress && resources.address - s.virtualAddress < extent) {
      image->resourceSection = static_cast<int>(i);
      break;
    }
  }
  if (image->resourceSection < 0) {
    *error = "resource directory: not inside any section";
    return false;
  }
  TreeReader reader{source, *image, resources.address, resources.size, 0, error};
  return reader.ReadTree(&image->resources);
}
}  // namespace

const char* ArchDescription(PeArch arch) {
  return arch == PeArch::kX86 ? "a 32-bit (x86, PE32) image" : "a 64-bit (x64, PE32+) image";
}

ResourceKey NamedKey(std::u16string_view name) {
  ResourceKey key;
  key.isName = true;
  key.name = name;
  return key;
}

ResourceKey IdKey(std::uint16_t id) {
  ResourceKey key;
  key.id = id;
  return key;
}

int CompareResourceKeys(const ResourceKey& a, const ResourceKey& b) {
  if (a.isName != b.isName) return a.isName ? -1 : 1;
  if (!a.isName) return a.id < b.id ? -1 : a.id > b.id ? 1 : 0;
  const std::size_t n = std::min(a.name.size(), b.name.size());
  for (std::size_t i = 0; i < n; ++i) {
    const char16_t x = UpcaseUtf16(a.name[i]), y = UpcaseUtf16(b.name[i]);
    if (x != y) return x < y ? -1 : 1;
  }
  return a.name.size() < b.name.size() ? -1 : a.name.size() > b.name.size() ? 1 : 0;
}

bool RvaToFileOffset(const PeImage& image, std::uint32_t rva, std::uint32_t size,
                     std::uint64_t* offset) {
  for (const PeSection& s : image.sections) {
    if (rva < s.virtualAddress) continue;
    const std::uint64_t delta = rva - s.virtualAddress;
    if (delta + size > s.rawSize) continue;
    const std::uint64_t at = std::uint64_t{s.rawPointer} + delta;
    if (at + size > image.fileSize) return false;
    *offset = at;
    return true;
  }
  return false;
}

bool ReadPeImage(const ByteSource& source, PeImage* image, std::string* error) {
  *image = PeImage{};
  image->fileSize = source.Size();
  std::vector<std::uint8_t> optionalHeader;
  return ReadFileHeaders(source, image, &optionalHeader, error) &&
         ReadOptionalHeader(optionalHeader, image, error) &&
         ReadSectionTable(source, optionalHeader.size(), image, error) &&
         MeasureTrailingData(image, error) && ReadResources(source, image, error);
}

void PeChecksum::Add(const std::uint8_t* data, std::size_t size) {
  for (std::size_t i = 0; i < size; ++i, ++position_) {
    const std::uint32_t byte = position_ >= skip_ && position_ < skip_ + 4 ? 0 : data[i];
    // Little-endian 16-bit words, folded with their carries as they are added.
    sum_ += (position_ & 1) ? byte << 8 : byte;
    sum_ = (sum_ & 0xFFFF) + (sum_ >> 16);
  }
}

std::uint32_t PeChecksum::Finish() const {
  const std::uint32_t folded = (sum_ & 0xFFFF) + (sum_ >> 16);
  return static_cast<std::uint32_t>((folded & 0xFFFF) + position_);
}

std::string KeyText(const ResourceKey& key) {
  return key.isName ? Utf16ToUtf8(key.name) : "#" + std::to_string(key.id);
}
