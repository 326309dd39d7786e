#include "launcher/launcher_state.h"

#include <cstring>

#include "base/bounded_text.h"

LauncherState g_state;

void ResetLauncherState() {
  std::memset(&g_state, 0, sizeof g_state);
  CopyBounded(g_state.workDirName, kWorkDirBaseName);
}
