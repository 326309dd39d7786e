#include "pe/manifest.h"

namespace {
constexpr std::string_view kLevelNames[] = {"asInvoker", "highestAvailable",
                                            "requireAdministrator"};

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
}  // namespace

bool ParseExecutionLevel(std::string_view text, ExecutionLevel* level) {
  for (std::size_t i = 0; i < std::size(kLevelNames); ++i) {
    if (text == kLevelNames[i]) {
      *level = static_cast<ExecutionLevel>(i);
      return true;
    }
  }
  return false;
}

std::string_view ExecutionLevelName(ExecutionLevel level) {
  return kLevelNames[static_cast<std::size_t>(level)];
}

bool SetExecutionLevel(std::string_view manifest, ExecutionLevel level, std::string* out) {
  const std::size_t element = manifest.find("<requestedExecutionLevel");
  if (element == std::string_view::npos) return false;
  const std::size_t close = manifest.find('>', element);
  if (close == std::string_view::npos) return false;
  // The attribute "level" itself: preceded by a blank, followed by = and a quoted value.
  for (std::size_t at = manifest.find("level", element + 1); at < close;
       at = manifest.find("level", at + 1)) {
    if (!IsBlank(manifest[at - 1])) continue;
    std::size_t p = at + 5;
    while (p < close && IsBlank(manifest[p])) ++p;
    if (p >= close || manifest[p] != '=') continue;
    ++p;
    while (p < close && IsBlank(manifest[p])) ++p;
    if (p >= close || (manifest[p] != '"' && manifest[p] != '\'')) return false;
    const std::size_t end = manifest.find(manifest[p], p + 1);
    if (end == std::string_view::npos || end > close) return false;
    *out = std::string(manifest.substr(0, p + 1));
    *out += ExecutionLevelName(level);
    *out += manifest.substr(end);
    return true;
  }
  return false;
}
