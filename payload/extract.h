// Resource-enumeration callbacks over the payload entries (resources of type "FILE").
#pragma once

#include <windows.h>

// Adds the entry's stored size (its resource size) to g_state.totalPayloadBytes. Always continues.
BOOL CALLBACK AddEntrySize(HMODULE module, LPCSTR type, LPSTR name, LONG_PTR param);

// Extracts one entry into its target file. Returns TRUE to go on with the next entry, FALSE to end
// the enumeration (after a failure message, or after the one entry that -u asked for).
BOOL CALLBACK ExtractEntry(HMODULE module, LPCSTR type, LPSTR name, LONG_PTR param);

// The resource type of payload entries.
inline constexpr char kPayloadType[] = "FILE";
