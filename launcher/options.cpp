#include "launcher/options.h"

#include <cstdlib>
#include <string_view>

#include "base/bounded_text.h"
#include "launcher/fatal.h"
#include "launcher/launcher_state.h"

namespace {
void* AllocateZeroed(std::size_t size) { return std::calloc(size, 1); }

ScratchAllocator g_allocateScratch = AllocateZeroed;

// Exactly these six bytes; isspace() would depend on the C locale and, for bytes from 0x80 up,
// could split a double-byte character of the system code page.
bool IsBlank(unsigned char c) { return c == ' ' || (c >= 0x09 && c <= 0x0D); }

// Runs the tokenizer over `start` (the first non-blank character). `visit(byte, argumentIndex)` is
// called for every byte that belongs to an argument, quotes included, and ends the scan by
// answering false. Answers the number of the last argument started, plus one.
template <typename Visit>
int Tokenize(const char* start, Visit&& visit) {
  int index = -1;
  bool inQuotes = false;
  bool afterBlank = true;
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(start); *p; ++p) {
    const unsigned char c = *p;
    if (c == '"') {
      // Quotes never touch afterBlank: that is what lets `"a b"c` split after the quote.
      if (!inQuotes) ++index;
      inQuotes = !inQuotes;
    } else if (!inQuotes) {
      if (IsBlank(c)) {
        afterBlank = true;
        continue;
      }
      if (afterBlank) {
        ++index;
        afterBlank = false;
      }
    }
    if (!visit(c, index)) break;
  }
  return index + 1;
}

char FoldAsciiCase(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// `argument` is "-name" or "/name" as a whole, letter case aside (ASCII only, whatever the locale).
bool IsOption(const char* argument, std::string_view name) {
  if (argument[0] != '-' && argument[0] != '/') return false;
  const char* rest = argument + 1;
  for (char expected : name) {
    if (FoldAsciiCase(*rest) != expected) return false;
    ++rest;
  }
  return *rest == '\0';
}

// Argument `index` of the arguments from `start` on, quotes and all, cut to size - 1 bytes.
void CopyRawArgument(const char* start, int index, char* raw, std::size_t size) {
  std::size_t used = 0;
  Tokenize(start, [&](unsigned char c, int argument) {
    // Argument numbers only grow, so once past `index` nothing of it can follow.
    if (argument > index) return false;
    if (argument == index && used + 1 < size) raw[used++] = static_cast<char>(c);
    return true;
  });
  raw[used] = '\0';
}

struct FoundOptions {
  bool silent = false;
  bool unpack = false;
  bool multiple = false;
};

// Writes argument `index` of `text`, without its outer quotes, into `out` (empty past the last).
using ArgumentReader = void (*)(const char* text, int index, char* out);

// The option scan over the arguments that `read` delivers into `argument`; every -u name is
// copied into `name` (nameSize bytes; none when 0), so the last one wins.
FoundOptions ScanOptions(const char* text, char* argument, ArgumentReader read, char* name,
                         std::size_t nameSize) {
  FoundOptions found;
  const int count = CountArguments(text);
  for (int i = 0; i < count; ++i) {
    read(text, i, argument);
    if (IsOption(argument, "ms")) {
      found.silent = true;
    } else if (IsOption(argument, "u")) {
      found.unpack = true;
      // The name is the next argument unless it looks like an option ("-" only: "/x" is a name).
      read(text, i + 1, argument);
      if (argument[0] != '\0' && argument[0] != '-') {
        if (nameSize) CopyBounded(name, nameSize, argument);
        ++i;
      }
    } else if (IsOption(argument, "mmi")) {
      found.multiple = true;
    }
  }
  return found;
}

// Enough to tell every option and a -u name's first byte apart exactly: an argument of 7 bytes
// or more, quotes included, is no option either way.
constexpr std::size_t kOptionProbeSize = 8;

// The reader that needs no memory: each argument cut to kOptionProbeSize - 1 bytes, quotes
// included, before they are stripped. ScanOptions reads only while `text` holds arguments.
void ProbeArgument(const char* text, int index, char* out) {
  out[0] = '\0';
  char raw[kOptionProbeSize];
  CopyRawArgument(SkipBlanks(text), index, raw, sizeof raw);
  StripOuterQuotes(raw, out, kOptionProbeSize);
}

void ReadWholeArgument(const char* text, int index, char* out) {
  GetArgument(text, index, out, kPathBufferSize);
}
}  // namespace

void SetScratchAllocator(ScratchAllocator allocate) {
  g_allocateScratch = allocate ? allocate : AllocateZeroed;
}

const char* SkipBlanks(const char* text) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
  while (IsBlank(*p)) ++p;
  return *p ? reinterpret_cast<const char*>(p) : nullptr;
}

int CountArguments(const char* text) {
  const char* start = SkipBlanks(text);
  if (!start) return 0;
  return Tokenize(start, [](unsigned char, int) { return true; });
}

char* GetArgument(const char* text, int index, char* out, std::size_t outSize) {
  if (outSize == 0) return nullptr;
  out[0] = '\0';
  const char* start = SkipBlanks(text);
  if (!start) return nullptr;

  char* scratch = static_cast<char*>(g_allocateScratch(outSize));
  if (!scratch) EndWithFatalMessage(kOutOfMemoryEnd);
  CopyRawArgument(start, index, scratch, outSize);
  StripOuterQuotes(scratch, out, outSize);
  std::free(scratch);
  return out;
}

void StripOuterQuotes(const char* source, char* destination, std::size_t destinationSize) {
  const std::size_t length = BoundedLength(source, destinationSize);
  if (length >= destinationSize) return;
  std::string_view text(source, length);
  if (!text.empty() && text.front() == '"') text.remove_prefix(1);
  if (!text.empty() && text.back() == '"') text.remove_suffix(1);
  CopyBounded(destination, destinationSize, text);
}

bool FindsSilentOption(const char* argumentString) {
  char argument[kOptionProbeSize];
  return ScanOptions(argumentString, argument, ProbeArgument, nullptr, 0).silent;
}

void ParseOptions(const char* argumentString) {
  // Known before anything needs memory, so that the scan's own out-of-memory end is silent too.
  g_state.silentMode = FindsSilentOption(argumentString) ? 1 : 0;
  g_state.passThroughArgs[0] = '\0';
  g_state.unpackName[0] = '\0';

  char argument[kPathBufferSize];
  const FoundOptions found = ScanOptions(argumentString, argument, ReadWholeArgument,
                                         g_state.unpackName, sizeof g_state.unpackName);
  g_state.unpackMode = found.unpack ? 1 : 0;
  if (found.multiple) g_state.allowMultiple = 1;

  // The field holds the longest argument string the system can hand over, so this never cuts one.
  g_state.passThroughArgs[0] = ' ';
  CopyBounded(g_state.passThroughArgs + 1, sizeof g_state.passThroughArgs - 1, argumentString);
}
