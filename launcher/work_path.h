// Naming files in the work directory: <temp directory>\<workDirName>\<name>.
#pragma once

#include <cstddef>
#include <string_view>

// Composes `tempDir` + "\" (unless it ends in one) + `workDirName` + "\" (likewise) + `name`
// into `out` (capacity bytes). Returns 1 when the whole path fitted, 0 otherwise; on 0 `out` holds
// the empty string, which every file call refuses, so a path that does not fit names no file.
int ComposeWorkPath(std::string_view tempDir, std::string_view workDirName, std::string_view name,
                    char* out, std::size_t capacity);

// The same under the system's temp directory and the launcher's current work-directory name
// (Win32 only). `bufferSize` is the capacity of `out` in bytes.
int MakeWorkPath(const char* name, std::size_t bufferSize, char* out);
