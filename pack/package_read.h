// Reading a built installer without running it: `quillpack list`, `verify` and `extract`.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "payload/entry_format.h"
#include "pe/byte_source.h"
#include "pe/image.h"

// The resources that hold the payload entries: type "FILE", one name each.
inline constexpr std::u16string_view kPayloadType = u"FILE";
bool IsPayloadType(const ResourceKey& type);

// One payload entry as the launcher meets it.
struct PackageEntry {
  ResourceKey name;
  std::uint16_t language = 0;
  std::uint32_t languages = 1;  // how many languages carry this name
  std::uint32_t size = 0;       // stored bytes (the resource's size)
  std::uint64_t fileOffset = 0;
  EntryHeader header = {};
  std::size_t headerBytes = 0;  // how much of the header the entry holds
};

// The "FILE" resources of `source` in the launcher's enumeration order, and the launcher's kind.
bool ReadPackage(const ByteSource& source, std::vector<PackageEntry>* entries, std::string* error,
                 PeArch* arch = nullptr);

// What the launcher would meet with `entry`: problems (it fails or extracts something else) and
// warnings (it works only on some systems). Decodes the entry with the launcher's own decoder;
// `bytes` are the entry's stored bytes.
struct EntryFinding {
  bool problem;
  std::string text;
};
std::vector<EntryFinding> CheckEntry(const PackageEntry& entry,
                                     const std::vector<std::uint8_t>& bytes);

int RunList(const std::string& installer);
int RunVerify(const std::string& installer, bool quiet);
int RunExtract(const std::string& installer, const std::string& directory,
               const std::vector<std::string>& names, bool quiet);
