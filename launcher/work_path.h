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

// The work directory itself without its final backslash, as the calls that look at the directory
// (rather than into it) want it: "...\quill_temp\" would not see a plain file of that name.
int MakeWorkDirPath(std::size_t bufferSize, char* out);

// Whether the work directory exists and is the launcher's to use (JudgeDirectory): one made in
// this run, or one found owned by SYSTEM, Administrators or the launcher's user that nobody else
// may change. Remembered in g_state.workDirReady once true.
bool WorkDirIsOurs();

// The same, creating the work directory with the launcher's protected DACL when it is missing.
// False when it cannot be created, or when what is there is not the launcher's (a link, a file,
// or a directory that someone else could change): nothing is then written into it.
bool EnsureWorkDirectory();
