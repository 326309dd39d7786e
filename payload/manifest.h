// The extraction manifest Archive.lst: section "Archives", one key per extracted entry = "TRUE".
#pragma once

inline constexpr char kManifestSection[] = "Archives";

// Records `entryName` in the manifest of the work directory; failures are ignored.
void RecordInManifest(const char* entryName);
