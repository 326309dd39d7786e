#include "launcher/run_launcher.h"

#include "fsutil/file_system.h"
#include "handoff/setup_launch.h"
#include "launcher/exit_code.h"
#include "launcher/fatal.h"
#include "launcher/instance_guard.h"
#include "launcher/launcher_state.h"
#include "launcher/messages.h"
#include "launcher/options.h"
#include "launcher/work_path.h"
#include "payload/extract.h"
#include "progress/progress_window.h"

namespace {
// Removes what an earlier run may have left: its manifest and the fennel.moss tree. Only in a
// work directory this run holds: another launcher's, or one that is not the launcher's, is left
// alone, and so is everything in it. The directory itself, when nothing else is in it, goes at
// the end of the run (ReleaseWorkDirectory).
void RemoveLeftovers() {
  if (!WorkDirIsOurs()) return;
  char path[kShortPathBufferSize];
  if (MakeWorkPath(kManifestName, sizeof path, path)) DeleteFileA(path);
  if (MakeWorkPath(kScratchTreeName, sizeof path, path)) DeleteTree(path, 1);
}
}  // namespace

int RunLauncher(HINSTANCE instance, const char* argumentString) {
  g_state.instance = instance;
  SetFatalReporter(ReportFatal);
  ParseOptions(argumentString);
  if (!GuardInstance()) return 1;

  EnumResourceNamesA(instance, kPayloadType, AddEntrySize, 0);
  RegisterGaugeClass();
  RegisterDialogClass();
  if (!g_state.silentMode) CreateProgressDialog();
  RemoveLeftovers();
  EnumResourceNamesA(instance, kPayloadType, ExtractEntry, 0);
  RunSetupAndCleanUp();
  ReleaseWorkDirectory();
  return ComposeExitCode(g_state);
}
