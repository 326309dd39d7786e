// The payload-entry format: a 4-byte length followed by a complete LZMA-alone stream.
//
//   offset  size  field
//        0     4  streamLength    bytes that follow (the resource size minus 4)
//        4     1  properties      lc + 9*lp + 45*pb; 225 and above are invalid
//        5     4  dictionarySize  LZMA dictionary size in bytes
//        9     8  outputSize      decoded size; only the low 32 bits count, 0xFFFFFFFF is refused
//       17     *  raw LZMA1 data  (streamLength - 13 bytes); an end marker is allowed
//
// A stored entry keeps that layout and carries the file as it is: properties 0xFF, which no LZMA
// stream can have, together with the dictionarySize "STOR", and outputSize equal to
// streamLength - 13. Any other header with properties from 225 up stays invalid.
//
// All integers are little-endian. This header and its implementation are portable.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

inline constexpr std::size_t kStreamLengthFieldSize = 4;
inline constexpr std::size_t kAloneHeaderSize = 13;
inline constexpr std::size_t kEntryHeaderSize = kStreamLengthFieldSize + kAloneHeaderSize;
inline constexpr unsigned kPropertiesLimit = 225;  // lc < 9, lp < 5, pb < 5
inline constexpr std::uint32_t kRefusedOutputSize = 0xFFFFFFFFu;
inline constexpr std::size_t kOutputChunkSize = 0x10000;  // one decoder request, one file write

// The stored kind's marker, and how much of a stored entry one write copies: enough for the copy
// to run at the disk's speed, small enough for the gauge to move on a large file.
inline constexpr std::uint8_t kStoredProperties = 0xFF;
inline constexpr std::uint32_t kStoredDictionaryMagic = 0x524F5453;  // "STOR" as stored
inline constexpr std::size_t kStoredChunkSize = 0x100000;

// The shipped package's settings: lc 3, lp 0, pb 2 and an 8 MiB dictionary.
inline constexpr std::uint8_t kDefaultProperties = 0x5D;
inline constexpr std::uint32_t kDefaultDictionarySize = 0x800000;

struct EntryHeader {
  std::uint32_t streamLength;
  std::uint8_t properties;
  std::uint32_t dictionarySize;
  std::uint64_t outputSize;
};

struct LzmaLiteralPosition {
  unsigned lc;
  unsigned lp;
  unsigned pb;
};

// lc, lp and pb of a properties byte below kPropertiesLimit.
constexpr LzmaLiteralPosition SplitProperties(std::uint8_t properties) {
  return {static_cast<unsigned>(properties % 45 % 9), static_cast<unsigned>(properties % 45 / 9),
          static_cast<unsigned>(properties / 45)};
}

constexpr std::uint8_t JoinProperties(unsigned lc, unsigned lp, unsigned pb) {
  return static_cast<std::uint8_t>(lc + 9 * lp + 45 * pb);
}

std::uint32_t ReadLe32(const std::uint8_t* p);
std::uint64_t ReadLe64(const std::uint8_t* p);
void WriteLe32(std::uint8_t* p, std::uint32_t value);
void WriteLe64(std::uint8_t* p, std::uint64_t value);

// Reads every header field that `entry` holds; fields beyond its end read as zero. Returns the
// number of header bytes present (at most kEntryHeaderSize).
std::size_t ReadEntryHeader(std::span<const std::uint8_t> entry, EntryHeader* header);

// Whether the header marks a stored entry (whose sizes are still to be checked).
constexpr bool IsStoredHeader(const EntryHeader& header) {
  return header.properties == kStoredProperties && header.dictionarySize == kStoredDictionaryMagic;
}

// True when `streamLength` lies within what an entry of `entrySize` bytes can hold.
constexpr bool StreamLengthInRange(std::uint32_t streamLength, std::size_t entrySize) {
  return entrySize >= kEntryHeaderSize && streamLength >= kAloneHeaderSize &&
         streamLength <= entrySize - kStreamLengthFieldSize;
}
