// The process entry: the runtime start-up calls WinMain; the launcher takes its argument string
// from the command line itself so that quoting follows its own rule, not the runtime's.
#include <windows.h>

#include "launcher/argument_string.h"
#include "launcher/launcher_state.h"
#include "launcher/run_launcher.h"

namespace {
// An installer is started from download folders that anyone can write to, and it runs elevated:
// a DLL planted beside it must never be loaded. Restrict the search for DLLs loaded at run time to
// System32 before anything can load one. SetDefaultDllDirectories is looked up because older
// systems lack it; there, removing the current directory from the search is the best available.
void RestrictDllSearch() {
  using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
  const HMODULE kernel = GetModuleHandleA("kernel32.dll");
  const auto setDefault = reinterpret_cast<SetDefaultDllDirectoriesFn>(
      reinterpret_cast<void*>(GetProcAddress(kernel, "SetDefaultDllDirectories")));
  if (setDefault && setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32)) return;
  SetDllDirectoryA("");
}
}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  RestrictDllSearch();
  // The state record lives in zero-filled memory (it holds two large text fields that would
  // otherwise be stored in the executable); only the work-directory name has a start value.
  ResetLauncherState();
  return RunLauncher(instance, SkipProgramName(GetCommandLineA()));
}
