// The instance guard: one launcher (or its setup program) at a time, unless -mmi allows more.
#pragma once

// Looks for a running launcher or setup program. Returns 1 to go on (g_state.workDirName chosen
// and, where it could be made or was found usable, its directory held), 0 to hand over to the
// instance found (the caller then ends with exit code 1). Ends the process with code 1 when no
// work-directory name is free.
int GuardInstance();
