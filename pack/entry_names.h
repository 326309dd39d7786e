// Entry names: what a source file is called inside the installer, and which names the launcher
// can really extract. The launcher writes each entry to <temp>\quill_temp<N>\<name> through ANSI
// calls, in a 260-byte path buffer, and looks entries up by upper-case name.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// The longest name accepted, in bytes of the ANSI code page (non-ASCII characters count 2, the most
// a double-byte code page needs). The launcher's target path holds 259 characters: an ordinary temp
// directory, "C:\Users\" + a 20-character user name + "\AppData\Local\Temp\", is 49 bytes, and
// the longest work directory, "quill_temp100\", another 14; 259 - 49 - 14 leaves 196.
inline constexpr std::size_t kMaxEntryNameBytes = 196;

// The manifest the launcher keeps in the work directory; an entry of that name would clobber it.
inline constexpr std::u16string_view kManifestName = u"ARCHIVE.LST";

struct NameRules {
  bool allowNonAscii = false;
};

// The entry name for a file at `relativePath` (UTF-8, '/' or '\' between components): backslashes,
// upper case. False, with the reason, when the launcher could not extract it as that name.
bool MakeEntryName(std::string_view relativePath, const NameRules& rules, std::u16string* name,
                   std::string* reason);

// Checks a name read from an installer before anything is written under it, and splits it into
// its components. Same rules as MakeEntryName, with any characters allowed.
bool SplitEntryName(std::u16string_view name, std::vector<std::u16string>* components,
                    std::string* reason);

// Names that cannot live side by side in one work directory: equal once upper-cased, or one used
// as a file and as a directory ("A" and "A\B"). Each finding is "first" and "second" of `names`.
struct NameClash {
  std::size_t first;
  std::size_t second;
  std::string reason;
};
std::vector<NameClash> FindNameClashes(const std::vector<std::u16string>& names);
