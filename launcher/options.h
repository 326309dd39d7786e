// The command line: a tokenizer of its own and the scan for the launcher's three options.
//
// Blanks (tab, LF, VT, FF, CR, space; nothing else, and no byte from 0x80 up) separate arguments
// outside double quotes. An opening quote always starts a new argument; a closing quote leaves the
// "after a blank" state alone, so a character right after it starts another argument when nothing
// but quotes has been read since the last blank. Everything here is byte-wise and locale-free.
#pragma once

#include <cstddef>

// The position of the first non-blank character of `text`, or null when there is none.
const char* SkipBlanks(const char* text);

// The number of arguments in `text` (0 for an empty or all-blank string).
int CountArguments(const char* text);

// Writes argument number `index` (from 0) of `text` into `out` (outSize bytes), without one outer
// pair of quotes, or the empty string when there is no such argument. An argument longer than
// outSize - 1 bytes (quotes included) is cut before the quotes are stripped. Answers `out`, or
// null when `text` holds no argument at all. Ends the process with "Out of memory" when its scratch
// buffer cannot be had.
char* GetArgument(const char* text, int index, char* out, std::size_t outSize);

// Copies `source` into `destination` without one leading and one trailing double quote. Does
// nothing when `source` does not fit into `destinationSize` bytes.
void StripOuterQuotes(const char* source, char* destination, std::size_t destinationSize);

// Whether ParseOptions finds -ms in `argumentString`, worked out without taking any memory.
bool FindsSilentOption(const char* argumentString);

// Scans `argumentString` for -ms, -u [name] and -mmi (also with "/", any letter case, each a whole
// argument) and stores them, with the pass-through copy of the whole string, in g_state. Silent
// mode is stored first: when the scan then ends for want of memory, that end is silent too.
void ParseOptions(const char* argumentString);

// The source of GetArgument's scratch buffer: `size` zero-filled bytes, or null when there are
// none. Tests install one that fails; null restores the runtime's calloc.
using ScratchAllocator = void* (*)(std::size_t size);
void SetScratchAllocator(ScratchAllocator allocate);
