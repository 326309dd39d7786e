// Starting the setup program (or the uninstaller), waiting for it, and removing what was unpacked.
#pragma once

// Returns 1 when the program was started and the cleanup done, or in unpack mode; 0 when the
// program could not be started, or was not because the extraction stopped after a message (what
// was unpacked is then deleted as after a run).
int RunSetupAndCleanUp();
