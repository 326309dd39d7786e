#include <windows.h>

#include "launcher/launcher_state.h"
#include "launcher/work_path.h"
#include "payload/manifest.h"

void RecordInManifest(const char* entryName) {
  char manifest[kShortPathBufferSize];
  if (!MakeWorkPath(kManifestName, sizeof manifest, manifest)) return;
  WritePrivateProfileStringA(kManifestSection, entryName, "TRUE", manifest);
}
