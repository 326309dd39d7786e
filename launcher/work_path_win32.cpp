#include <windows.h>

#include "launcher/launcher_state.h"
#include "launcher/work_path.h"

int MakeWorkPath(const char* name, std::size_t bufferSize, char* out) {
  char tempDir[MAX_PATH + 1];
  const DWORD length = GetTempPathA(sizeof tempDir, tempDir);
  if (length == 0 || length >= sizeof tempDir) {
    if (bufferSize) out[0] = '\0';
    return 0;
  }
  return ComposeWorkPath({tempDir, length}, g_state.workDirName, name, out, bufferSize);
}
