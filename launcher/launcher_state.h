// The one record of launcher-wide state, written by the option scan and the instance guard before
// any window exists and read by every later step of the run.
//
// This header is portable: the two window-system handles are declared through the incomplete types
// that <windows.h> itself uses for HINSTANCE and HWND, so Win32 code uses them directly and host
// code (unit tests, fuzzers) can link the portable parts without Windows headers.
#pragma once

#include <cstddef>
#include <cstdint>

struct HINSTANCE__;
struct HWND__;

// Buffer sizes of the launcher's fixed text fields and path buffers.
inline constexpr std::size_t kPathBufferSize = 4096;      // general path buffers
inline constexpr std::size_t kShortPathBufferSize = 260;  // the system's MAX_PATH
inline constexpr std::size_t kWorkDirNameSize = 20;
// A blank, the longest argument string Windows can deliver, and the terminator: the whole string
// always fits. A command line holds up to 32,767 UTF-16 characters; its ANSI form takes up to two
// bytes for each in a double-byte code page, and the system caps it at 65,535 bytes.
inline constexpr std::size_t kPassThroughArgsSize = 1 + 65535;

inline constexpr char kWorkDirBaseName[] = "quill_temp";
inline constexpr char kManifestName[] = "Archive.lst";
inline constexpr char kScratchTreeName[] = "fennel.moss";

struct LauncherState {
  HINSTANCE__* instance;  // the launcher's own module: string table, dialog, payload entries
  HWND__* dialog;         // progress dialog; null in silent mode or when creation failed
  int silentMode;         // -ms
  int unpackMode;         // -u
  char unpackName[kPathBufferSize];            // name after -u; empty means every entry
  int allowMultiple;                           // -mmi
  char passThroughArgs[kPassThroughArgsSize];  // a blank followed by the whole argument string
  char workDirName[kWorkDirNameSize];          // quill_temp, or quill_temp1 .. quill_temp100
  std::uint32_t totalPayloadBytes;             // sum of the stored sizes of all entries
  std::uint32_t doneCompressedBytes;           // stream lengths of the entries already extracted
  int gaugeBlocks;                             // gauge blocks that fit
  int gaugeFilled;                             // gauge blocks shown
  int workDirReady;  // the work directory is the launcher's and held for this run: created with
                     // its protected DACL, or found trustworthy and writable, and not busy

  // Outcome of the run, from which the exit code is composed.
  int extractionFailed;         // an entry failed or was skipped (message 4, 6 or 7, bad header, no
                                // target)
  int extractionStopped;        // the extraction ended early after message 4, 6 or 7
  int unpackNameFound;          // -u NAME: an entry of that name was met
  int setupStarted;             // the setup program or the uninstaller was started
  std::uint32_t setupExitCode;  // its exit code, once it has ended
};

// Zero-filled at load; WinMain calls ResetLauncherState first, which gives workDirName its start
// value quill_temp. Tests call it before each simulated launch.
extern LauncherState g_state;

void ResetLauncherState();
