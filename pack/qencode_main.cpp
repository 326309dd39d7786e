// qencode: writes one file as a payload entry, for tests and the build's sample packages.
//   qencode [--preset N[e]] [--dict BYTES] [--lc N --lp N --pb N] INPUT OUTPUT
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "pack/entry_encoder.h"

int main(int argc, char** argv) {
  EntryEncoding encoding;
  int i = 1;
  for (; i + 1 < argc && std::strncmp(argv[i], "--", 2) == 0; i += 2) {
    const std::string option = argv[i];
    const char* value = argv[i + 1];
    if (option == "--preset") {
      encoding.preset = std::atoi(value);
      encoding.extreme = std::strchr(value, 'e') != nullptr;
    } else if (option == "--dict") {
      encoding.dictionarySize = static_cast<std::uint32_t>(std::strtoul(value, nullptr, 0));
    } else if (option == "--lc") {
      encoding.lc = std::atoi(value);
    } else if (option == "--lp") {
      encoding.lp = std::atoi(value);
    } else if (option == "--pb") {
      encoding.pb = std::atoi(value);
    } else {
      std::fprintf(stderr, "qencode: unknown option %s\n", argv[i]);
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
