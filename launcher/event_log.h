// Failures recorded in the Windows Application event log, where a deployment tool's administrator
// looks when a silent installation failed.
#pragma once

// The longest text a record carries, terminator included: a message box's.
inline constexpr int kEventTextSize = 512;

// Writes a warning record of source "Quill" with event identifier `eventId` and three strings:
// `text` (in the system code page, shorter than kEventTextSize), the installer's own path, and
// `exitCode` (not negative) in decimal. The source
// needs no registration: Event Viewer shows the three strings under the record. Failures to write
// the record are passed over.
void RecordFailureEvent(unsigned eventId, const char* text, int exitCode);
