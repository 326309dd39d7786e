// Writing an installer: the stub's PE image with a new resource section that holds the stub's own
// resources and the payload entries. The section is laid out the way resource compilers do it
// (directory tables, data entries, name strings, then the data, each piece 8-byte aligned) and the
// headers it touches are fixed: section table, image size, data directories, checksum.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "pe/image.h"

struct OutputResource {
  ResourceKey type;
  ResourceKey name;
  std::uint16_t language = 0;
  std::uint32_t codePage = 0;
  std::uint32_t size = 0;
  std::uint64_t stubOffset = 0;  // where the bytes are in the stub, when payload < 0 and no bytes
  std::int64_t payload = -1;     // otherwise the caller's index, handed to the PayloadWriter
  // Bytes of its own, for a stub resource that the publisher's options replaced.
  std::shared_ptr<const std::vector<std::uint8_t>> bytes;
};

// A resource that carries its own bytes.
inline OutputResource OwnResource(ResourceKey type, ResourceKey name, std::uint16_t language,
                                  std::vector<std::uint8_t> bytes) {
  OutputResource r;
  r.type = std::move(type);
  r.name = std::move(name);
  r.language = language;
  r.size = static_cast<std::uint32_t>(bytes.size());
  r.bytes = std::make_shared<const std::vector<std::uint8_t>>(std::move(bytes));
  return r;
}

// A resource of the stub, carried over unchanged into the output.
inline OutputResource KeptResource(const ResourceItem& item) {
  OutputResource r;
  r.type = item.type;
  r.name = item.name;
  r.language = item.language;
  r.codePage = item.codePage;
  r.size = item.size;
  r.stubOffset = item.fileOffset;
  return r;
}

// Writes exactly the resource's `size` bytes through `write`.
using ByteWriter = std::function<bool(const std::uint8_t* data, std::size_t size)>;
using PayloadWriter = std::function<bool(const OutputResource& resource, const ByteWriter& write,
                                         std::string* error)>;

// Sorts `resources` into the order Windows searches them in (types, names, languages) and refuses
// duplicates. The launcher enumerates entries in this order.
bool SortResources(std::vector<OutputResource>* resources, std::string* error);

// The directory part of a resource section for sorted `resources` placed at `sectionRva`: the
// tables, data entries and strings; `dataOffsets` receives where each resource's bytes go, from the
// section's start, and `sectionSize` the section's whole (virtual) size.
bool LayoutResourceDirectory(const std::vector<OutputResource>& resources, std::uint32_t sectionRva,
                             std::vector<std::uint8_t>* directory,
                             std::vector<std::uint64_t>* dataOffsets, std::uint64_t* sectionSize,
                             std::string* error);

// The largest installer image quillpack makes for each kind of launcher (bench/package-limit.py
// measures what loads under Wine). x86: the launcher loads and extracts an image of 1944 MiB and
// fails at 1978 MiB; on Windows the system's DLLs and the heap share the same 2 GiB of address
// space, so the limit keeps a wide margin. x64: every image the writer can make (up to 2045 MiB)
// loads and extracts; Windows itself restricts images to 2 GiB, and has been seen to refuse some
// above 1.8 GB, so the limit stays well below that.
inline constexpr std::uint64_t kInstallerSizeLimitX86 = 1024u << 20;
inline constexpr std::uint64_t kInstallerSizeLimitX64 = 1536u << 20;
constexpr std::uint64_t InstallerSizeLimit(PeArch arch) {
  return arch == PeArch::kX86 ? kInstallerSizeLimitX86 : kInstallerSizeLimitX64;
}

// Writes the installer to `out` (opened for writing and reading, positioned at 0). The stub must
// carry no signature and no trailing data (the caller decides what to tell the user). An image
// larger than `sizeLimit` (0: InstallerSizeLimit of the stub's architecture) is refused before
// anything is written.
bool WriteInstallerImage(std::span<const std::uint8_t> stub, const PeImage& stubImage,
                         std::vector<OutputResource> resources, const PayloadWriter& payload,
                         std::FILE* out, std::string* error, std::uint64_t sizeLimit = 0);

// The raw-data alignment of the resource section in the file: a page, so that Wine can map the
// image instead of copying it.
inline constexpr std::uint32_t kResourceRawAlignment = 4096;
