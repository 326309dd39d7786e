// The launcher's run, start to end, in its fixed order.
#pragma once

#include <windows.h>

// Performs the whole run for the module `instance` with `argumentString` (the command line
// without the program name). The result is the process exit code.
int RunLauncher(HINSTANCE instance, const char* argumentString);
