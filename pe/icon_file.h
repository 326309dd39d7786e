// Reading a Windows icon file (.ico) and writing the icon-group resource that names its images.
// An .ico is a directory of images, each a bitmap (a DIB with its transparency mask) or a PNG
// stream; as resources, every image becomes an RT_ICON of its own and the directory becomes an
// RT_GROUP_ICON whose entries carry resource ids instead of file offsets.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

struct IconImage {
  std::uint8_t width = 0;  // as the directory says it: 0 stands for 256
  std::uint8_t height = 0;
  std::uint8_t colourCount = 0;
  std::uint8_t reserved = 0;
  std::uint16_t planes = 0;
  std::uint16_t bitCount = 0;
  std::vector<std::uint8_t> data;  // the bitmap or PNG bytes, as the RT_ICON resource holds them
};

inline constexpr std::size_t kIconDirectoryHeaderSize = 6;
inline constexpr std::size_t kIconFileEntrySize = 16;
inline constexpr std::size_t kIconGroupEntrySize = 14;

// Checks the whole file: its directory, and every image's bounds, kind, size and completeness.
// On failure `error` says what is wrong, without the file's name (the caller adds it).
bool ParseIconFile(std::span<const std::uint8_t> file, std::vector<IconImage>* images,
                   std::string* error);

// The RT_GROUP_ICON resource for `images`, the i-th stored as RT_ICON `ids[i]`.
std::vector<std::uint8_t> MakeIconGroup(const std::vector<IconImage>& images,
                                        std::span<const std::uint16_t> ids);

// The RT_ICON ids an RT_GROUP_ICON resource names; false when it is malformed.
bool ReadIconGroupIds(std::span<const std::uint8_t> group, std::vector<std::uint16_t>* ids);
