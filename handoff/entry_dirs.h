// The directories an entry's name contains, which extraction created in the work directory
// (portable: no Win32 call).
#pragma once

#include <cstddef>
#include <string_view>

#include "payload/entry_name.h"

// Calls `visit(prefix)` for each directory named in `entryName`, deepest first: for
// "DOCS\EN\MANUAL.TXT" with "DOCS\EN", then "DOCS". Both separators count. A name that could
// lead out of the work directory (see IsContainedEntryName) yields none.
template <typename Visit>
void ForEachEntryDirectory(std::string_view entryName, Visit visit) {
  if (!IsContainedEntryName(entryName)) return;
  const auto isSeparator = [](char c) { return c == '\\' || c == '/'; };
  for (std::size_t i = entryName.size(); i-- > 1;) {
    if (isSeparator(entryName[i]) && !isSeparator(entryName[i - 1])) {
      // Plain views rather than substr: the launcher links no exception runtime.
      visit(std::string_view(entryName.data(), i));
    }
  }
}
