// The two conditions that end the launcher at once: a report, then exit code 1.
#pragma once

// One of those ends: its English text (its message box shows it as it is) and the identifier of
// its event log record.
struct FatalEnd {
  unsigned eventId;
  const char* text;
};

inline constexpr int kExitFatal = 1;

// Event identifiers 10 and 11; records of the string table's messages carry their string ids.
inline constexpr FatalEnd kOutOfMemoryEnd = {10, "Out of memory"};
inline constexpr FatalEnd kCannotCreateTempEnd = {11, "Cannot create temp directory"};

// Reports a fatal end to the user and returns when it has been read. The Win32 side installs its
// own (the event log, and a message box outside silent mode); without one the text goes to stderr.
using FatalReporter = void (*)(const FatalEnd& end);
void SetFatalReporter(FatalReporter report);

// Reports `end` and ends the process with exit code 1.
[[noreturn]] void EndWithFatalMessage(const FatalEnd& end);
