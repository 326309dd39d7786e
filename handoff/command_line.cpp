#include "handoff/command_line.h"

#include "base/bounded_text.h"

HandoffProgram ChooseProgram(bool uninstallerPresent, std::string_view manifestValue) {
  return uninstallerPresent && !manifestValue.empty() ? HandoffProgram::kUninstaller
                                                      : HandoffProgram::kSetup;
}

int ComposeCommandLine(HandoffProgram program, const CommandLineParts& parts, char* out,
                       std::size_t capacity) {
  if (capacity == 0) return 0;
  out[0] = '\0';
  bool fits = AppendBounded(out, capacity, parts.programPath);
  if (program == HandoffProgram::kSetup) {
    if (!parts.packageDir.empty()) {
      fits = fits && AppendBounded(out, capacity, " -a ") &&
             AppendBounded(out, capacity, parts.packageDir);
    }
    fits = fits && AppendBounded(out, capacity, " -n ") &&
           AppendBounded(out, capacity, parts.launcherPath);
  }
  fits = fits && AppendBounded(out, capacity, parts.passThroughArgs);
  if (!fits) out[0] = '\0';
  return fits ? 1 : 0;
}

int PackageDirectoryOf(std::string_view modulePath, char* out, std::size_t capacity) {
  if (capacity == 0) return 0;
  out[0] = '\0';
  const std::size_t slash = modulePath.rfind('\\');
  if (slash == std::string_view::npos) return 0;
  const bool fits = AppendBounded(out, capacity, std::string_view(modulePath.data(), slash + 1)) &&
                    AppendBounded(out, capacity, kPackageDirName);
  if (!fits) out[0] = '\0';
  return fits ? 1 : 0;
}
