// The two conditions that end the launcher at once: a message box, then exit code 1.
#pragma once

// Shows a fatal message to the user and returns when it has been read. The Win32 side installs
// the message box; without one the text goes to stderr.
using FatalReporter = void (*)(const char* text);
void SetFatalReporter(FatalReporter report);

// Reports `text` and ends the process with exit code 1.
[[noreturn]] void EndWithFatalMessage(const char* text);

inline constexpr char kOutOfMemoryText[] = "Out of memory";
inline constexpr char kCannotCreateTempText[] = "Cannot create temp directory";
