// Starting the setup program (or the uninstaller), waiting for it, and removing what was unpacked.
#pragma once

// Returns 1 when the program was started and the cleanup done, or in unpack mode; 0 when the
// program could not be started.
int RunSetupAndCleanUp();
