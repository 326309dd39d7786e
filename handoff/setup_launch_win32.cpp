#include <windows.h>

#include "handoff/setup_launch.h"
#include "launcher/launcher_state.h"

int RunSetupAndCleanUp() { return g_state.unpackMode ? 1 : 0; }
