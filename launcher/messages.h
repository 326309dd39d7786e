// Message boxes of the launcher: no owner window, the system's default caption, the warning icon.
#pragma once

#include "launcher/fatal.h"

// String-table identifiers.
inline constexpr unsigned kStringUnpacking = 2;      // status line while an entry is extracted
inline constexpr unsigned kStringStartingSetup = 3;  // status line before the launch
inline constexpr unsigned kStringCannotWrite = 4;    // writing an unpacked file failed
inline constexpr unsigned kStringOutOfMemory = 6;    // a payload buffer could not be allocated
inline constexpr unsigned kStringCorrupt = 7;        // decoding an entry failed

// Loads string `id` into a 512-byte buffer and shows it. Returns when the user closed the box.
void ShowMessageById(unsigned id);

// Loads string `id`, formats it with `argument` for its %s (cut to the 512-byte buffer), shows it.
void ShowFormattedMessageById(unsigned id, const char* argument);

// Shows `text` as it is (the English fatal messages, which are not in the string table).
void ShowMessageText(const char* text);

// Reports the failure that message `id` (4, 6 or 7) describes, with `name` for its %s (4 has one):
// first a record in the Application event log, in every mode, with the English text, the
// installer's path and the exit code the run will end with (ComposeExitCode of the state as the
// caller left it), event identifier `id`; then, outside silent mode, the message box in the
// user's language. Returns when the box was closed.
void ReportFailure(unsigned id, const char* name);

// The fatal reporter: the same for a fatal end, with exit code 1 and the end's own identifier.
void ReportFatal(const FatalEnd& end);
