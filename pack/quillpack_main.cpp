// quillpack: builds installers from files and directories, and lists, verifies and extracts them.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "pack/embedded_stub.h"
#include "pack/package_build.h"
#include "pack/package_read.h"

namespace {
const char kUsage[] =
    "usage: quillpack build -o OUT.exe [options] SOURCE...\n"
    "         SOURCE: a directory (its files, named by their paths below it) or a file\n"
    "         --preset N[e]      LZMA preset 0..9, 'e' for extreme (default 6: 8 MiB dictionary)\n"
    "         -j N               compress with N threads (default: one per core)\n"
    "         --arch x86|x64     the launcher: 32-bit (default) or 64-bit Windows\n"
    "         --stub FILE        another launcher stub (x86 or x64) instead of a built-in one\n"
    "         --allow-non-ascii  accept names outside printable ASCII\n"
    "         -q                 no progress and no summary\n"
    "       quillpack list INSTALLER.exe\n"
    "       quillpack verify [-q] INSTALLER.exe\n"
    "       quillpack extract INSTALLER.exe [-C DIR] [-q] [NAME...]\n";

int Usage(const char* problem) {
  if (problem) std::fprintf(stderr, "quillpack: %s\n", problem);
  std::fputs(kUsage, stderr);
  return 2;
}

bool ParsePreset(const char* text, EntryEncoding* encoding) {
  if (text[0] < '0' || text[0] > '9') return false;  // the terminator is below '0' too
  encoding->preset = text[0] - '0';
  encoding->extreme = text[1] == 'e';
  return text[1] == '\0' || (text[1] == 'e' && text[2] == '\0');
}

int Build(int argc, char** argv) {
  BuildOptions options;
  for (int i = 0; i < argc; ++i) {
    const std::string a = argv[i];
    auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
    if (a == "-o") {
      const char* v = value();
      if (!v) return Usage("-o needs a file name");
      options.output = v;
    } else if (a == "--preset") {
      const char* v = value();
      if (!v || !ParsePreset(v, &options.encoding))
        return Usage("--preset takes 0..9, optionally with e");
    } else if (a.starts_with("-j")) {
      const char* v = a.size() > 2 ? argv[i] + 2 : value();
      char* end = nullptr;
      const long n = v ? std::strtol(v, &end, 10) : 0;
      if (!v || *end || n < 1 || n > 1024) return Usage("-j takes a number of threads");
      options.jobs = static_cast<unsigned>(n);
    } else if (a == "--stub") {
      const char* v = value();
      if (!v) return Usage("--stub needs a file name");
      options.stubPath = v;
    } else if (a == "--arch") {
      const char* v = value();
      const std::string arch = v ? v : "";
      if (arch == "x86") {
        options.arch = PeArch::kX86;
      } else if (arch == "x64") {
        options.arch = PeArch::kX64;
      } else {
        return Usage("--arch takes x86 or x64");
      }
    } else if (a == "--allow-non-ascii") {
      options.names.allowNonAscii = true;
    } else if (a == "-q") {
      options.quiet = true;
    } else if (a == "--") {
      for (++i; i < argc; ++i) options.sources.push_back(argv[i]);
    } else if (a.size() > 1 && a[0] == '-') {
      return Usage(("unknown option " + a).c_str());
    } else {
      options.sources.push_back(a);
    }
  }
  if (options.output.empty()) return Usage("build needs -o OUT.exe");
  if (options.sources.empty()) return Usage("build needs at least one SOURCE");
  return RunBuild(options, {{kEmbeddedStubX86, kEmbeddedStubX86Size},
                            {kEmbeddedStubX64, kEmbeddedStubX64Size}});
}

int Extract(int argc, char** argv) {
  std::string installer, directory = ".";
  std::vector<std::string> names;
  bool quiet = false;
  for (int i = 0; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "-C") {
      if (i + 1 >= argc) return Usage("-C needs a directory");
      directory = argv[++i];
    } else if (a == "-q") {
      quiet = true;
    } else if (a.size() > 1 && a[0] == '-') {
      return Usage(("unknown option " + a).c_str());
    } else if (installer.empty()) {
      installer = a;
    } else {
      names.push_back(a);
    }
  }
  if (installer.empty()) return Usage("extract needs an installer");
  return RunExtract(installer, directory, names, quiet);
}
}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage(nullptr);
  const std::string command = argv[1];
  if (command == "-h" || command == "--help" || command == "help") {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (command == "build") return Build(argc - 2, argv + 2);
  if (command == "extract") return Extract(argc - 2, argv + 2);
  if (command == "list" && argc == 3) return RunList(argv[2]);
  if (command == "verify" && argc == 3) return RunVerify(argv[2], false);
  if (command == "verify" && argc == 4 && std::strcmp(argv[2], "-q") == 0) {
    return RunVerify(argv[3], true);
  }
  return Usage(("cannot understand the command " + command).c_str());
}
