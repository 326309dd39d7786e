// The launcher's argument string: its own command line without the program name.
#pragma once

// Skips the program name at the start of `commandLine` and the characters of code 0x20 or less
// after it. A name that begins with a double quote ends at the next double quote (which is
// skipped too); an unquoted one at the first character of code 0x20 or less. The result never
// begins with a blank and is empty when no arguments were given.
const char* SkipProgramName(const char* commandLine);
