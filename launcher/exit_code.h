// The launcher's exit code, composed from the outcome of the run.
#pragma once

#include "launcher/launcher_state.h"

// The launcher's own work failed: an entry could not be extracted, the program could not be
// started, or -u named an entry the package does not hold.
inline constexpr int kExitLauncherFailed = 2;

// After a run that was not handed over: in unpack mode 0, or 2 when an extraction failed or the
// named entry was missing. Otherwise 2 when an extraction failed (whatever the program answered)
// or nothing was started, else the program's own exit code.
int ComposeExitCode(const LauncherState& state);
