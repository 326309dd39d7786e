// The test-only side of progress/progress_trace.h, linked into the traced test launcher alone.
//   QUILL_TRACE_FILE=PATH  every SetProgress value ("progress N") and status line ("status HEX")
//                          is appended to PATH
//   QUILL_TRACE_GATE=DIR   after status line k has been painted, DIR\statusK.ready is created and
//                          the launcher waits (at most 60 s) for DIR\statusK.go, so that a test can
//                          look at the screen while nothing moves
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "progress/progress_trace.h"

namespace {
int g_statusCount = 0;

void Append(const char* line) {
  char path[MAX_PATH];
  if (!GetEnvironmentVariableA("QUILL_TRACE_FILE", path, sizeof path)) return;
  HANDLE file = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(file, line, static_cast<DWORD>(std::strlen(line)), &written, nullptr);
  CloseHandle(file);
}

void WaitAtGate(int k) {
  char dir[MAX_PATH], path[MAX_PATH + 32];
  if (!GetEnvironmentVariableA("QUILL_TRACE_GATE", dir, sizeof dir)) return;
  std::snprintf(path, sizeof path, "%s\\status%d.ready", dir, k);
  CloseHandle(CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  std::snprintf(path, sizeof path, "%s\\status%d.go", dir, k);
  // A wait that looks at the message queue (without taking anything from it) lets Wine copy the
  // window contents already painted to the X display; a plain Sleep would leave the last paint
  // of the launcher unseen for as long as the gate stays shut. With messages waiting it returns
  // at once, hence the clock and the Sleep.
  const DWORD start = GetTickCount();
  while (GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES && GetTickCount() - start < 60000) {
    if (MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT) != WAIT_TIMEOUT) Sleep(20);
  }
}
}  // namespace

void TraceProgress(unsigned percent) {
  char line[32];
  std::snprintf(line, sizeof line, "progress %u\r\n", percent);
  Append(line);
}

void TraceStatus(const char* text) {
  char line[600] = "status ";
  std::size_t at = std::strlen(line);
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
       *p && at + 4 < sizeof line; ++p) {
    std::snprintf(line + at, 3, "%02x", *p);
    at += 2;
  }
  std::snprintf(line + at, sizeof line - at, "\r\n");
  Append(line);
  WaitAtGate(++g_statusCount);
}
