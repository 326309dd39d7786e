// File-system helpers over the ANSI calls. None reports failures: each failing call is passed over.
#pragma once

#include <cstddef>

#include "fsutil/dir_security.h"

// The path's attribute bits, or 0 when it does not exist. Files and directories both count.
unsigned long FileExists(const char* path);

// Creates every directory named on the way to the file `path` (not the last component).
void CreateParentDirectories(const char* path);

// The same for only the directories named in the last `tailLength` characters of `path` (an
// entry's name at the end of its target, whose work directory exists already): one call to the
// file system for each directory the name holds, none for the temp directory's own levels.
void CreateEntryDirectories(const char* path, std::size_t tailLength);

// Removes the directory `path`: with `recursive`, everything below it that can be deleted first;
// without, only when it is empty. Files in use or read-only stay, and with them their parents.
// A link (any reparse point), at `path` or below it, is removed itself and never descended into:
// what it leads to is not the launcher's to delete.
void DeleteTree(const char* path, int recursive);

// Whether `path` is a reparse point: a symbolic link, junction or mount point. Windows marks links
// to files and to directories so; Wine 8 marks links to directories only.
bool IsReparsePoint(const char* path);

// Whether a directory named in the last `tailLength` characters of `path` (an entry's name at the
// end of its target) is a reparse point, so that writing or deleting at `path` could land
// somewhere else. The last component itself is not looked at.
bool LinkOnTheWay(const char* path, std::size_t tailLength);

// Judges the directory `path` as the launcher's work directory (see JudgeWorkDir), with the
// launcher's own token for who "self" is.
DirVerdict JudgeDirectory(const char* path);

// Creates the directory `path` with a protected DACL that gives full control to SYSTEM,
// Administrators and the launcher's user (BuildWorkDirDescriptor). False when it cannot be
// created, an existing one included.
bool CreateProtectedDirectory(const char* path);
