#include "pack/entry_names.h"

#include <algorithm>
#include <map>

#include "pe/utf16.h"

namespace {
bool IsReservedDevice(std::u16string_view component) {
  // CON, PRN, AUX, NUL, COM0-9, LPT0-9, also with an extension: Windows opens the device instead.
  std::u16string stem(component.substr(0, component.find(u'.')));
  while (!stem.empty() && stem.back() == u' ') stem.pop_back();
  for (char16_t& c : stem) c = UpcaseUtf16(c);
  if (stem == u"CON" || stem == u"PRN" || stem == u"AUX" || stem == u"NUL") return true;
  return stem.size() == 4 && (stem.starts_with(u"COM") || stem.starts_with(u"LPT")) &&
         stem[3] >= u'0' && stem[3] <= u'9';
}

// What is wrong with character `c` in a name, or null when nothing is; `nonAscii` says whether
// characters above 0x7E may appear.
const char* CharacterProblem(char16_t c, bool nonAscii) {
  if (c < 0x20 || c == 0x7F) return "it contains a control character";
  if (c == u':') {
    return "a drive letter or ':' (an alternate data stream on NTFS) would escape the work "
           "directory";
  }
  if (std::u16string_view(u"<>\"|?*/").find(c) != std::u16string_view::npos) {
    return "it contains a character Windows does not allow in file names (< > \" | ? * /)";
  }
  if (c > 0x7E && !nonAscii) {
    return "it contains characters outside printable ASCII: the launcher names files through "
           "the system's ANSI code page, so such a name comes out right only on systems "
           "whose code page holds those characters (--allow-non-ascii accepts it anyway)";
  }
  return nullptr;
}

// What is wrong with one component of a name, or null when nothing is.
const char* ComponentProblem(std::u16string_view part) {
  if (part.empty()) return "it has an empty path component";
  if (part == u"." || part == u"..") {
    return "a '.' or '..' component would escape the work directory";
  }
  if (part.back() == u'.' || part.back() == u' ') {
    return "a component ends in '.' or a blank, which Windows strips";
  }
  if (IsReservedDevice(part)) return "a component is a reserved device name (CON, NUL, COM1, ...)";
  return nullptr;
}

// The name as a whole: not empty, not absolute, every character allowed, and short enough in
// the ANSI code page.
bool CheckCharacters(std::u16string_view name, bool nonAscii, std::string* reason) {
  if (name.empty()) {
    *reason = "the name is empty";
    return false;
  }
  if (name[0] == u'\\') {
    *reason = "an absolute path would escape the work directory";
    return false;
  }
  std::size_t bytes = 0;
  for (char16_t c : name) {
    if (const char* problem = CharacterProblem(c, nonAscii)) {
      *reason = problem;
      return false;
    }
    bytes += c > 0x7E ? 2 : 1;
  }
  if (bytes > kMaxEntryNameBytes) {
    *reason = "the name is " + std::to_string(bytes) +
              " bytes long; the launcher's 260-byte "
              "target path leaves room for " +
              std::to_string(kMaxEntryNameBytes) + " under an ordinary temp directory";
    return false;
  }
  return true;
}

// The name's components, between its backslashes, each one that Windows keeps as it is.
bool SplitComponents(std::u16string_view name, std::vector<std::u16string>* components,
                     std::string* reason) {
  components->clear();
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = std::min(name.find(u'\\', start), name.size());
    const std::u16string_view part = name.substr(start, end - start);
    if (const char* problem = ComponentProblem(part)) {
      *reason = problem;
      return false;
    }
    components->emplace_back(part);
    if (end == name.size()) return true;
    start = end + 1;
  }
}

// The checks every name gets; `nonAscii` says whether characters above 0x7E may appear.
bool CheckName(std::u16string_view name, bool nonAscii, std::vector<std::u16string>* components,
               std::string* reason) {
  if (!CheckCharacters(name, nonAscii, reason) || !SplitComponents(name, components, reason)) {
    return false;
  }
  std::u16string upper(name);
  for (char16_t& c : upper) c = UpcaseUtf16(c);
  if (upper == kManifestName) {
    *reason = "the launcher keeps its own manifest ARCHIVE.LST in the work directory";
    return false;
  }
  return true;
}
}  // namespace

bool MakeEntryName(std::string_view relativePath, const NameRules& rules, std::u16string* name,
                   std::string* reason) {
  std::u16string text;
  if (!Utf8ToUtf16(relativePath, &text)) {
    *reason = "the name is not valid UTF-8";
    return false;
  }
  for (char16_t& c : text) {
    if (c == u'/') c = u'\\';
    if (c > 0x7E && rules.allowNonAscii && !HasKnownCase(c)) {
      *reason =
          "it contains characters whose upper case this tool does not know, so the "
          "launcher might not find the entry";
      return false;
    }
    c = UpcaseUtf16(c);
  }
  std::vector<std::u16string> components;
  if (!CheckName(text, rules.allowNonAscii, &components, reason)) return false;
  *name = std::move(text);
  return true;
}

bool SplitEntryName(std::u16string_view name, std::vector<std::u16string>* components,
                    std::string* reason) {
  return CheckName(name, true, components, reason);
}

std::vector<NameClash> FindNameClashes(const std::vector<std::u16string>& names) {
  std::vector<NameClash> clashes;
  std::map<std::u16string, std::size_t> files;
  auto upper = [](std::u16string_view s) {
    std::u16string u(s);
    for (char16_t& c : u) c = UpcaseUtf16(c);
    return u;
  };
  for (std::size_t i = 0; i < names.size(); ++i) {
    const std::u16string key = upper(names[i]);
    const auto [at, fresh] = files.emplace(key, i);
    if (!fresh) clashes.push_back({at->second, i, "the names are equal once upper-cased"});
  }
  for (std::size_t i = 0; i < names.size(); ++i) {
    const std::u16string key = upper(names[i]);
    for (std::size_t cut = key.find(u'\\'); cut != std::u16string::npos;
         cut = key.find(u'\\', cut + 1)) {
      const auto file = files.find(key.substr(0, cut));
      if (file != files.end()) {
        clashes.push_back(
            {file->second, i, "one names a file, the other a directory of that name"});
      }
    }
  }
  return clashes;
}
