// Whether an entry's name stays inside the directory it is unpacked into (portable: no Win32 call).
#pragma once

#include <string_view>

// True for a relative name whose every component is an ordinary file or directory name, such as
// "SETUP.EXE" or "DOCS\EN\MANUAL.TXT" (either separator). False for a name that could reach
// outside the directory or anything but a plain file in it: empty, a leading separator (root or
// UNC), a colon anywhere (a drive, or an NTFS alternate data stream), a component made only of
// dots and blanks (Windows trims trailing dots and blanks, so "... " is ".."), and a device name
// such as CON, NUL, COM1 or LPT1 with or without an extension. Payload entries come from the
// executable's resources, which anyone can edit; extraction and cleanup both refuse such names.
bool IsContainedEntryName(std::string_view name);
