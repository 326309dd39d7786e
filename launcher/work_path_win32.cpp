#include <windows.h>

#include <utility>

#include "base/win32_owners.h"
#include "fsutil/file_system.h"
#include "launcher/launcher_state.h"
#include "launcher/work_path.h"

namespace {
// The handle that marks the work directory busy, from the claim to the end of the run.
UniqueFile g_workDirHold;

// Whether `handle` is open on a directory itself, not on a link in its place.
bool IsPlainDirectory(HANDLE handle) {
  BY_HANDLE_FILE_INFORMATION info;
  return GetFileInformationByHandle(handle, &info) &&
         (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
         !(info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
}
}  // namespace

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

bool HoldWorkDirectory(const char* path, bool createdHere) {
  // The link itself, should the name be one: it is refused. Held before it is judged, the
  // directory judged is the one held: it cannot be swapped while the handle is open.
  UniqueFile hold(CreateFileA(path, FILE_ADD_FILE | FILE_READ_ATTRIBUTES, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!hold) return false;
  // One made in this run with the protected DACL holds nothing of anyone else's and needs no
  // judgement of its permissions (a volume without any, such as FAT, could not pass one); it
  // must only still be that directory.
  if (createdHere ? !IsPlainDirectory(hold.get())
                  : JudgeDirectory(path) != DirVerdict::kUsable) {
    return false;
  }
  g_workDirHold = std::move(hold);
  g_state.workDirReady = 1;
  return true;
}

bool WorkDirIsOurs() { return g_state.workDirReady != 0; }

void ReleaseWorkDirectory() {
  if (!g_state.workDirReady) return;
  g_workDirHold.reset();
  g_state.workDirReady = 0;
  char path[kPathBufferSize];
  if (MakeWorkDirPath(sizeof path, path)) DeleteTree(path, 0);
}
