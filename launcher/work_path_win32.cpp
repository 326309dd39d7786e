#include <windows.h>

#include "fsutil/file_system.h"
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

int MakeWorkDirPath(std::size_t bufferSize, char* out) {
  if (!MakeWorkPath("", bufferSize, out)) return 0;
  const int length = lstrlenA(out);
  if (length > 0 && out[length - 1] == '\\') out[length - 1] = '\0';
  return 1;
}

bool WorkDirIsOurs() {
  if (g_state.workDirReady) return true;
  char path[kPathBufferSize];
  if (!MakeWorkDirPath(sizeof path, path) || JudgeDirectory(path) != DirVerdict::kUsable) {
    return false;
  }
  g_state.workDirReady = 1;
  return true;
}

bool EnsureWorkDirectory() {
  if (WorkDirIsOurs()) return true;
  char path[kPathBufferSize];
  if (!MakeWorkDirPath(sizeof path, path)) return false;
  CreateParentDirectories(path);  // the temp directory itself, should it be missing
  // Created here, nobody else can have put anything in it. When the creation fails because the
  // name appeared since the guard chose it, what appeared is judged like any directory found.
  if (!CreateProtectedDirectory(path)) return WorkDirIsOurs();
  g_state.workDirReady = 1;
  return true;
}
