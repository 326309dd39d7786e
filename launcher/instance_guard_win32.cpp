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

// The work directory `name` (already in g_state.workDirName) exists as a file or a directory. The
// path is probed without its final backslash: "...\quill_temp3\" does not see a plain file of
// that name, which would then be taken for free and make every extraction fail.
bool WorkDirExists(const char* /*name*/, void*) {
  char path[kPathBufferSize];
  // A path that cannot be composed names no usable directory: count it as taken.
  if (!MakeWorkPath("", sizeof path, path)) return true;
  const int length = lstrlenA(path);
  if (length > 0 && path[length - 1] == '\\') path[length - 1] = '\0';
  return FileExists(path) != 0;
}
}  // namespace

int GuardInstance() {
  HWND found = nullptr;
  int which = 0;
  for (; which < static_cast<int>(sizeof kWatchedClasses / sizeof kWatchedClasses[0]); ++which) {
    found = FindWindowA(kWatchedClasses[which], nullptr);
    if (found) break;
  }
  if (!found) return 1;

  if (!g_state.allowMultiple) {
    // A busy launcher runs no message loop: anything that restores or activates its dialog would
    // either wait for it or act at some later moment, so its dialog is left as it is.
    if (which != kLauncherClass) {
      ShowWindow(found, SW_RESTORE);
      SetForegroundWindow(found);
    }
    return 0;
  }

  if (!ChooseFreeWorkDirName(g_state.workDirName, sizeof g_state.workDirName, WorkDirExists,
                             nullptr)) {
    EndWithFatalMessage(kCannotCreateTempText);
  }
  return 1;
}
