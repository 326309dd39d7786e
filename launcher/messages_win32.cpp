#include <windows.h>

#include "launcher/launcher_state.h"
#include "launcher/messages.h"
#include "base/format_name.h"

namespace {
constexpr int kMessageBufferSize = 512;
}

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
