#include "launcher/work_path.h"

#include "base/bounded_text.h"

namespace {
bool AppendSeparated(char* out, std::size_t capacity, std::string_view part) {
  const std::size_t used = BoundedLength(out, capacity);
  if (used > 0 && out[used - 1] != '\\' && !AppendBounded(out, capacity, "\\")) return false;
  return AppendBounded(out, capacity, part);
}
}  // namespace

int ComposeWorkPath(std::string_view tempDir, std::string_view workDirName, std::string_view name,
                    char* out, std::size_t capacity) {
  if (capacity == 0) return 0;
  out[0] = '\0';
  const bool fits = AppendBounded(out, capacity, tempDir) &&
                    AppendSeparated(out, capacity, workDirName) &&
                    AppendSeparated(out, capacity, "") && AppendBounded(out, capacity, name);
  if (!fits) out[0] = '\0';
  return fits ? 1 : 0;
}
