#include "pe/icon_file.h"

#include <algorithm>
#include <array>

#include "pe/little_endian.h"

namespace {
constexpr std::uint16_t kIconType = 1;
constexpr std::uint16_t kCursorType = 2;
constexpr std::array<std::uint8_t, 8> kPngSignature = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
constexpr std::size_t kPngIhdrEnd = 8 + 8 + 13 + 4;  // signature, chunk head, IHDR data, CRC
constexpr std::array<std::uint8_t, 12> kPngEnd = {0,   0,   0,    0,    'I',  'E',
                                                  'N', 'D', 0xAE, 0x42, 0x60, 0x82};
constexpr std::uint32_t kBiRgb = 0;
constexpr std::uint32_t kLargestSide = 256;  // what an icon directory entry can describe

std::uint32_t Be32(const std::uint8_t* p) {
  return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 | p[3];
}

bool IsPng(std::span<const std::uint8_t> data) {
  return data.size() >= kPngSignature.size() &&
         std::equal(kPngSignature.begin(), kPngSignature.end(), data.begin());
}

// Where an icon file's directory of `count` images ends.
std::uint64_t DirectoryEnd(std::uint16_t count) {
  return kIconDirectoryHeaderSize + std::uint64_t{count} * kIconFileEntrySize;
}

std::string Dimensions(std::uint32_t width, std::uint32_t height) {
  return std::to_string(width) + "x" + std::to_string(height);
}

// A PNG image: its header names the size the directory gives, and it ends with its end chunk.
bool CheckPng(std::span<const std::uint8_t> data, IconImage* image, std::uint32_t width,
              std::uint32_t height, std::string* why) {
  if (data.size() < kPngIhdrEnd || Be32(&data[8]) != 13 ||
      !std::equal(data.begin() + 12, data.begin() + 16, "IHDR")) {
    *why = "a PNG image without its header chunk";
    return false;
  }
  const std::uint32_t w = Be32(&data[16]), h = Be32(&data[20]);
  if (w != width || h != height) {
    *why = "a PNG image of " + Dimensions(w, h) + " where the directory says " +
           Dimensions(width, height);
    return false;
  }
  if (data.size() < kPngIhdrEnd + kPngEnd.size() ||
      !std::equal(kPngEnd.begin(), kPngEnd.end(), data.end() - kPngEnd.size())) {
    *why = "a PNG image that does not end with its end chunk (truncated?)";
    return false;
  }
  if (!image->planes) image->planes = 1;
  if (!image->bitCount) {
    // Bit depth times channels: grey, -, RGB, palette, grey+alpha, -, RGBA.
    static constexpr std::uint8_t kChannels[7] = {1, 0, 3, 1, 2, 0, 4};
    const std::uint8_t depth = data[24], colourType = data[25];
    image->bitCount =
        colourType < 7 ? static_cast<std::uint16_t>(depth * kChannels[colourType]) : 0;
  }
  return true;
}

// A bitmap image: a bitmap header, its palette, the colour pixels and the transparency mask, each
// row padded to 4 bytes, all of it within the image.
bool CheckBitmap(std::span<const std::uint8_t> data, IconImage* image, std::uint32_t width,
                 std::uint32_t height, std::string* why) {
  if (data.size() < 40 || Le32(&data[0]) < 40 || Le32(&data[0]) > data.size()) {
    *why = "neither a PNG image nor a bitmap with a complete header";
    return false;
  }
  const std::uint32_t headerSize = Le32(&data[0]);
  const std::int32_t w = static_cast<std::int32_t>(Le32(&data[4]));
  const std::int32_t h2 = static_cast<std::int32_t>(Le32(&data[8]));
  const std::uint16_t planes = Le16(&data[12]), bits = Le16(&data[14]);
  const std::uint32_t compression = Le32(&data[16]), coloursUsed = Le32(&data[32]);
  // The height counts the colour rows and the mask rows.
  if (w != static_cast<std::int32_t>(width) || h2 != 2 * static_cast<std::int32_t>(height)) {
    *why = "a bitmap of " + std::to_string(w) + "x" + std::to_string(h2) +
           " (twice its height, with the mask) where the directory says " +
           Dimensions(width, height);
    return false;
  }
  if (planes != 1 ||
      (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32)) {
    *why = "a bitmap with " + std::to_string(planes) + " planes of " + std::to_string(bits) +
           " bits per pixel";
    return false;
  }
  if (compression != kBiRgb) {
    *why = "a compressed bitmap (compression " + std::to_string(compression) + ")";
    return false;
  }
  const std::uint64_t paletteLimit = bits <= 8 ? std::uint64_t{1} << bits : 0;
  if (coloursUsed > paletteLimit && bits <= 8) {
    *why = "a palette of " + std::to_string(coloursUsed) + " colours for " + std::to_string(bits) +
           " bits per pixel";
    return false;
  }
  const std::uint64_t palette = bits <= 8 ? (coloursUsed ? coloursUsed : paletteLimit) : 0;
  const std::uint64_t colourRow = (std::uint64_t{width} * bits + 31) / 32 * 4;
  const std::uint64_t maskRow = (std::uint64_t{width} + 31) / 32 * 4;
  const std::uint64_t need = headerSize + 4 * palette + (colourRow + maskRow) * height;
  if (data.size() < need) {
    *why = "a bitmap of " + std::to_string(data.size()) + " bytes where its header, palette, " +
           "pixels and mask need " + std::to_string(need) + " (truncated?)";
    return false;
  }
  if (!image->planes) image->planes = 1;
  if (!image->bitCount) image->bitCount = bits;
  return true;
}

// The file's header: an icon file's, with at least one image and room for its directory.
bool ReadIconDirectory(std::span<const std::uint8_t> file, std::uint16_t* count,
                       std::string* error) {
  if (IsPng(file)) {
    *error =
        "a PNG image, not an icon file: make an .ico of it (with sizes such as 16, 32, 48 "
        "and 256 pixels)";
    return false;
  }
  if (file.size() < kIconDirectoryHeaderSize) {
    *error =
        "not an icon file: " + std::to_string(file.size()) + " bytes, too short for its header";
    return false;
  }
  const std::uint16_t reserved = Le16(&file[0]), type = Le16(&file[2]);
  *count = Le16(&file[4]);
  if (reserved != 0 || (type != kIconType && type != kCursorType)) {
    *error = "not an icon file (its header is not that of an .ico)";
    return false;
  }
  if (type == kCursorType) {
    *error = "a cursor file, not an icon file";
    return false;
  }
  if (*count == 0) {
    *error = "an icon file without any image";
    return false;
  }
  const std::uint64_t directoryEnd = DirectoryEnd(*count);
  if (directoryEnd > file.size()) {
    *error = "truncated: its directory of " + std::to_string(*count) + " images needs " +
             std::to_string(directoryEnd) + " bytes, the file has " + std::to_string(file.size());
    return false;
  }
  return true;
}

// Image `i` of the directory's `count`: its entry, and its data checked against it.
bool ReadIconImage(std::span<const std::uint8_t> file, std::uint16_t count, std::size_t i,
                   IconImage* image, std::string* error) {
  const std::uint8_t* e = &file[kIconDirectoryHeaderSize + i * kIconFileEntrySize];
  image->width = e[0];
  image->height = e[1];
  image->colourCount = e[2];
  image->reserved = e[3];
  image->planes = Le16(e + 4);
  image->bitCount = Le16(e + 6);
  const std::uint32_t size = Le32(e + 8), offset = Le32(e + 12);
  const std::uint32_t width = image->width ? image->width : kLargestSide;
  const std::uint32_t height = image->height ? image->height : kLargestSide;
  const std::string which =
      "image " + std::to_string(i + 1) + " (" + Dimensions(width, height) + ")";
  if (size == 0) {
    *error = which + ": has no data";
    return false;
  }
  if (offset < DirectoryEnd(count)) {
    *error = which + ": its data overlaps the directory";
    return false;
  }
  if (offset > file.size() || size > file.size() - offset) {
    *error = which + ": its " + std::to_string(size) + " bytes at offset " +
             std::to_string(offset) + " are not all in the file (" + std::to_string(file.size()) +
             " bytes; truncated?)";
    return false;
  }
  const std::span<const std::uint8_t> data = file.subspan(offset, size);
  std::string why;
  const bool ok = IsPng(data) ? CheckPng(data, image, width, height, &why)
                              : CheckBitmap(data, image, width, height, &why);
  if (!ok) {
    *error = which;
    error->append(": ").append(why);
    return false;
  }
  image->data.assign(data.begin(), data.end());
  return true;
}
}  // namespace

bool ParseIconFile(std::span<const std::uint8_t> file, std::vector<IconImage>* images,
                   std::string* error) {
  images->clear();
  std::uint16_t count = 0;
  if (!ReadIconDirectory(file, &count, error)) return false;
  for (std::size_t i = 0; i < count; ++i) {
    IconImage image;
    if (!ReadIconImage(file, count, i, &image, error)) return false;
    images->push_back(std::move(image));
  }
  return true;
}

std::vector<std::uint8_t> MakeIconGroup(const std::vector<IconImage>& images,
                                        std::span<const std::uint16_t> ids) {
  std::vector<std::uint8_t> group(kIconDirectoryHeaderSize + kIconGroupEntrySize * images.size());
  Put16(&group[2], kIconType);
  Put16(&group[4], static_cast<std::uint16_t>(images.size()));
  for (std::size_t i = 0; i < images.size(); ++i) {
    std::uint8_t* e = &group[kIconDirectoryHeaderSize + kIconGroupEntrySize * i];
    const IconImage& image = images[i];
    e[0] = image.width;
    e[1] = image.height;
    e[2] = image.colourCount;
    e[3] = image.reserved;
    Put16(e + 4, image.planes);
    Put16(e + 6, image.bitCount);
    Put32(e + 8, static_cast<std::uint32_t>(image.data.size()));
    Put16(e + 12, ids[i]);
  }
  return group;
}

bool ReadIconGroupIds(std::span<const std::uint8_t> group, std::vector<std::uint16_t>* ids) {
  ids->clear();
  if (group.size() < kIconDirectoryHeaderSize) return false;
  const std::size_t count = Le16(&group[4]);
  if (group.size() < kIconDirectoryHeaderSize + kIconGroupEntrySize * count) return false;
  for (std::size_t i = 0; i < count; ++i) {
    ids->push_back(Le16(&group[kIconDirectoryHeaderSize + kIconGroupEntrySize * i + 12]));
  }
  return true;
}
