// The version resource (RT_VERSION): a tree of blocks, each a length, a value length, a type
// (1: text, 0: binary), a UTF-16 key, a value and its children, every piece 4-byte aligned. The
// root VS_VERSION_INFO holds the fixed numeric record; under StringFileInfo each string table
// (keyed by language and code page, "080404b0") holds the texts; VarFileInfo\Translation lists
// the language and code-page pairs.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

struct VersionBlock {
  std::u16string key;
  std::uint16_t type = 1;
  std::vector<std::uint8_t> value;  // text blocks: UTF-16 with its terminator
  std::vector<VersionBlock> children;
};

// A four-part version number A.B.C.D, each part 0..65535.
using VersionNumber = std::array<std::uint16_t, 4>;

// "A.B.C.D", or fewer parts ("2.1" is 2.1.0.0); false for anything else.
bool ParseVersionNumber(std::string_view text, VersionNumber* number);
std::string VersionNumberText(const VersionNumber& number);

bool ParseVersionInfo(std::span<const std::uint8_t> bytes, VersionBlock* root, std::string* error);
// False when a block would exceed the 65535 bytes its length field can state.
bool WriteVersionInfo(const VersionBlock& root, std::vector<std::uint8_t>* bytes,
                      std::string* error);

struct VersionChanges {
  std::vector<std::pair<std::string, std::string>> strings;  // UTF-8 key and value; "" removes
  std::optional<VersionNumber> fileVersion;
  std::optional<VersionNumber> productVersion;
  std::optional<std::uint16_t> language;  // relabels the string tables and the translation
};

// Applies `changes` to every string table and to the fixed record. The version numbers also set
// the FileVersion and ProductVersion texts unless `strings` gives those itself.
bool ApplyVersionChanges(const VersionChanges& changes, VersionBlock* root, std::string* error);

// The standard key that `key` misspells in letter case ("companyname"), or empty.
std::string_view StandardVersionKeyFor(std::string_view key);

// A version resource from nothing, for a stub without one: the fixed record and one string table.
VersionBlock EmptyVersionInfo(std::uint16_t language);
