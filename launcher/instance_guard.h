// The instance guard: one launcher (or its setup program) at a time, unless -mmi allows more.
#pragma once

// Looks for a running launcher or setup program. Returns 1 to go on (g_state.workDirName chosen),
// 0 to hand over to the instance found (the caller then ends with exit code 1). Ends the process
// with code 1 when -mmi finds no free work-directory name.
int GuardInstance();
