// Fuzz target: the tokenizer and the option scan.
//
// Input: the first byte picks the size of the output buffer (an odd byte: the launcher's 4096,
// an even one: 1 to 128 bytes, to drive the cutting paths); the rest, up to its first zero byte,
// is the argument string. Besides crashes and sanitizer reports it checks:
//   - GetArgument writes nothing past outSize (the buffer is an exact-size heap block);
//   - every index from CountArguments on yields the empty string;
//   - no argument holds a byte that is not in the input;
//   - every argument equals the one a plain one-pass model of the tokenizer makes;
//   - ParseOptions keeps the whole string for the setup program and sets only what it found;
//   - FindsSilentOption, which takes no memory, agrees with it on silent mode.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "launcher/launcher_state.h"
#include "launcher/options.h"

namespace {
[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "property violated: %s\n", what);
  std::abort();
}

void Check(bool ok, const char* what) {
  if (!ok) Fail(what);
}

bool IsBlank(unsigned char c) { return c == ' ' || (c >= 0x09 && c <= 0x0D); }

// The arguments in one pass, before stripping: a model written from the rules, not the code.
std::vector<std::string> ModelArguments(const std::string& text) {
  std::vector<std::string> args;
  bool inQuotes = false, afterBlank = true;
  for (unsigned char c : text) {
    if (c == '"') {
      if (!inQuotes) args.emplace_back();
      inQuotes = !inQuotes;
    } else if (!inQuotes && IsBlank(c)) {
      afterBlank = true;
      continue;
    } else if (!inQuotes && afterBlank) {
      args.emplace_back();
      afterBlank = false;
    }
    args.back() += static_cast<char>(c);
  }
  return args;
}

std::string ModelDelivered(std::string raw, std::size_t outSize) {
  if (raw.size() > outSize - 1) raw.resize(outSize - 1);
  if (!raw.empty() && raw.front() == '"') raw.erase(0, 1);
  if (!raw.empty() && raw.back() == '"') raw.pop_back();
  return raw;
}

bool IsForm(const std::string& arg, const char* name) {
  if (arg.empty() || (arg[0] != '-' && arg[0] != '/')) return false;
  std::string rest = arg.substr(1);
  for (char& c : rest) c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  return rest == name;
}

// GetArgument into a heap block of exactly outSize bytes.
std::string Fetch(const std::string& text, int index, std::size_t outSize, bool* answeredOut) {
  char* out = static_cast<char*>(std::malloc(outSize));
  std::memset(out, 'Z', outSize);
  const char* answer = GetArgument(text.c_str(), index, out, outSize);
  *answeredOut = answer == out;
  Check(answer == nullptr || answer == out, "GetArgument answers out or null");
  Check(std::memchr(out, '\0', outSize) != nullptr, "out is terminated within outSize");
  std::string value(out);
  std::free(out);
  return value;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::size_t outSize = (data[0] & 1) ? 4096 : 1 + data[0] / 2;
  const std::string text(reinterpret_cast<const char*>(data + 1),
                         strnlen(reinterpret_cast<const char*>(data + 1), size - 1));

  bool seen[256] = {};
  for (unsigned char c : text) seen[c] = true;

  const int count = CountArguments(text.c_str());
  const bool hasArguments = SkipBlanks(text.c_str()) != nullptr;
  Check(count >= 0 && (count == 0) == !hasArguments, "count is 0 exactly without arguments");
  const std::vector<std::string> model = ModelArguments(text);
  Check(static_cast<std::size_t>(count) == model.size(), "count matches the model");

  std::vector<std::string> delivered;
  for (int i = 0; i < count; ++i) {
    bool answeredOut = false;
    const std::string arg = Fetch(text, i, outSize, &answeredOut);
    Check(answeredOut, "an existing argument answers out");
    Check(arg.size() < outSize, "argument fits its buffer");
    for (unsigned char c : arg) Check(seen[c], "argument bytes come from the input");
    Check(arg == ModelDelivered(model[i], outSize), "argument matches the model");
    delivered.push_back(arg);
  }
  for (int index : {count, count + 1, count + 7, 0x7fffffff, -1}) {
    bool answeredOut = false;
    Check(Fetch(text, index, outSize, &answeredOut).empty(), "no argument beyond the last");
    Check(answeredOut == hasArguments, "null exactly for a string without arguments");
  }

  // The option scan, against the delivered arguments of the launcher's own 4096-byte buffer.
  if (outSize == 4096 && text.size() + 2 <= kPassThroughArgsSize) {
    ResetLauncherState();
    ParseOptions(text.c_str());
    Check(std::string(g_state.passThroughArgs) == " " + text, "pass-through copy is whole");
    Check(std::strcmp(g_state.workDirName, "quill_temp") == 0, "neighbouring field untouched");
    bool silent = false, unpack = false, multiple = false;
    std::string name;
    for (std::size_t i = 0; i < delivered.size(); ++i) {
      if (IsForm(delivered[i], "ms")) {
        silent = true;
      } else if (IsForm(delivered[i], "u")) {
        unpack = true;
        if (i + 1 < delivered.size() && !delivered[i + 1].empty() && delivered[i + 1][0] != '-') {
          name = delivered[++i];
        }
      } else if (IsForm(delivered[i], "mmi")) {
        multiple = true;
      }
    }
    Check(g_state.silentMode == silent, "silent mode");
    Check(FindsSilentOption(text.c_str()) == silent, "silent mode found without memory");
    Check(g_state.unpackMode == unpack, "unpack mode");
    Check(g_state.allowMultiple == multiple, "multiple instances");
    Check(name == g_state.unpackName, "unpack name");
  }
  return 0;
}
