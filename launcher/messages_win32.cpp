#include <windows.h>

#include "base/format_name.h"
#include "launcher/english_texts.h"
#include "launcher/event_log.h"
#include "launcher/exit_code.h"
#include "launcher/launcher_state.h"
#include "launcher/messages.h"

namespace {
constexpr int kMessageBufferSize = 512;

// The English text of string `id`, whichever faces the string table kept.
const char* EnglishText(unsigned id) {
  switch (id) {
    case kStringCannotWrite:
      return QUILL_EN_CANNOT_WRITE;
    case kStringOutOfMemory:
      return QUILL_EN_OUT_OF_MEMORY;
    default:
      return QUILL_EN_CORRUPT;
  }
}
}  // namespace

void ShowMessageText(const char* text) { MessageBoxA(nullptr, text, nullptr, MB_ICONWARNING); }

void ShowMessageById(unsigned id) {
  char text[kMessageBufferSize] = {};
  LoadStringA(g_state.instance, id, text, sizeof text);
  ShowMessageText(text);
}

void ShowFormattedMessageById(unsigned id, const char* argument) {
  char format[kMessageBufferSize] = {};
  LoadStringA(g_state.instance, id, format, sizeof format);
  char text[kMessageBufferSize];
  FormatWithName(format, argument, text, sizeof text, IsAnsiLeadByte);
  ShowMessageText(text);
}

void ReportFailure(unsigned id, const char* name) {
  // Recorded first: whatever becomes of the box, the record is there.
  char text[kMessageBufferSize];
  FormatWithName(EnglishText(id), name, text, sizeof text, IsAnsiLeadByte);
  RecordFailureEvent(id, text, ComposeExitCode(g_state));
  // A text without %s comes out of the formatting as it is.
  if (!g_state.silentMode) ShowFormattedMessageById(id, name);
}

void ReportFatal(const FatalEnd& end) {
  RecordFailureEvent(end.eventId, end.text, kExitFatal);
  if (!g_state.silentMode) ShowMessageText(end.text);
}
