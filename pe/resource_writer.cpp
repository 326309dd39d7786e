#include "pe/resource_writer.h"

#include <algorithm>
#include <cstring>

#include "pe/byte_source.h"
#include "pe/little_endian.h"

namespace {
constexpr std::uint32_t kSubdirectoryFlag = 0x80000000u;
constexpr std::uint32_t kResourceCharacteristics = 0x40000040u;  // initialized data, readable
// Keeps the image below 2 GiB: the top of a 32-bit process's user space, and for PE32+ the largest
// image Windows loads (its code reaches image data with 32-bit signed displacements).
constexpr std::uint64_t kImageLimit = 0x7FFF0000u;

std::uint64_t AlignUp(std::uint64_t value, std::uint64_t alignment) {
  return (value + alignment - 1) / alignment * alignment;
}

int CompareResources(const OutputResource& a, const OutputResource& b) {
  if (const int t = CompareResourceKeys(a.type, b.type)) return t;
  if (const int n = CompareResourceKeys(a.name, b.name)) return n;
  return a.language < b.language ? -1 : a.language > b.language ? 1 : 0;
}

// Groups of equal keys within sorted resources: [begin, end) ranges.
struct Range {
  std::size_t begin, end;
};
std::vector<Range> Groups(const std::vector<OutputResource>& r, std::size_t begin, std::size_t end,
                          bool byName) {
  std::vector<Range> groups;
  for (std::size_t i = begin; i < end;) {
    std::size_t j = i + 1;
    while (j < end && CompareResourceKeys(byName ? r[j].name : r[j].type,
                                          byName ? r[i].name : r[i].type) == 0) {
      ++j;
    }
    groups.push_back({i, j});
    i = j;
  }
  return groups;
}

// The output file, its running checksum and position.
struct Output {
  std::FILE* file;
  PeChecksum checksum;
  std::uint64_t position = 0;

  bool Write(const std::uint8_t* data, std::size_t size) {
    if (size && std::fwrite(data, 1, size, file) != size) return false;
    checksum.Add(data, size);
    position += size;
    return true;
  }
  bool PadTo(std::uint64_t offset) {
    static const std::uint8_t zeros[4096] = {};
    while (position < offset) {
      const std::size_t n =
          static_cast<std::size_t>(std::min<std::uint64_t>(offset - position, sizeof zeros));
      if (!Write(zeros, n)) return false;
    }
    return true;
  }
};

// Where the parts of a resource directory go: the tables of every level first, then the data
// entries, then the name strings. The types form groups of resources, and each type's names too.
struct DirectoryShape {
  std::vector<Range> types;
  std::vector<std::vector<Range>> names;  // the names of each type
  std::uint64_t entriesAt = 0;
  std::uint64_t stringsAt = 0;
  std::uint64_t size = 0;  // 8-byte aligned
};

DirectoryShape MeasureDirectory(const std::vector<OutputResource>& r) {
  DirectoryShape shape;
  shape.types = Groups(r, 0, r.size(), false);
  std::uint64_t tables = 16 + 8 * shape.types.size();
  std::uint64_t strings = 0;
  for (const Range& t : shape.types) {
    shape.names.push_back(Groups(r, t.begin, t.end, true));
    tables += 16 + 8 * shape.names.back().size();
    if (r[t.begin].type.isName) strings += 2 + 2 * r[t.begin].type.name.size();
    for (const Range& n : shape.names.back()) {
      tables += 16 + 8 * (n.end - n.begin);
      if (r[n.begin].name.isName) strings += 2 + 2 * r[n.begin].name.name.size();
    }
  }
  shape.entriesAt = tables;
  shape.stringsAt = shape.entriesAt + 16 * r.size();
  shape.size = AlignUp(shape.stringsAt + strings, 8);
  return shape;
}

// Fills in a directory front to back: the next table, name string and data entry go where these
// say.
struct DirectoryWriter {
  std::vector<std::uint8_t>& d;
  std::uint64_t nextTable;
  std::uint64_t nextString;
  std::uint64_t nextEntry;
};

// A table header for `count` entries, `named` of them by name; answers where its entries start.
std::uint64_t WriteTable(DirectoryWriter* w, std::uint16_t named, std::uint16_t ids,
                         std::uint64_t count) {
  const std::uint64_t at = w->nextTable;
  Put16(&w->d[at + 12], named);
  Put16(&w->d[at + 14], ids);
  w->nextTable += 16 + 8 * count;
  return at + 16;
}

// The table whose entries are `groups` of `r`, keyed by their type or by their name.
std::uint64_t WriteGroupTable(DirectoryWriter* w, const std::vector<Range>& groups, bool byName,
                              const std::vector<OutputResource>& r) {
  std::uint16_t named = 0, ids = 0;
  for (const Range& g : groups) {
    const ResourceKey& k = byName ? r[g.begin].name : r[g.begin].type;
    (k.isName ? named : ids)++;
  }
  return WriteTable(w, named, ids, groups.size());
}

// The entry at `slot`: its key (an id, or where its name string goes) and the table that comes
// next, below it.
void WriteSubdirectoryEntry(DirectoryWriter* w, std::uint64_t slot, const ResourceKey& k) {
  std::vector<std::uint8_t>& d = w->d;
  if (k.isName) {
    Put32(&d[slot], static_cast<std::uint32_t>(w->nextString) | kSubdirectoryFlag);
    Put16(&d[w->nextString], static_cast<std::uint16_t>(k.name.size()));
    for (std::size_t i = 0; i < k.name.size(); ++i) Put16(&d[w->nextString + 2 + 2 * i], k.name[i]);
    w->nextString += 2 + 2 * k.name.size();
  } else {
    Put32(&d[slot], k.id);
  }
  Put32(&d[slot + 4], static_cast<std::uint32_t>(w->nextTable) | kSubdirectoryFlag);
}

// The language table of the resources in `range` and their data entries, which place each
// resource's bytes at `dataAt` (from the section's start) and on, 8-byte aligned.
bool WriteLanguages(DirectoryWriter* w, const std::vector<OutputResource>& r, Range range,
                    std::uint32_t sectionRva, std::uint64_t* dataAt,
                    std::vector<std::uint64_t>* dataOffsets, std::string* error) {
  std::vector<std::uint8_t>& d = w->d;
  const std::uint64_t languages = WriteTable(
      w, 0, static_cast<std::uint16_t>(range.end - range.begin), range.end - range.begin);
  for (std::size_t i = range.begin; i < range.end; ++i) {
    const std::uint64_t lang = languages + 8 * (i - range.begin);
    Put32(&d[lang], r[i].language);
    Put32(&d[lang + 4], static_cast<std::uint32_t>(w->nextEntry));
    (*dataOffsets)[i] = *dataAt;
    if (sectionRva + *dataAt + r[i].size > kImageLimit) {
      *error = "the package is too large for a Windows image (about 2 GiB at most)";
      return false;
    }
    Put32(&d[w->nextEntry], static_cast<std::uint32_t>(sectionRva + *dataAt));
    Put32(&d[w->nextEntry + 4], r[i].size);
    Put32(&d[w->nextEntry + 8], r[i].codePage);
    w->nextEntry += 16;
    *dataAt = AlignUp(*dataAt + r[i].size, 8);
  }
  return true;
}

// Where the new resource section goes. The old one is replaced when nothing follows it, in memory
// or in the file; otherwise it stays where it is, unused, and the new one is appended, so that no
// other section moves and every RVA and relocation stays valid.
struct SectionPlace {
  bool replace = false;
  std::size_t index = 0;      // in the section table
  std::uint64_t keepEnd = 0;  // the end of the stub's bytes that the installer keeps
  std::uint32_t rva = 0;
};

// Extends the ends of the sections so far, in memory and in the file, over `s`.
void Cover(const PeSection& s, std::uint32_t sectionAlignment, std::uint64_t* virtualEnd,
           std::uint64_t* keepEnd) {
  *virtualEnd = std::max<std::uint64_t>(
      *virtualEnd, AlignUp(std::uint64_t{s.virtualAddress} + std::max(s.virtualSize, s.rawSize),
                           sectionAlignment));
  if (s.rawSize)
    *keepEnd = std::max<std::uint64_t>(*keepEnd, std::uint64_t{s.rawPointer} + s.rawSize);
}

bool PlaceSection(const PeImage& image, std::size_t stubSize, SectionPlace* place,
                  std::string* error) {
  const int old = image.resourceSection;
  std::uint64_t virtualEnd = 0;
  place->keepEnd = image.sizeOfHeaders;
  for (std::size_t i = 0; i < image.sections.size(); ++i) {
    if (static_cast<int>(i) != old) {
      Cover(image.sections[i], image.sectionAlignment, &virtualEnd, &place->keepEnd);
    }
  }
  if (old >= 0) {
    const PeSection& s = image.sections[old];
    place->replace =
        s.virtualAddress >= virtualEnd && (!s.rawSize || s.rawPointer >= place->keepEnd);
    if (!place->replace) Cover(s, image.sectionAlignment, &virtualEnd, &place->keepEnd);
  }
  if (virtualEnd > kImageLimit) {
    *error = "the stub's sections reach beyond 2 GiB";
    return false;
  }
  place->index = place->replace ? static_cast<std::size_t>(old) : image.sections.size();
  const std::uint64_t tableEnd = image.sectionTableOffset + kSectionHeaderSize * (place->index + 1);
  std::uint64_t firstRaw = image.sizeOfHeaders;
  for (const PeSection& s : image.sections) {
    if (s.rawSize) firstRaw = std::min<std::uint64_t>(firstRaw, s.rawPointer);
  }
  // Headers that claim to end before the section table, or past the file, are not patched.
  if (place->keepEnd > stubSize || tableEnd > image.sizeOfHeaders ||
      image.optionalHeaderOffset + image.dataDirectoriesOffset + 8 * (kSecurityDirectoryIndex + 1) >
          image.sectionTableOffset) {
    *error = "the stub's headers are inconsistent";
    return false;
  }
  if (tableEnd > firstRaw) {
    *error = "the stub's headers have no room for another section";
    return false;
  }
  place->rva =
      static_cast<std::uint32_t>(place->replace ? image.sections[old].virtualAddress : virtualEnd);
  return true;
}

// The new section's extent: where its raw data starts in the file, its sizes, and the image's.
struct SectionSize {
  std::uint64_t rawStart = 0;
  std::uint64_t rawSize = 0;
  std::uint64_t virtualSize = 0;
  std::uint64_t imageSize = 0;
};

bool SizeSection(const PeImage& image, const SectionPlace& place, std::uint64_t sectionSize,
                 std::uint64_t sizeLimit, SectionSize* size, std::string* error) {
  size->virtualSize = sectionSize;
  size->rawStart =
      AlignUp(place.keepEnd, std::max<std::uint32_t>(kResourceRawAlignment, image.fileAlignment));
  size->rawSize = AlignUp(sectionSize, image.fileAlignment);
  size->imageSize = AlignUp(place.rva + sectionSize, image.sectionAlignment);
  if (size->imageSize > kImageLimit || size->rawSize > 0xFFFFFFFFu ||
      size->rawStart > 0xFFFFFFFFu) {
    *error = "the package is too large for a Windows image (about 2 GiB at most)";
    return false;
  }
  if (size->imageSize > sizeLimit) {
    *error = "the installer would be " + std::to_string((size->imageSize + (1u << 20) - 1) >> 20) +
             " MiB, more than the " + std::to_string(sizeLimit >> 20) + " MiB an " +
             ArchName(image.arch) +
             " launcher is sure to load; leave large files out of the package "
             "(for example in the wares directory beside the installer)";
    return false;
  }
  return true;
}

// The kept part of the stub with the headers that the new section changes.
std::vector<std::uint8_t> PatchedHeaders(std::span<const std::uint8_t> stub, const PeImage& image,
                                         const SectionPlace& place, const SectionSize& size) {
  std::vector<std::uint8_t> head(stub.begin(),
                                 stub.begin() + static_cast<std::ptrdiff_t>(place.keepEnd));
  const std::uint32_t opt = image.optionalHeaderOffset;
  const std::uint32_t sections =
      static_cast<std::uint32_t>(place.replace ? image.sections.size() : image.sections.size() + 1);
  head[image.peOffset + 6] = static_cast<std::uint8_t>(sections);
  head[image.peOffset + 7] = static_cast<std::uint8_t>(sections >> 8);
  std::uint8_t* header = &head[image.sectionTableOffset + kSectionHeaderSize * place.index];
  std::memset(header, 0, kSectionHeaderSize);
  std::memcpy(header, ".rsrc", sizeof ".rsrc");  // the terminator too; the field is 8 bytes
  Put32(header + 8, static_cast<std::uint32_t>(size.virtualSize));
  Put32(header + 12, place.rva);
  Put32(header + 16, static_cast<std::uint32_t>(size.rawSize));
  Put32(header + 20, static_cast<std::uint32_t>(size.rawStart));
  Put32(header + 36, kResourceCharacteristics);
  std::uint32_t initialized = Le32(&head[opt + kOptSizeOfInitializedData]);
  if (place.replace) initialized -= image.sections[place.index].rawSize;
  Put32(&head[opt + kOptSizeOfInitializedData],
        initialized + static_cast<std::uint32_t>(size.rawSize));
  Put32(&head[opt + kOptSizeOfImage], static_cast<std::uint32_t>(size.imageSize));
  Put32(&head[opt + kOptCheckSum], 0);
  const std::uint32_t dirs = opt + image.dataDirectoriesOffset;
  Put32(&head[dirs + 8 * kResourceDirectoryIndex], place.rva);
  Put32(&head[dirs + 8 * kResourceDirectoryIndex + 4],
        static_cast<std::uint32_t>(size.virtualSize));
  // A signature of the stub would not match the new file: it is left out.
  Put32(&head[dirs + 8 * kSecurityDirectoryIndex], 0);
  Put32(&head[dirs + 8 * kSecurityDirectoryIndex + 4], 0);
  return head;
}

bool CannotWrite(std::string* error) {
  *error = "cannot write the installer";
  return false;
}

// Each resource's bytes at its place in the section: its own, the stub's, or the caller's.
bool WriteResourceData(Output* output, std::span<const std::uint8_t> stub,
                       const std::vector<OutputResource>& resources,
                       const std::vector<std::uint64_t>& dataOffsets, std::uint64_t rawStart,
                       const PayloadWriter& payload, std::string* error) {
  for (std::size_t i = 0; i < resources.size(); ++i) {
    const OutputResource& r = resources[i];
    if (!output->PadTo(rawStart + dataOffsets[i])) return CannotWrite(error);
    const std::uint64_t before = output->position;
    if (r.bytes) {
      if (r.bytes->size() != r.size || !output->Write(r.bytes->data(), r.size)) {
        return CannotWrite(error);
      }
    } else if (r.payload < 0) {
      if (r.stubOffset > stub.size() || r.size > stub.size() - r.stubOffset) {
        *error = "a stub resource lies outside the stub";
        return false;
      }
      if (!output->Write(stub.data() + r.stubOffset, r.size)) return CannotWrite(error);
    } else {
      const ByteWriter write = [&](const std::uint8_t* data, std::size_t size) {
        return output->Write(data, size);
      };
      if (!payload(r, write, error)) return false;
    }
    if (output->position - before != r.size) {
      *error = "entry " + KeyText(r.name) + " changed size while it was written";
      return false;
    }
  }
  return true;
}
}  // namespace

bool SortResources(std::vector<OutputResource>* resources, std::string* error) {
  std::stable_sort(
      resources->begin(), resources->end(),
      [](const OutputResource& a, const OutputResource& b) { return CompareResources(a, b) < 0; });
  for (std::size_t i = 1; i < resources->size(); ++i) {
    if (CompareResources((*resources)[i - 1], (*resources)[i]) == 0) {
      const OutputResource& r = (*resources)[i];
      *error = "two resources " + KeyText(r.type) + "/" + KeyText(r.name) + " in language " +
               std::to_string(r.language);
      return false;
    }
  }
  return true;
}

bool LayoutResourceDirectory(const std::vector<OutputResource>& r, std::uint32_t sectionRva,
                             std::vector<std::uint8_t>* directory,
                             std::vector<std::uint64_t>* dataOffsets, std::uint64_t* sectionSize,
                             std::string* error) {
  const DirectoryShape shape = MeasureDirectory(r);
  if (shape.size > 0x7FFFFFFF) {
    *error = "too many resources";
    return false;
  }
  directory->assign(shape.size, 0);
  DirectoryWriter w{*directory, 0, shape.stringsAt, shape.entriesAt};
  // Breadth first, as resource compilers lay it out: root, the type tables, the name tables.
  const std::uint64_t rootEntries = WriteGroupTable(&w, shape.types, false, r);
  std::vector<std::uint64_t> typeEntries;
  for (std::size_t t = 0; t < shape.types.size(); ++t) {
    WriteSubdirectoryEntry(&w, rootEntries + 8 * t, r[shape.types[t].begin].type);
    typeEntries.push_back(WriteGroupTable(&w, shape.names[t], true, r));
  }
  dataOffsets->assign(r.size(), 0);
  std::uint64_t dataAt = shape.size;
  for (std::size_t t = 0; t < shape.types.size(); ++t) {
    for (std::size_t n = 0; n < shape.names[t].size(); ++n) {
      const Range& range = shape.names[t][n];
      WriteSubdirectoryEntry(&w, typeEntries[t] + 8 * n, r[range.begin].name);
      if (!WriteLanguages(&w, r, range, sectionRva, &dataAt, dataOffsets, error)) return false;
    }
  }
  *sectionSize = r.empty() ? shape.size : dataOffsets->back() + r.back().size;
  return true;
}

bool WriteInstallerImage(std::span<const std::uint8_t> stub, const PeImage& image,
                         std::vector<OutputResource> resources, const PayloadWriter& payload,
                         std::FILE* out, std::string* error, std::uint64_t sizeLimit) {
  if (sizeLimit == 0) sizeLimit = InstallerSizeLimit(image.arch);
  if (image.numberOfRvaAndSizes <= kSecurityDirectoryIndex) {
    *error = "the stub has no room for a resource directory in its headers";
    return false;
  }
  SectionPlace place;
  if (!SortResources(&resources, error) || !PlaceSection(image, stub.size(), &place, error)) {
    return false;
  }
  std::vector<std::uint8_t> directory;
  std::vector<std::uint64_t> dataOffsets;
  std::uint64_t sectionSize = 0;
  SectionSize size;
  if (!LayoutResourceDirectory(resources, place.rva, &directory, &dataOffsets, &sectionSize,
                               error) ||
      !SizeSection(image, place, sectionSize, sizeLimit, &size, error)) {
    return false;
  }
  const std::vector<std::uint8_t> head = PatchedHeaders(stub, image, place, size);
  const std::uint32_t checkSumAt = image.optionalHeaderOffset + kOptCheckSum;
  Output output{out, PeChecksum(checkSumAt)};
  if (!output.Write(head.data(), head.size()) || !output.PadTo(size.rawStart) ||
      !output.Write(directory.data(), directory.size())) {
    return CannotWrite(error);
  }
  if (!WriteResourceData(&output, stub, resources, dataOffsets, size.rawStart, payload, error)) {
    return false;
  }
  if (!output.PadTo(size.rawStart + size.rawSize)) return CannotWrite(error);
  // The checksum covers every byte before it is known: it goes in last, over the zeros written.
  std::uint8_t sum[4];
  Put32(sum, output.checksum.Finish());
  if (std::fflush(out) != 0 || !SeekFile(out, checkSumAt) || std::fwrite(sum, 1, 4, out) != 4 ||
      std::fflush(out) != 0) {
    return CannotWrite(error);
  }
  return true;
}
