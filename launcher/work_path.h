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

// Holds the directory `path` as this run's work directory when it is the launcher's to use
// (JudgeDirectory, or `createdHere`: made in this run with the protected DACL) and no other
// launcher holds it: a handle on the directory itself, opened for
// adding files and shared for reading only, which another launcher's same open cannot share. It
// keeps the directory from being removed or renamed while held, and leaves the setup program free
// to list it, make it its current directory and create files and folders in it. Answers whether
// it is now held (g_state.workDirReady).
bool HoldWorkDirectory(const char* path, bool createdHere);

// Whether this run holds its work directory: only then is anything written into it.
bool WorkDirIsOurs();

// Ends the hold, then removes the work directory when nothing is left in it. Does nothing when
// nothing is held.
void ReleaseWorkDirectory();
