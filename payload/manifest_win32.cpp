#include <windows.h>

#include "launcher/launcher_state.h"
#include "launcher/work_path.h"
#include "payload/manifest.h"

void RecordInManifest(const char* entryName) {
  // In unpack mode the work directory may not exist, or may not be the launcher's to write in.
  if (!WorkDirIsOurs()) return;
  char manifest[kShortPathBufferSize];
  if (!MakeWorkPath(kManifestName, sizeof manifest, manifest)) return;
  WritePrivateProfileStringA(kManifestSection, entryName, "TRUE", manifest);
}
