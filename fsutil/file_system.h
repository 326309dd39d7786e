// File-system helpers over the ANSI calls. None reports failures: each failing call is passed over.
#pragma once

// The path's attribute bits, or 0 when it does not exist. Files and directories both count.
unsigned long FileExists(const char* path);

// Creates every directory named on the way to the file `path` (not the last component).
void CreateParentDirectories(const char* path);

// Removes the directory `path`: with `recursive`, everything below it that can be deleted first;
// without, only when it is empty. Files in use or read-only stay, and with them their parents.
void DeleteTree(const char* path, int recursive);
