#include <windows.h>

#include "fsutil/file_system.h"
#include "launcher/fatal.h"
#include "launcher/instance_guard.h"
#include "launcher/launcher_state.h"
#include "launcher/work_dir_name.h"
#include "launcher/work_path.h"

namespace {
// Looked for in this order: another launcher's progress dialog, then the setup program's windows.
constexpr const char* kWatchedClasses[] = {"QuillExtracting", "QuillSetupDlg", "QuillSetup"};
constexpr int kLauncherClass = 0;

// Whether the work directory `name` (already in g_state.workDirName) is taken; one that is not
// is claimed here, before anything is written into or deleted from it. While another instance
// runs (-mmi), any file or directory of that name is taken: it may be that instance's. So is one
// that another launcher holds, whatever its mode, and one the launcher cannot trust or write to (a
// link, a file, a directory that someone else owns or may change). One that passes is used again,
// a user's own files and all.
bool IsWorkDirTaken(const char* /*name*/, void* context) {
  const bool anyExisting = *static_cast<const bool*>(context);
  char path[kPathBufferSize];
  // A path that cannot be composed names no usable directory: while probing for -mmi it counts
  // as taken; otherwise the name stays, and every entry fails as one that cannot be created.
  if (!MakeWorkDirPath(sizeof path, path)) return anyExisting;
  bool created = false;
  if (FileExists(path)) {
    if (anyExisting) return true;
  } else {
    // Unpack mode makes no work directory: it writes nothing there unless one exists.
    if (g_state.unpackMode) return false;
    CreateParentDirectories(path);  // the temp directory itself, should it be missing
    // A directory that cannot be made leaves the name unheld: every entry then fails as one that
    // cannot be created. One that appeared meanwhile is judged like any other found.
    created = CreateProtectedDirectory(path);
    if (!created && !FileExists(path)) return false;
  }
  if (HoldWorkDirectory(path, created)) return false;
  // Another launcher took the one just made: it stays theirs, and if nobody holds it, it goes.
  if (created) RemoveDirectoryA(path);
  return true;
}
}  // namespace

int GuardInstance() {
  HWND found = nullptr;
  int which = 0;
  for (; which < static_cast<int>(sizeof kWatchedClasses / sizeof kWatchedClasses[0]); ++which) {
    found = FindWindowA(kWatchedClasses[which], nullptr);
    if (found) break;
  }
  if (found && !g_state.allowMultiple) {
    // A busy launcher runs no message loop: anything that restores or activates its dialog would
    // either wait for it or act at some later moment, so its dialog is left as it is.
    if (which != kLauncherClass) {
      ShowWindow(found, SW_RESTORE);
      SetForegroundWindow(found);
    }
    return 0;
  }

  bool anyExisting = found != nullptr;
  if (!ChooseFreeWorkDirName(g_state.workDirName, sizeof g_state.workDirName, IsWorkDirTaken,
                             &anyExisting)) {
    EndWithFatalMessage(kCannotCreateTempEnd);
  }
  return 1;
}
