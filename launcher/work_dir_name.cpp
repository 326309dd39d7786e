#include "launcher/work_dir_name.h"

#include <charconv>
#include <string_view>

#include "base/bounded_text.h"
#include "launcher/launcher_state.h"

bool ChooseFreeWorkDirName(char* name, std::size_t capacity, WorkDirTaken taken, void* context) {
  for (int n = 0; n <= kLastWorkDirNumber; ++n) {
    CopyBounded(name, capacity, kWorkDirBaseName);
    if (n > 0) {
      char digits[4];
      const auto result = std::to_chars(digits, digits + sizeof digits, n);
      AppendBounded(name, capacity, std::string_view(digits, result.ptr - digits));
    }
    if (!taken(name, context)) return true;
  }
  return false;
}
