// Path text helpers on 8-bit Windows paths (backslash-separated, drive letters, no quoting).
// Portable: no file-system call happens here.
#pragma once

#include <cstddef>

// Appends a backslash to `path` (a buffer of `size` bytes) unless it already ends in one or the
// longer path would not fit with its terminator. A null or empty path is left alone.
void AppendBackslash(char* path, std::size_t size);

// Zero-fills `out` (size bytes), then copies `path` up to and including its last backslash.
// `out` stays empty when the path has no backslash or is `size` characters long or longer.
void GetDirectoryPart(const char* path, char* out, std::size_t size);

// The positions in `path` at which CreateParentDirectories cuts the path to create a directory:
// every backslash or forward slash at positions 1 to length-1, except position 1 of a path that
// starts with a backslash and position 2 when the second character is a colon. Calls `visit`
// with each position in ascending order.
template <typename Visit>
void ForEachParentCut(const char* path, std::size_t length, Visit visit) {
  for (std::size_t i = 1; i < length; ++i) {
    if (path[i] != '\\' && path[i] != '/') continue;
    if (i == 1 && path[0] == '\\') continue;
    if (i == 2 && path[1] == ':') continue;
    visit(i);
  }
}
