// The launcher's messages in English, in one place: the English face of the string table
// (resources/launcher.rc) and the event log records (which always carry English, whichever faces
// a publisher kept) both take them from here. Macros, because the resource compiler reads them.
#pragma once

#define QUILL_EN_UNPACKING "Unpacking %s"
#define QUILL_EN_STARTING_SETUP "Starting the setup program..."
#define QUILL_EN_CANNOT_WRITE "Cannot write file %s"
#define QUILL_EN_OUT_OF_MEMORY "Out of memory!"
#define QUILL_EN_CORRUPT "The package is damaged. Please download the installer again."
