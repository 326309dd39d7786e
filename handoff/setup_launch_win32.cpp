#include <windows.h>

#include "base/bounded_text.h"
#include "base/win32_owners.h"
#include "fsutil/file_system.h"
#include "handoff/command_line.h"
#include "handoff/entry_dirs.h"
#include "payload/entry_name.h"
#include "handoff/setup_launch.h"
#include "launcher/launcher_state.h"
#include "launcher/messages.h"
#include "launcher/work_path.h"
#include "payload/extract.h"
#include "payload/manifest.h"
#include "progress/progress_report.h"

namespace {
constexpr DWORD kIdleWaitMs = 3000;
constexpr std::size_t kStatusBufferSize = 256;

void ShowStartingStatus() {
  SetProgress(100);
  char status[kStatusBufferSize] = {};
  LoadStringA(g_state.instance, kStringStartingSetup, status, sizeof status);
  SetStatusText(status);
}

// The package directory to name behind " -a ", or the empty string when there is none beside the
// launcher. Its 8.3 form keeps the blank-separated line readable; when that form cannot be had the
// long form is still a usable path.
void FindPackageDirectory(const char* modulePath, char* out, std::size_t capacity) {
  char longForm[kPathBufferSize];
  out[0] = '\0';
  if (!PackageDirectoryOf(modulePath, longForm, sizeof longForm) || !FileExists(longForm)) return;
  const DWORD length = GetShortPathNameA(longForm, out, static_cast<DWORD>(capacity));
  if (length != 0 && length < capacity) return;
  if (!CopyBounded(out, capacity, longForm)) out[0] = '\0';  // a cut path would name another
}

// Builds the line for the chosen program; 0 when some part is missing or the line is longer than
// the system starts a program with.
int BuildCommandLine(HandoffProgram program, const char* programPath, char* out,
                     std::size_t capacity) {
  char modulePath[kPathBufferSize] = {};
  char packageDir[kPathBufferSize] = {};
  if (program == HandoffProgram::kSetup) {
    const DWORD length = GetModuleFileNameA(nullptr, modulePath, sizeof modulePath);
    if (length == 0 || length >= sizeof modulePath) return 0;
    FindPackageDirectory(modulePath, packageDir, sizeof packageDir);
  }
  const CommandLineParts parts = {programPath, packageDir, modulePath, g_state.passThroughArgs};
  if (!ComposeCommandLine(program, parts, out, capacity)) return 0;
  // The system counts the line in UTF-16 characters, as it converts the line for the program.
  const int characters = MultiByteToWideChar(CP_ACP, 0, out, -1, nullptr, 0);
  return characters > 0 && static_cast<std::size_t>(characters) <= kCommandLineMaxChars ? 1 : 0;
}

// Deletes an entry's file, then the directories its name contains when they are empty:
// extraction created them, and left behind they would keep the work directory from going.
BOOL CALLBACK DeleteUnpackedEntry(HMODULE, LPCSTR, LPSTR name, LONG_PTR) {
  if (IS_INTRESOURCE(name)) return TRUE;  // not a payload entry, so nothing was unpacked for it
  char path[kShortPathBufferSize];
  // A name that leads outside the work directory was never unpacked; nothing is deleted for it.
  if (!IsContainedEntryName(name)) return TRUE;
  // Nor through a directory that is a link: the file there is not the one unpacked.
  if (MakeWorkPath(name, sizeof path, path) && !LinkOnTheWay(path, lstrlenA(name))) {
    DeleteFileA(path);
  }
  ForEachEntryDirectory(name, [&path](std::string_view directory) {
    char nameBuffer[kShortPathBufferSize];
    if (CopyBounded(nameBuffer, directory) && MakeWorkPath(nameBuffer, sizeof path, path)) {
      RemoveDirectoryA(path);
    }
  });
  return TRUE;
}

// Deletes what the run unpacked, the manifest and the fennel.moss tree; the work directory goes
// at the end of the run, when the program left nothing else in it (ReleaseWorkDirectory).
void CleanUp() {
  EnumResourceNamesA(g_state.instance, kPayloadType, DeleteUnpackedEntry, 0);
  char path[kShortPathBufferSize];
  if (MakeWorkPath(kManifestName, sizeof path, path)) DeleteFileA(path);
  if (MakeWorkPath(kScratchTreeName, sizeof path, path)) DeleteTree(path, 1);
}
}  // namespace

int RunSetupAndCleanUp() {
  if (g_state.unpackMode) return 1;
  // A work directory this run does not hold received nothing from it, and what is in it (perhaps
  // another launcher's package, unpacked under the same name) is neither started nor deleted.
  if (!WorkDirIsOurs()) return 0;
  // A package that could not be unpacked whole is damaged or incomplete: its setup program would
  // install whatever part of it arrived, so none is started.
  if (g_state.extractionStopped) {
    CleanUp();
    return 0;
  }
  ShowStartingStatus();

  char workDir[kPathBufferSize];
  char manifest[kPathBufferSize];
  char setupPath[kPathBufferSize];
  char uninstallerPath[kPathBufferSize];
  MakeWorkPath("", sizeof workDir, workDir);
  MakeWorkPath(kManifestName, sizeof manifest, manifest);
  MakeWorkPath(kSetupName, sizeof setupPath, setupPath);
  MakeWorkPath(kUninstallerName, sizeof uninstallerPath, uninstallerPath);

  char recorded[kPathBufferSize] = {};
  if (manifest[0]) {
    GetPrivateProfileStringA(kManifestSection, kUninstallerName, "", recorded, sizeof recorded,
                             manifest);
  }
  const HandoffProgram program =
      ChooseProgram(uninstallerPath[0] && FileExists(uninstallerPath), recorded);
  const char* programPath = program == HandoffProgram::kUninstaller ? uninstallerPath : setupPath;

  // The line may be as long as CreateProcessA allows, far more than a stack frame should hold.
  UniqueHeap lineBuffer(std::calloc(kCommandLineSize, 1));
  char* commandLine = static_cast<char*>(lineBuffer.get());
  if (!commandLine || !programPath[0] || !workDir[0] ||
      !BuildCommandLine(program, programPath, commandLine, kCommandLineSize)) {
    return 0;
  }

  // The program's path goes separately as the application name, so a work directory with blanks
  // cannot be misread, while the line itself reaches the program exactly as composed.
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessA(programPath, commandLine, nullptr, nullptr, FALSE, 0, nullptr, workDir,
                      &startup, &process)) {
    return 0;
  }
  g_state.setupStarted = 1;
  UniqueHandle processHandle(process.hProcess);
  CloseHandle(process.hThread);

  WaitForInputIdle(processHandle.get(), kIdleWaitMs);
  if (!g_state.silentMode && g_state.dialog) {
    DestroyWindow(g_state.dialog);
    g_state.dialog = nullptr;
  }

  DWORD exitCode = 0;
  if (WaitForSingleObject(processHandle.get(), INFINITE) == WAIT_OBJECT_0 &&
      GetExitCodeProcess(processHandle.get(), &exitCode)) {
    g_state.setupExitCode = exitCode;
  } else {
    // The program ran, but how it ended is unknown: report the launcher's own failure.
    g_state.setupStarted = 0;
  }
  processHandle.reset();

  CleanUp();
  return 1;
}
