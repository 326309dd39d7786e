#include "pack/entry_names.h"

#include <algorithm>
#include <map>

#include "pack/pe_image.h"

bool Utf8ToUtf16(std::string_view text, std::u16string* out) {
  out->clear();
  for (std::size_t i = 0; i < text.size();) {
    const unsigned char b = static_cast<unsigned char>(text[i]);
    std::uint32_t c;
    std::size_t extra;
    if (b < 0x80) {
      c = b, extra = 0;
    } else if (b >= 0xC2 && b < 0xE0) {
      c = b & 0x1F, extra = 1;
    } else if (b >= 0xE0 && b < 0xF0) {
      c = b & 0x0F, extra = 2;
    } else if (b >= 0xF0 && b < 0xF5) {
      c = b & 0x07, extra = 3;
    } else {
      return false;
    }
    if (i + extra >= text.size()) return false;
    for (std::size_t k = 1; k <= extra; ++k) {
      const unsigned char n = static_cast<unsigned char>(text[i + k]);
      if ((n & 0xC0) != 0x80) return false;
      c = c << 6 | (n & 0x3F);
    }
    if ((extra == 2 && (c < 0x800 || (c >= 0xD800 && c < 0xE000))) ||
        (extra == 3 && (c < 0x10000 || c > 0x10FFFF))) {
      return false;
    }
    if (c >= 0x10000) {
      out->push_back(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
      out->push_back(static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
    } else {
      out->push_back(static_cast<char16_t>(c));
    }
    i += extra + 1;
  }
  return true;
}

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

// The checks every name gets; `nonAscii` says whether characters above 0x7E may appear.
bool CheckName(std::u16string_view name, bool nonAscii, std::vector<std::u16string>* components,
               std::string* reason) {
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
    if (c < 0x20 || c == 0x7F) {
      *reason = "it contains a control character";
      return false;
    }
    if (c == u':') {
      *reason =
          "a drive letter or ':' (an alternate data stream on NTFS) would escape the work "
          "directory";
      return false;
    }
    if (std::u16string_view(u"<>\"|?*/").find(c) != std::u16string_view::npos) {
      *reason = "it contains a character Windows does not allow in file names (< > \" | ? * /)";
      return false;
    }
    if (c > 0x7E && !nonAscii) {
      *reason =
          "it contains characters outside printable ASCII: the launcher names files through "
          "the system's ANSI code page, so such a name comes out right only on systems "
          "whose code page holds those characters (--allow-non-ascii accepts it anyway)";
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
  components->clear();
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = std::min(name.find(u'\\', start), name.size());
    const std::u16string_view part = name.substr(start, end - start);
    if (part.empty()) {
      *reason = "it has an empty path component";
      return false;
    }
    if (part == u"." || part == u"..") {
      *reason = "a '.' or '..' component would escape the work directory";
      return false;
    }
    if (part.back() == u'.' || part.back() == u' ') {
      *reason = "a component ends in '.' or a blank, which Windows strips";
      return false;
    }
    if (IsReservedDevice(part)) {
      *reason = "a component is a reserved device name (CON, NUL, COM1, ...)";
      return false;
    }
    components->emplace_back(part);
    if (end == name.size()) break;
    start = end + 1;
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

bool HasKnownCase(char16_t c) {
  return c < 0x250 || (c >= 0x370 && c < 0x460) || (c >= 0x2E80 && c < 0xA000) ||
         (c >= 0xAC00 && c < 0xD7A4) || (c >= 0xF900 && c < 0xFB00) || (c >= 0xFF00 && c < 0xFFF0);
}

char16_t UpcaseUtf16(char16_t c) {
  if (c >= u'a' && c <= u'z') return c - 0x20;
  if (c < 0x80) return c;
  if ((c >= 0xE0 && c <= 0xFE && c != 0xF7)) return c - 0x20;
  if (c == 0xFF) return 0x178;
  if (c == 0xB5) return 0x39C;
  if (c >= 0x100 && c < 0x138 && c != 0x131) return c & ~1;  // Latin Extended-A, even = upper
  if (c >= 0x139 && c < 0x149) return (c & 1) ? c : c - 1;
  if (c >= 0x14A && c < 0x178) return c & ~1;
  if (c == 0x17A || c == 0x17C || c == 0x17E) return c - 1;
  if (c >= 0x3B1 && c <= 0x3CB) return c == 0x3C2 ? 0x3A3 : c - 0x20;
  if (c == 0x3AC) return 0x386;
  if (c >= 0x3AD && c <= 0x3AF) return c - 0x25;
  if (c == 0x3CC) return 0x38C;
  if (c == 0x3CD || c == 0x3CE) return c - 0x3F;
  if (c >= 0x430 && c < 0x450) return c - 0x20;
  if (c >= 0x450 && c < 0x460) return c - 0x50;
  if (c >= 0xFF41 && c <= 0xFF5A) return c - 0x20;
  return c;
}

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
