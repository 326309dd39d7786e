// Reading a PE32 (x86) or PE32+ (x64) image: headers, section table, the resource tree and what
// lies past the sections (a signature, other trailing data). Every offset and length read from the
// file is checked against the file before use; a malformed image yields an error text, never a read
// outside the file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "pe/byte_source.h"

inline constexpr int kResourceDirectoryIndex = 2;
inline constexpr int kSecurityDirectoryIndex = 4;
inline constexpr int kDataDirectoryCount = 16;

struct PeSection {
  char name[8];
  std::uint32_t virtualSize;
  std::uint32_t virtualAddress;
  std::uint32_t rawSize;
  std::uint32_t rawPointer;
  std::uint32_t characteristics;
};

struct DataDirectory {
  std::uint32_t address;  // an RVA; for the security directory a file offset
  std::uint32_t size;
};

// A resource type, name or language: a string (stored upper case by resource compilers) or an id.
struct ResourceKey {
  bool isName = false;
  std::uint16_t id = 0;
  std::u16string name;
};

// Windows' order within one directory: named entries first, ascending by their upper-case UTF-16
// code units, then ids ascending. Negative, zero or positive like strcmp.
int CompareResourceKeys(const ResourceKey& a, const ResourceKey& b);
ResourceKey NamedKey(std::u16string_view name);
ResourceKey IdKey(std::uint16_t id);

// One leaf of the resource tree (type / name / language) and where its bytes are in the file.
struct ResourceItem {
  ResourceKey type;
  ResourceKey name;
  std::uint16_t language = 0;
  std::uint32_t codePage = 0;
  std::uint32_t size = 0;
  std::uint64_t fileOffset = 0;
};

// The two kinds of launcher: a PE32 image for x86 and a PE32+ image for x64.
enum class PeArch { kX86, kX64 };
inline const char* ArchName(PeArch arch) { return arch == PeArch::kX86 ? "x86" : "x64"; }
// For people: "a 32-bit (x86, PE32) image" or "a 64-bit (x64, PE32+) image".
const char* ArchDescription(PeArch arch);

struct PeImage {
  std::uint64_t fileSize = 0;
  PeArch arch = PeArch::kX86;
  std::uint32_t peOffset = 0;  // e_lfanew
  std::uint32_t optionalHeaderOffset = 0;
  std::uint32_t dataDirectoriesOffset = 0;  // relative to optionalHeaderOffset: 96 or 112
  std::uint32_t sectionTableOffset = 0;
  std::uint16_t numberOfSections = 0;
  std::uint32_t timeDateStamp = 0;
  std::uint32_t pointerToSymbolTable = 0;
  std::uint32_t sectionAlignment = 0;
  std::uint32_t fileAlignment = 0;
  std::uint32_t sizeOfImage = 0;
  std::uint32_t sizeOfHeaders = 0;
  std::uint32_t checkSum = 0;
  std::uint32_t numberOfRvaAndSizes = 0;
  DataDirectory directories[kDataDirectoryCount] = {};
  std::vector<PeSection> sections;
  int resourceSection = -1;             // index into sections, -1 when the image has no resources
  std::vector<ResourceItem> resources;  // in directory order
  std::uint64_t endOfSections = 0;      // end of the last section's raw data (or of the headers)
  bool signature = false;               // a security directory (Authenticode) is present
  std::uint64_t trailingBytes = 0;      // bytes past the sections that are not the signature
};

// Field offsets relative to optionalHeaderOffset. Those the writer patches are at the same place in
// PE32 and PE32+; the data directories follow the wider PE32+ fields 16 bytes later.
inline constexpr std::uint32_t kOptSizeOfInitializedData = 8;
inline constexpr std::uint32_t kOptSizeOfImage = 56;
inline constexpr std::uint32_t kOptSizeOfHeaders = 60;
inline constexpr std::uint32_t kOptCheckSum = 64;
inline constexpr std::uint32_t kOptDataDirectoriesPe32 = 96;
inline constexpr std::uint32_t kOptDataDirectoriesPe32Plus = 112;
inline constexpr std::uint32_t kSectionHeaderSize = 40;

bool ReadPeImage(const ByteSource& source, PeImage* image, std::string* error);

// The file offset of `size` bytes at `rva`, when they lie wholly in one section's raw data.
bool RvaToFileOffset(const PeImage& image, std::uint32_t rva, std::uint32_t size,
                     std::uint64_t* offset);

// The PE checksum of a whole file, with the 4 checksum bytes at `checkSumOffset` counted as zero.
// Fed in pieces of any length.
class PeChecksum {
 public:
  explicit PeChecksum(std::uint64_t checkSumOffset) : skip_(checkSumOffset) {}
  void Add(const std::uint8_t* data, std::size_t size);
  std::uint32_t Finish() const;

 private:
  std::uint64_t skip_;
  std::uint64_t position_ = 0;
  std::uint32_t sum_ = 0;
};

// Text of a resource key for people: the name as UTF-8, or "#id".
std::string KeyText(const ResourceKey& key);
