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
  const std::vector<Range> types = Groups(r, 0, r.size(), false);
  std::vector<std::vector<Range>> names;
  std::uint64_t tables = 16 + 8 * types.size();
  std::uint64_t strings = 0;
  for (const Range& t : types) {
    names.push_back(Groups(r, t.begin, t.end, true));
    tables += 16 + 8 * names.back().size();
    if (r[t.begin].type.isName) strings += 2 + 2 * r[t.begin].type.name.size();
    for (const Range& n : names.back()) {
      tables += 16 + 8 * (n.end - n.begin);
      if (r[n.begin].name.isName) strings += 2 + 2 * r[n.begin].name.name.size();
    }
  }
  const std::uint64_t entriesAt = tables;
  const std::uint64_t stringsAt = entriesAt + 16 * r.size();
  const std::uint64_t directorySize = AlignUp(stringsAt + strings, 8);
  if (directorySize > 0x7FFFFFFF) {
    *error = "too many resources";
    return false;
  }
  directory->assign(directorySize, 0);
  std::vector<std::uint8_t>& d = *directory;
  std::uint64_t nextTable = 0, nextString = stringsAt;

  // Writes a table header at nextTable and returns where its entries start.
  auto table = [&](const std::vector<Range>& groups, bool byName, bool leaf,
                   const std::vector<OutputResource>& items, std::size_t begin, std::size_t end) {
    const std::uint64_t at = nextTable;
    std::uint16_t named = 0, ids = 0;
    if (leaf) {
      ids = static_cast<std::uint16_t>(end - begin);
    } else {
      for (const Range& g : groups) {
        const ResourceKey& k = byName ? items[g.begin].name : items[g.begin].type;
        (k.isName ? named : ids)++;
      }
    }
    Put16(&d[at + 12], named);
    Put16(&d[at + 14], ids);
    nextTable += 16 + 8 * (leaf ? end - begin : groups.size());
    return at + 16;
  };
  auto key = [&](std::uint64_t at, const ResourceKey& k) {
    if (!k.isName) {
      Put32(&d[at], k.id);
      return;
    }
    Put32(&d[at], static_cast<std::uint32_t>(nextString) | kSubdirectoryFlag);
    Put16(&d[nextString], static_cast<std::uint16_t>(k.name.size()));
    for (std::size_t i = 0; i < k.name.size(); ++i) Put16(&d[nextString + 2 + 2 * i], k.name[i]);
    nextString += 2 + 2 * k.name.size();
  };

  // Breadth first, as resource compilers lay it out: root, the type tables, the name tables.
  const std::uint64_t rootEntries = table(types, false, false, r, 0, 0);
  std::vector<std::uint64_t> typeEntries;
  for (std::size_t t = 0; t < types.size(); ++t) {
    const std::uint64_t slot = rootEntries + 8 * t;
    key(slot, r[types[t].begin].type);
    Put32(&d[slot + 4], static_cast<std::uint32_t>(nextTable) | kSubdirectoryFlag);
    typeEntries.push_back(table(names[t], true, false, r, 0, 0));
  }
  std::uint64_t nextEntry = entriesAt;
  dataOffsets->assign(r.size(), 0);
  std::uint64_t dataAt = directorySize;
  for (std::size_t t = 0; t < types.size(); ++t) {
    for (std::size_t n = 0; n < names[t].size(); ++n) {
      const Range& range = names[t][n];
      const std::uint64_t slot = typeEntries[t] + 8 * n;
      key(slot, r[range.begin].name);
      Put32(&d[slot + 4], static_cast<std::uint32_t>(nextTable) | kSubdirectoryFlag);
      const std::uint64_t languageEntries = table({}, false, true, r, range.begin, range.end);
      for (std::size_t i = range.begin; i < range.end; ++i) {
        const std::uint64_t lang = languageEntries + 8 * (i - range.begin);
        Put32(&d[lang], r[i].language);
        Put32(&d[lang + 4], static_cast<std::uint32_t>(nextEntry));
        (*dataOffsets)[i] = dataAt;
        if (sectionRva + dataAt + r[i].size > kImageLimit) {
          *error = "the package is too large for a Windows image (about 2 GiB at most)";
          return false;
        }
        Put32(&d[nextEntry], static_cast<std::uint32_t>(sectionRva + dataAt));
        Put32(&d[nextEntry + 4], r[i].size);
        Put32(&d[nextEntry + 8], r[i].codePage);
        nextEntry += 16;
        dataAt = AlignUp(dataAt + r[i].size, 8);
      }
    }
  }
  *sectionSize = r.empty() ? directorySize : (*dataOffsets).back() + r.back().size;
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
  if (!SortResources(&resources, error)) return false;

  // The old resource section is replaced when nothing follows it, in memory or in the file;
  // otherwise it stays where it is, unused, and the new one is appended, so that no other section
  // moves and every RVA and relocation stays valid.
  const int old = image.resourceSection;
  bool replace = old >= 0;
  std::uint64_t virtualEnd = 0, keepEnd = image.sizeOfHeaders;
  for (std::size_t i = 0; i < image.sections.size(); ++i) {
    const PeSection& s = image.sections[i];
    if (static_cast<int>(i) == old) continue;
    virtualEnd = std::max<std::uint64_t>(
        virtualEnd, AlignUp(std::uint64_t{s.virtualAddress} + std::max(s.virtualSize, s.rawSize),
                            image.sectionAlignment));
    if (s.rawSize)
      keepEnd = std::max<std::uint64_t>(keepEnd, std::uint64_t{s.rawPointer} + s.rawSize);
  }
  if (replace) {
    const PeSection& s = image.sections[old];
    replace = s.virtualAddress >= virtualEnd && (!s.rawSize || s.rawPointer >= keepEnd);
    if (!replace) {
      virtualEnd = std::max<std::uint64_t>(
          virtualEnd, AlignUp(std::uint64_t{s.virtualAddress} + std::max(s.virtualSize, s.rawSize),
                              image.sectionAlignment));
      if (s.rawSize)
        keepEnd = std::max<std::uint64_t>(keepEnd, std::uint64_t{s.rawPointer} + s.rawSize);
    }
  }
  if (virtualEnd > kImageLimit) {
    *error = "the stub's sections reach beyond 2 GiB";
    return false;
  }
  const std::size_t index = replace ? static_cast<std::size_t>(old) : image.sections.size();
  const std::uint64_t tableEnd = image.sectionTableOffset + kSectionHeaderSize * (index + 1);
  std::uint64_t firstRaw = image.sizeOfHeaders;
  for (const PeSection& s : image.sections) {
    if (s.rawSize) firstRaw = std::min<std::uint64_t>(firstRaw, s.rawPointer);
  }
  // Headers that claim to end before the section table, or past the file, are not patched.
  if (keepEnd > stub.size() || tableEnd > image.sizeOfHeaders ||
      image.optionalHeaderOffset + image.dataDirectoriesOffset + 8 * (kSecurityDirectoryIndex + 1) >
          image.sectionTableOffset) {
    *error = "the stub's headers are inconsistent";
    return false;
  }
  if (tableEnd > firstRaw) {
    *error = "the stub's headers have no room for another section";
    return false;
  }
  const std::uint32_t sectionRva =
      static_cast<std::uint32_t>(replace ? image.sections[old].virtualAddress : virtualEnd);

  std::vector<std::uint8_t> directory;
  std::vector<std::uint64_t> dataOffsets;
  std::uint64_t sectionSize = 0;
  if (!LayoutResourceDirectory(resources, sectionRva, &directory, &dataOffsets, &sectionSize,
                               error)) {
    return false;
  }
  const std::uint64_t rawStart =
      AlignUp(keepEnd, std::max<std::uint32_t>(kResourceRawAlignment, image.fileAlignment));
  const std::uint64_t rawSize = AlignUp(sectionSize, image.fileAlignment);
  const std::uint64_t imageSize = AlignUp(sectionRva + sectionSize, image.sectionAlignment);
  if (imageSize > kImageLimit || rawSize > 0xFFFFFFFFu || rawStart > 0xFFFFFFFFu) {
    *error = "the package is too large for a Windows image (about 2 GiB at most)";
    return false;
  }
  if (imageSize > sizeLimit) {
    *error = "the installer would be " + std::to_string((imageSize + (1u << 20) - 1) >> 20) +
             " MiB, more than the " + std::to_string(sizeLimit >> 20) + " MiB an " +
             ArchName(image.arch) +
             " launcher is sure to load; leave large files out of the package "
             "(for example in the wares directory beside the installer)";
    return false;
  }

  // The kept part of the stub with its headers patched.
  std::vector<std::uint8_t> head(stub.begin(), stub.begin() + static_cast<std::ptrdiff_t>(keepEnd));
  const std::uint32_t opt = image.optionalHeaderOffset;
  const std::uint32_t sections =
      static_cast<std::uint32_t>(replace ? image.sections.size() : image.sections.size() + 1);
  head[image.peOffset + 6] = static_cast<std::uint8_t>(sections);
  head[image.peOffset + 7] = static_cast<std::uint8_t>(sections >> 8);
  std::uint8_t* header = &head[image.sectionTableOffset + kSectionHeaderSize * index];
  std::memset(header, 0, kSectionHeaderSize);
  std::memcpy(header, ".rsrc", sizeof ".rsrc");  // the terminator too; the field is 8 bytes
  Put32(header + 8, static_cast<std::uint32_t>(sectionSize));
  Put32(header + 12, sectionRva);
  Put32(header + 16, static_cast<std::uint32_t>(rawSize));
  Put32(header + 20, static_cast<std::uint32_t>(rawStart));
  Put32(header + 36, kResourceCharacteristics);
  std::uint32_t initialized = Le32(&head[opt + kOptSizeOfInitializedData]);
  if (replace) initialized -= image.sections[old].rawSize;
  Put32(&head[opt + kOptSizeOfInitializedData], initialized + static_cast<std::uint32_t>(rawSize));
  Put32(&head[opt + kOptSizeOfImage], static_cast<std::uint32_t>(imageSize));
  Put32(&head[opt + kOptCheckSum], 0);
  const std::uint32_t dirs = opt + image.dataDirectoriesOffset;
  Put32(&head[dirs + 8 * kResourceDirectoryIndex], sectionRva);
  Put32(&head[dirs + 8 * kResourceDirectoryIndex + 4], static_cast<std::uint32_t>(sectionSize));
  // A signature of the stub would not match the new file: it is left out.
  Put32(&head[dirs + 8 * kSecurityDirectoryIndex], 0);
  Put32(&head[dirs + 8 * kSecurityDirectoryIndex + 4], 0);

  Output output{out, PeChecksum(opt + kOptCheckSum)};
  auto failed = [&] {
    *error = "cannot write the installer";
    return false;
  };
  if (!output.Write(head.data(), head.size()) || !output.PadTo(rawStart) ||
      !output.Write(directory.data(), directory.size())) {
    return failed();
  }
  for (std::size_t i = 0; i < resources.size(); ++i) {
    const OutputResource& r = resources[i];
    if (!output.PadTo(rawStart + dataOffsets[i])) return failed();
    const std::uint64_t before = output.position;
    if (r.bytes) {
      if (r.bytes->size() != r.size || !output.Write(r.bytes->data(), r.size)) return failed();
    } else if (r.payload < 0) {
      if (r.stubOffset > stub.size() || r.size > stub.size() - r.stubOffset) {
        *error = "a stub resource lies outside the stub";
        return false;
      }
      if (!output.Write(stub.data() + r.stubOffset, r.size)) return failed();
    } else {
      const ByteWriter write = [&](const std::uint8_t* data, std::size_t size) {
        return output.Write(data, size);
      };
      if (!payload(r, write, error)) return false;
    }
    if (output.position - before != r.size) {
      *error = "entry " + KeyText(r.name) + " changed size while it was written";
      return false;
    }
  }
  if (!output.PadTo(rawStart + rawSize)) return failed();
  std::uint8_t sum[4];
  Put32(sum, output.checksum.Finish());
  if (std::fflush(out) != 0 || !SeekFile(out, opt + kOptCheckSum) ||
      std::fwrite(sum, 1, 4, out) != 4 || std::fflush(out) != 0) {
    return failed();
  }
  return true;
}
