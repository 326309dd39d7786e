// The ceiling for the benchmark: the launcher's decoder and nothing around it. Decodes every
// payload entry of an installer in 64 KiB chunks, in the same kind of process as the launcher
// (32- or 64-bit, from the same build) and with the same liblzma build, and throws the output
// away: no files, no manifest, no window.
//   qbench_decode INSTALLER.exe
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <span>

#include "payload/entry_decoder.h"

namespace {
std::uint64_t g_decoded = 0;
int g_failures = 0;

BOOL CALLBACK DecodeOne(HMODULE module, LPCSTR type, LPSTR name, LONG_PTR) {
  HRSRC found = FindResourceA(module, name, type);
  HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
  const void* data = loaded ? LockResource(loaded) : nullptr;
  if (!data) {
    ++g_failures;
    return TRUE;
  }
  const std::span<const std::uint8_t> entry(static_cast<const std::uint8_t*>(data),
                                            SizeofResource(module, found));
  EntryHeader header;
  const EntryOutcome outcome = DecodeEntry(
      entry, &header,
      [](const std::uint8_t*, std::size_t size) {
        g_decoded += size;
        return true;
      },
      [](std::uint32_t) {});
  if (outcome != EntryOutcome::kComplete) ++g_failures;
  return TRUE;
}
}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: qbench_decode INSTALLER.exe\n");
    return 2;
  }
  HMODULE image = LoadLibraryExA(argv[1], nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (!image) {
    std::fprintf(stderr, "qbench_decode: cannot load %s\n", argv[1]);
    return 2;
  }
  EnumResourceNamesA(image, "FILE", DecodeOne, 0);
  std::printf("decoded %llu bytes, %d failures\n", static_cast<unsigned long long>(g_decoded),
              g_failures);
  return g_failures ? 1 : 0;
}
