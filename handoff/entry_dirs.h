// The directories an entry's name contains, which extraction created in the work directory
// (portable: no Win32 call).
#pragma once

#include <cstddef>
#include <string_view>

// Calls `visit(prefix)` for each directory named in `entryName`, deepest first: for
// "DOCS\EN\MANUAL.TXT" with "DOCS\EN", then "DOCS". Both separators count. A name that could
// lead out of the work directory (a ".." component, a drive, a leading separator) yields none.
template <typename Visit>
void ForEachEntryDirectory(std::string_view entryName, Visit visit) {
  const auto isSeparator = [](char c) { return c == '\\' || c == '/'; };
  if (entryName.empty() || isSeparator(entryName[0])) return;
  if (entryName.find(':') != std::string_view::npos) return;
  for (std::size_t start = 0; start <= entryName.size();) {
    std::size_t end = start;
    while (end < entryName.size() && !isSeparator(entryName[end])) ++end;
    // Plain views rather than substr: the launcher links no exception runtime.
    if (std::string_view(entryName.data() + start, end - start) == "..") return;
    start = end + 1;
  }
  for (std::size_t i = entryName.size(); i-- > 1;) {
    if (isSeparator(entryName[i]) && !isSeparator(entryName[i - 1])) {
      visit(std::string_view(entryName.data(), i));
    }
  }
}
