// The process entry: the runtime start-up calls WinMain; the launcher takes its argument string
// from the command line itself so that quoting follows its own rule, not the runtime's.
#include <windows.h>

#include "launcher/argument_string.h"
#include "launcher/run_launcher.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  return RunLauncher(instance, SkipProgramName(GetCommandLineA()));
}
