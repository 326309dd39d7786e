// Message boxes of the launcher: no owner window, the system's default caption, the warning icon.
#pragma once

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
