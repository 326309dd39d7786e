#include "payload/entry_name.h"

#include <cstddef>

namespace {
bool IsSeparator(char c) { return c == '\\' || c == '/'; }

char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

bool EqualsUpper(std::string_view text, std::string_view upper) {
  if (text.size() != upper.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (Upper(text[i]) != upper[i]) return false;
  }
  return true;
}

bool OnlyDotsAndBlanks(std::string_view component) {
  for (char c : component) {
    if (c != '.' && c != ' ') return false;
  }
  return true;
}

// Windows opens the device for these names in any directory, whatever follows a dot.
bool IsDeviceName(std::string_view component) {
  std::size_t end = component.find('.');
  if (end == std::string_view::npos) end = component.size();
  while (end > 0 && component[end - 1] == ' ') --end;
  const std::string_view base(component.data(), end);
  for (std::string_view device : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"}) {
    if (EqualsUpper(base, device)) return true;
  }
  if (base.size() == 4 && base[3] >= '1' && base[3] <= '9') {
    const std::string_view stem(base.data(), 3);
    return EqualsUpper(stem, "COM") || EqualsUpper(stem, "LPT");
  }
  return false;
}
}  // namespace

bool IsContainedEntryName(std::string_view name) {
  if (name.empty() || IsSeparator(name[0])) return false;
  if (name.find(':') != std::string_view::npos) return false;
  for (std::size_t start = 0; start < name.size();) {
    std::size_t end = start;
    while (end < name.size() && !IsSeparator(name[end])) ++end;
    // Plain views rather than substr: the launcher links no exception runtime.
    const std::string_view component(name.data() + start, end - start);
    // An empty component (a doubled or final separator) names nothing of its own.
    if (!component.empty() && (OnlyDotsAndBlanks(component) || IsDeviceName(component))) {
      return false;
    }
    start = end + 1;
  }
  return true;
}
