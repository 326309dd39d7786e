#include "launcher/launcher_state.h"

#include <cstring>

#include "base/bounded_text.h"

LauncherState g_state = {nullptr, nullptr, 0, 0, {}, 0, {}, "quill_temp", 0, 0, 0, 0, 0, 0, 0, 0};

void ResetLauncherState() {
  std::memset(&g_state, 0, sizeof g_state);
  CopyBounded(g_state.workDirName, kWorkDirBaseName);
}
