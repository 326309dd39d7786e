// The ceiling for the benchmark: the launcher's decoder and nothing around it. Decodes every
// payload entry of an installer in 64 KiB chunks, in the same kind of process as the launcher
// (32- or 64-bit, from the same build) and with the same liblzma build, and throws the output
// away: no files, no manifest, no window. With --write it also writes each entry into a file of
// its name below the current directory, created and written as the launcher does, which tells
// the cost of the files themselves from the launcher's own.
//   qbench_decode [--write] INSTALLER.exe
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <span>

#include "payload/entry_decoder.h"

namespace {
std::uint64_t g_decoded = 0;
int g_failures = 0;
bool g_write = false;

// The launcher's way of creating a target: written anew, no sharing, the temporary attribute.
HANDLE CreateTarget(const char* name) {
  if (!g_write) return INVALID_HANDLE_VALUE;
  return CreateFileA(name, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY,
                     nullptr);
}

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
  const HANDLE file = CreateTarget(name);
  if (g_write && file == INVALID_HANDLE_VALUE) {
    ++g_failures;
    return TRUE;
  }
  EntryHeader header;
  const EntryOutcome outcome = DecodeEntry(
      entry, &header,
      [file](const std::uint8_t* data, std::size_t size) {
        g_decoded += size;
        DWORD written = 0;
        return !g_write || (WriteFile(file, data, static_cast<DWORD>(size), &written, nullptr) &&
                            written == size);
      },
      [](std::uint32_t) {});
  if (g_write) CloseHandle(file);
  if (outcome != EntryOutcome::kComplete) ++g_failures;
  return TRUE;
}
}  // namespace

int main(int argc, char** argv) {
  g_write = argc == 3 && std::strcmp(argv[1], "--write") == 0;
  if (argc != 2 + g_write) {
    std::fprintf(stderr, "usage: qbench_decode [--write] INSTALLER.exe\n");
    return 2;
  }
  const char* installer = argv[argc - 1];
  HMODULE image = LoadLibraryExA(installer, nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (!image) {
    std::fprintf(stderr, "qbench_decode: cannot load %s\n", installer);
    return 2;
  }
  EnumResourceNamesA(image, "FILE", DecodeOne, 0);
  std::printf("decoded %llu bytes, %d failures\n", static_cast<unsigned long long>(g_decoded),
              g_failures);
  return g_failures ? 1 : 0;
}
