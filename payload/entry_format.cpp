#include "payload/entry_format.h"

std::uint32_t ReadLe32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

std::uint64_t ReadLe64(const std::uint8_t* p) {
  return static_cast<std::uint64_t>(ReadLe32(p)) | static_cast<std::uint64_t>(ReadLe32(p + 4))
                                                       << 32;
}

void WriteLe32(std::uint8_t* p, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

void WriteLe64(std::uint8_t* p, std::uint64_t value) {
  WriteLe32(p, static_cast<std::uint32_t>(value));
  WriteLe32(p + 4, static_cast<std::uint32_t>(value >> 32));
}

std::size_t ReadEntryHeader(std::span<const std::uint8_t> entry, EntryHeader* header) {
  std::uint8_t bytes[kEntryHeaderSize] = {};
  const std::size_t present = entry.size() < kEntryHeaderSize ? entry.size() : kEntryHeaderSize;
  for (std::size_t i = 0; i < present; ++i) bytes[i] = entry[i];
  header->streamLength = ReadLe32(bytes);
  header->properties = bytes[4];
  header->dictionarySize = ReadLe32(bytes + 5);
  header->outputSize = ReadLe64(bytes + 9);
  return present;
}
