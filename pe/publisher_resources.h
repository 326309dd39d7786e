// What a publisher changes in the launcher's own resources: the icon, the version information,
// the execution level the manifest requests, and which faces (Chinese, English) the installer
// carries. Everything else of the stub goes into the installer byte for byte.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "pe/icon_file.h"
#include "pe/manifest.h"
#include "pe/resource_writer.h"
#include "pe/version_info.h"

inline constexpr std::uint16_t kRtIcon = 3;
inline constexpr std::uint16_t kRtDialog = 5;
inline constexpr std::uint16_t kRtString = 6;
inline constexpr std::uint16_t kRtGroupIcon = 14;
inline constexpr std::uint16_t kRtVersion = 16;
inline constexpr std::uint16_t kRtManifest = 24;
inline constexpr std::uint16_t kChineseSimplified = 2052;
inline constexpr std::uint16_t kEnglishUs = 1033;

// The faces an installer carries: the string table and the progress dialog in Chinese
// (Simplified), in English (United States), or both, Windows choosing by the user's language.
enum class Faces { kBoth, kChinese, kEnglish };
bool ParseFaces(std::string_view text, Faces* faces);

struct PublisherResources {
  std::optional<std::vector<IconImage>> icon;  // the .ico's images, already checked
  VersionChanges version;
  std::optional<ExecutionLevel> level;
  Faces faces = Faces::kBoth;
};

// Rewrites `resources`, the stub's resources as carried into the installer (read from `stub`),
// as `changes` ask. False, with what the stub lacks, when it cannot be done.
bool ApplyPublisherResources(const PublisherResources& changes, std::span<const std::uint8_t> stub,
                             std::vector<OutputResource>* resources, std::string* error);
