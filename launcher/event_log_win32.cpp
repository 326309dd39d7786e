#include <windows.h>

#include "base/win32_owners.h"
#include "launcher/event_log.h"
#include "launcher/launcher_state.h"

namespace {
// Each byte of the system code page gives at most one UTF-16 unit: `wide` (size units) takes any
// text of fewer than `size` bytes. A longer one, which no caller passes, comes out empty.
void Widen(const char* text, wchar_t* wide, int size) {
  if (MultiByteToWideChar(CP_ACP, 0, text, -1, wide, size) == 0) wide[0] = L'\0';
}
}  // namespace

void RecordFailureEvent(unsigned eventId, const char* text, int exitCode) {
  wchar_t message[kEventTextSize];
  Widen(text, message, kEventTextSize);

  char module[kPathBufferSize];
  const DWORD length = GetModuleFileNameA(nullptr, module, sizeof module);
  if (length == 0 || length >= sizeof module) module[0] = '\0';
  wchar_t path[kPathBufferSize];
  Widen(module, path, kPathBufferSize);

  wchar_t code[12];
  int at = sizeof code / sizeof code[0] - 1;
  code[at] = L'\0';
  unsigned value = static_cast<unsigned>(exitCode);
  do {
    code[--at] = static_cast<wchar_t>(L'0' + value % 10);
    value /= 10;
  } while (value != 0 && at > 0);

  const UniqueEventSource source(RegisterEventSourceA(nullptr, "Quill"));
  if (!source) return;
  const wchar_t* strings[] = {message, path, code + at};
  ReportEventW(source.get(), EVENTLOG_WARNING_TYPE, 0, eventId, nullptr, 3, 0, strings, nullptr);
}
