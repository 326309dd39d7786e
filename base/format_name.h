// A bounded stand-in for wsprintfA(out, format, name) with a single %s: wsprintfA knows no buffer
// size, and the launcher's status and message buffers are smaller than what it may write.
#pragma once

#include <cstddef>

using LeadBytePredicate = bool (*)(unsigned char byte);

// Writes `format` into `out` (capacity bytes), each "%s" replaced by `name` and "%%" by "%".
// Text that does not fit is cut; when `isLeadByte` is given, a cut never separates the two bytes
// of a double-byte character of the system code page. Returns 1 when everything fitted, else 0.
int FormatWithName(const char* format, const char* name, char* out, std::size_t capacity,
                   LeadBytePredicate isLeadByte = nullptr);

// The system code page's lead-byte test (Win32 only).
bool IsAnsiLeadByte(unsigned char byte);
