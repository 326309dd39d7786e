#include <windows.h>

#include <cstring>

#include "base/bounded_text.h"
#include "base/win32_owners.h"
#include "fsutil/file_system.h"
#include "fsutil/path_text.h"

namespace {
constexpr std::size_t kBufferSize = 4096;
}

unsigned long FileExists(const char* path) {
  const DWORD attributes = GetFileAttributesA(path);
  return attributes == INVALID_FILE_ATTRIBUTES ? 0 : attributes;
}

void CreateParentDirectories(const char* path) {
  char work[kBufferSize] = {};
  if (!CopyBounded(work, path)) return;  // longer than the buffer: not a path this launcher makes
  const std::size_t length = std::strlen(work);
  ForEachParentCut(work, length, [&work](std::size_t cut) {
    const char separator = work[cut];
    work[cut] = '\0';
    CreateDirectoryA(work, nullptr);
    work[cut] = separator;
  });
}

void DeleteTree(const char* path, int recursive) {
  if (!FileExists(path)) return;
  if (recursive) {
    char pattern[kBufferSize] = {};
    if (CopyBounded(pattern, path)) {
      AppendBackslash(pattern, sizeof pattern);
      const std::size_t base = std::strlen(pattern);
      if (AppendBounded(pattern, "*")) {
        WIN32_FIND_DATAA found;
        UniqueFind listing(FindFirstFileA(pattern, &found));
        for (bool more = static_cast<bool>(listing); more;
             more = FindNextFileA(listing.get(), &found) != FALSE) {
          if (lstrcmpiA(found.cFileName, ".") == 0 || lstrcmpiA(found.cFileName, "..") == 0) {
            continue;
          }
          pattern[base] = '\0';
          if (!AppendBounded(pattern, found.cFileName)) continue;
          if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            DeleteTree(pattern, 1);
          } else {
            DeleteFileA(pattern);
          }
        }
      }
    }
  }
  RemoveDirectoryA(path);
}
