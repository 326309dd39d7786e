// qencode: writes one file as a payload entry, for tests and the build's sample packages.
//   qencode [--preset N[e]] [--dict BYTES] [--lc N --lp N --pb N] INPUT OUTPUT
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "pack/entry_encoder.h"

namespace {
// A whole decimal or 0x-hexadecimal number in [0, max]; false for anything else.
bool ParseNumber(const char* text, unsigned long max, unsigned long* value) {
  if (!*text || *text == '-' || *text == '+') return false;
  char* end = nullptr;
  errno = 0;
  const unsigned long parsed = std::strtoul(text, &end, 0);
  if (errno != 0 || *end != '\0' || parsed > max) return false;
  *value = parsed;
  return true;
}
}  // namespace

int main(int argc, char** argv) {
  EntryEncoding encoding;
  int i = 1;
  for (; i + 1 < argc && std::strncmp(argv[i], "--", 2) == 0; i += 2) {
    const std::string option = argv[i];
    const char* value = argv[i + 1];
    unsigned long number = 0;
    bool valid = true;
    if (option == "--preset") {
      // The preset's digit, then an optional 'e' for the extreme variant.
      char digits[2] = {value[0], '\0'};
      valid =
          ParseNumber(digits, 9, &number) && (value[1] == '\0' || std::strcmp(value + 1, "e") == 0);
      encoding.preset = static_cast<int>(number);
      encoding.extreme = value[1] == 'e';
    } else if (option == "--dict") {
      valid = ParseNumber(value, 0xFFFFFFFFul, &number);
      encoding.dictionarySize = static_cast<std::uint32_t>(number);
    } else if (option == "--lc") {
      valid = ParseNumber(value, 8, &number);
      encoding.lc = static_cast<int>(number);
    } else if (option == "--lp") {
      valid = ParseNumber(value, 4, &number);
      encoding.lp = static_cast<int>(number);
    } else if (option == "--pb") {
      valid = ParseNumber(value, 4, &number);
      encoding.pb = static_cast<int>(number);
    } else {
      std::fprintf(stderr, "qencode: unknown option %s\n", argv[i]);
      return 2;
    }
    if (!valid) {
      std::fprintf(stderr, "qencode: bad value %s for %s\n", value, argv[i]);
      return 2;
    }
  }
  if (argc - i != 2) {
    std::fprintf(
        stderr,
        "usage: qencode [--preset N[e]] [--dict BYTES] [--lc N --lp N --pb N] INPUT OUTPUT\n");
    return 2;
  }
  std::FILE* input = std::fopen(argv[i], "rb");
  if (!input) {
    std::perror(argv[i]);
    return 1;
  }
  std::vector<std::uint8_t> entry;
  std::string error;
  const bool ok = EncodeEntryFromFile(input, encoding, &entry, &error);
  std::fclose(input);
  if (!ok) {
    std::fprintf(stderr, "qencode: %s: %s\n", argv[i], error.c_str());
    return 1;
  }
  std::FILE* output = std::fopen(argv[i + 1], "wb");
  if (!output || std::fwrite(entry.data(), 1, entry.size(), output) != entry.size() ||
      std::fclose(output) != 0) {
    std::perror(argv[i + 1]);
    return 1;
  }
  return 0;
}
