#include "launcher/options.h"

#include "base/bounded_text.h"
#include "launcher/launcher_state.h"

void ParseOptions(const char* argumentString) {
  g_state.silentMode = 0;
  g_state.unpackMode = 0;
  g_state.unpackName[0] = '\0';
  CopyBounded(g_state.passThroughArgs, " ");
  AppendBounded(g_state.passThroughArgs, argumentString);
}
