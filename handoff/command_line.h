// The command line handed to the setup program or the uninstaller (portable: no Win32 call).
#pragma once

#include <cstddef>
#include <string_view>

// CreateProcessA takes a command line of up to 32,767 UTF-16 characters, its terminator
// included. Its ANSI form needs up to two bytes for each in a double-byte code page.
inline constexpr std::size_t kCommandLineMaxChars = 32767;
inline constexpr std::size_t kCommandLineSize = 2 * kCommandLineMaxChars + 2;

// The package directory beside the launcher, passed behind " -a " when it exists.
inline constexpr char kPackageDirName[] = "wares";
inline constexpr char kSetupName[] = "SETUP.EXE";
inline constexpr char kUninstallerName[] = "uninstall.exe";

enum class HandoffProgram { kSetup, kUninstaller };

// The uninstaller runs only when its file is in the work directory and this run's manifest
// records it (`manifestValue` is the manifest's value for it, empty when it has none): a stale
// file from an earlier run must not take the place of the setup program.
HandoffProgram ChooseProgram(bool uninstallerPresent, std::string_view manifestValue);

struct CommandLineParts {
  std::string_view programPath;      // full path of the chosen program in the work directory
  std::string_view packageDir;       // path after " -a " (short form when known); empty: none
  std::string_view launcherPath;     // the launcher's module path, after " -n "
  std::string_view passThroughArgs;  // a blank followed by the launcher's argument string
};

// Composes the line into `out` (capacity bytes):
//   uninstaller: program + passThroughArgs
//   setup:       program [+ " -a " + packageDir] + " -n " + launcherPath + passThroughArgs
// Nothing is quoted: the receiving programs split these parts on blanks themselves. Returns 1 when
// the whole line fitted; otherwise 0 and `out` holds the empty string, since a cut line would
// hand the program wrong arguments.
int ComposeCommandLine(HandoffProgram program, const CommandLineParts& parts, char* out,
                       std::size_t capacity);

// Writes the directory part of `modulePath` (up to and including its last backslash) followed by
// "wares" into `out`. Works for module paths of any length that fit `out`. Returns 1 on success,
// 0 (and the empty string) when the path has no directory part or the result does not fit.
int PackageDirectoryOf(std::string_view modulePath, char* out, std::size_t capacity);
