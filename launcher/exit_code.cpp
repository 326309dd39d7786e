#include "launcher/exit_code.h"

int ComposeExitCode(const LauncherState& state) {
  if (state.extractionFailed) return kExitLauncherFailed;
  if (state.unpackMode) {
    return state.unpackName[0] && !state.unpackNameFound ? kExitLauncherFailed : 0;
  }
  if (!state.setupStarted) return kExitLauncherFailed;
  return static_cast<int>(state.setupExitCode);
}
