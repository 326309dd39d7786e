// quillpack: builds installers from files and directories, and lists, verifies and extracts them.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <lzma.h>

#include "pack/embedded_stub.h"
#include "pack/package_build.h"
#include "pack/package_read.h"
#include "pe/utf16.h"

namespace {
const char kUsage[] =
    "usage: quillpack build -o OUT.exe [options] SOURCE...\n"
    "         SOURCE: a directory (its files, named by their paths below it) or a file\n"
    "         --preset N[e]      LZMA preset 0..9, 'e' for extreme (default 6: 8 MiB dictionary)\n"
    "         --store MODE       keep files as they are: never, auto (default: those LZMA does\n"
    "                            not make at least 2% smaller) or always\n"
    "         -j N               compress with N threads (default: one per core)\n"
    "         --arch x86|x64     the launcher: 32-bit (default) or 64-bit Windows\n"
    "         --stub FILE        another launcher stub (x86 or x64) instead of a built-in one\n"
    "         --allow-non-ascii  accept names outside printable ASCII\n"
    "         --no-setup         a package without SETUP.EXE or UNINSTALL.EXE (to unpack with -u)\n"
    "         -q                 no progress and no summary\n"
    "       the installer's own face:\n"
    "         --icon FILE.ico               its icon: every image of the .ico\n"
    "         --version-info KEY=VALUE      a version text: CompanyName, FileDescription,\n"
    "                                       ProductName, LegalCopyright, OriginalFilename, ...;\n"
    "                                       KEY= removes it\n"
    "         --file-version A.B.C.D        the file version, as number and as text\n"
    "         --product-version A.B.C.D     the product version, as number and as text\n"
    "         --execution-level LEVEL       the rights Windows starts it with: "
    "requireAdministrator\n"
    "                                       (default), highestAvailable or asInvoker\n"
    "         --language zh-CN|en-US|both   its texts in Chinese, English or both (default both:\n"
    "                                       Chinese on Chinese systems, English elsewhere)\n"
    "       quillpack list INSTALLER.exe\n"
    "       quillpack verify [-q] INSTALLER.exe\n"
    "       quillpack extract INSTALLER.exe [-C DIR] [-q] [NAME...]\n"
    "       quillpack --version\n";

// A usage error: the problem alone, so that it is not lost above the whole usage text.
int Usage(const char* problem) {
  if (problem) {
    std::fprintf(stderr, "quillpack: %s\n(quillpack --help lists the commands and options)\n",
                 problem);
  } else {
    std::fputs(kUsage, stderr);
  }
  return 2;
}

bool ParsePreset(const char* text, EntryEncoding* encoding) {
  if (text[0] < '0' || text[0] > '9') return false;  // the terminator is below '0' too
  encoding->preset = text[0] - '0';
  encoding->extreme = text[1] == 'e';
  return text[1] == '\0' || (text[1] == 'e' && text[2] == '\0');
}

// "KEY=VALUE" of --version-info: a key Windows' version lookup can name, any UTF-8 value. Answers
// the problem, or an empty text.
std::string AddVersionText(const char* text, VersionChanges* version) {
  const char* eq = std::strchr(text, '=');
  if (!eq || eq == text)
    return "--version-info takes KEY=VALUE, such as CompanyName=\"My Company\"";
  const std::string key(text, eq);
  for (char c : key) {
    if (c <= ' ' || c > '~' || c == '\\') {
      return "--version-info: \"" + key + "\" is not a key: printable ASCII without blanks";
    }
  }
  std::u16string value;
  if (!Utf8ToUtf16(eq + 1, &value)) return "--version-info: the text of " + key + " is not UTF-8";
  const std::string_view standard = StandardVersionKeyFor(key);
  if (!standard.empty()) {
    return "--version-info: " + key + " is spelt " + std::string(standard) +
           " (Windows looks the texts up by their exact names)";
  }
  version->strings.emplace_back(key, eq + 1);
  return {};
}

int PrintVersion() {
  std::printf("quillpack %s\n", QUILL_VERSION);
  std::printf("x86 stub: %zu bytes, liblzma from Debian's xz-utils %s\n", kEmbeddedStubX86Size,
              kEmbeddedStubX86Lzma);
  std::printf("x64 stub: %zu bytes, liblzma from Debian's xz-utils %s\n", kEmbeddedStubX64Size,
              kEmbeddedStubX64Lzma);
  std::printf("compression: liblzma %s from Debian's xz-utils %s\n", lzma_version_string(),
              QUILL_LZMA_REVISION);
  return 0;
}

// Reads the value of the option just met: the next argument, or null when there is none.
using ValueReader = std::function<const char*()>;

// An option's value `v` into `to`; `missing` is the problem when there is none.
void TakeText(const char* v, std::string* to, const char* missing, std::string* problem) {
  if (!v) {
    *problem = missing;
  } else {
    *to = v;
  }
}

// Sets `out` to the choice that `value` names; false when it names none of `choices`.
template <typename T, std::size_t N>
bool TakeChoice(const char* value, const std::pair<std::string_view, T> (&choices)[N], T* out) {
  for (const auto& [name, choice] : choices) {
    if (value && name == value) {
      *out = choice;
      return true;
    }
  }
  return false;
}

// Takes `a` when it is one of `build`'s options for the tool itself (output, compression, stub,
// names, messages), its value read through `value`. `problem` says what is wrong with it, if
// anything. False when `a` is no such option.
bool TakeToolOption(const std::string& a, const ValueReader& value, BuildOptions* options,
                    std::string* problem) {
  if (a == "-o") {
    TakeText(value(), &options->output, "-o needs a file name", problem);
  } else if (a == "--preset") {
    const char* v = value();
    if (!v || !ParsePreset(v, &options->encoding)) {
      *problem = "--preset takes 0..9, optionally with e";
    }
  } else if (a == "--store") {
    constexpr std::pair<std::string_view, StoreMode> kModes[] = {
        {"never", StoreMode::kNever}, {"auto", StoreMode::kAuto}, {"always", StoreMode::kAlways}};
    if (!TakeChoice(value(), kModes, &options->store)) {
      *problem = "--store takes never, auto or always";
    }
  } else if (a.starts_with("-j")) {
    const char* v = a.size() > 2 ? a.c_str() + 2 : value();
    char* end = nullptr;
    const long n = v ? std::strtol(v, &end, 10) : 0;
    if (!v || *end || n < 1 || n > 1024) {
      *problem = "-j takes a number of threads";
    } else {
      options->jobs = static_cast<unsigned>(n);
    }
  } else if (a == "--stub") {
    TakeText(value(), &options->stubPath, "--stub needs a file name", problem);
  } else if (a == "--arch") {
    constexpr std::pair<std::string_view, PeArch> kArchs[] = {{"x86", PeArch::kX86},
                                                              {"x64", PeArch::kX64}};
    PeArch arch;
    if (TakeChoice(value(), kArchs, &arch)) {
      options->arch = arch;
    } else {
      *problem = "--arch takes x86 or x64";
    }
  } else if (a == "--allow-non-ascii") {
    options->names.allowNonAscii = true;
  } else if (a == "--no-setup") {
    options->noSetup = true;
  } else if (a == "-q") {
    options->quiet = true;
  } else {
    return false;
  }
  return true;
}

// The same for the options of the installer's own face: icon, version information, execution
// level, languages.
bool TakeFaceOption(const std::string& a, const ValueReader& value, BuildOptions* options,
                    std::string* problem) {
  PublisherResources& publisher = options->publisher;
  if (a == "--icon") {
    const char* v = value();
    TakeText(v && *v ? v : nullptr, &options->iconPath, "--icon needs an .ico file", problem);
  } else if (a == "--version-info") {
    const char* v = value();
    *problem = AddVersionText(v ? v : "", &publisher.version);
  } else if (a == "--file-version" || a == "--product-version") {
    const char* v = value();
    VersionNumber number;
    if (!v || !ParseVersionNumber(v, &number)) {
      *problem = a + " takes a version A.B.C.D of up to four numbers from 0 to 65535 (" +
                 (v ? "not \"" + std::string(v) + "\"" : std::string("none given")) + ")";
    } else {
      (a == "--file-version" ? publisher.version.fileVersion : publisher.version.productVersion) =
          number;
    }
  } else if (a == "--execution-level") {
    const char* v = value();
    ExecutionLevel level;
    if (!v || !ParseExecutionLevel(v, &level)) {
      *problem = "--execution-level takes requireAdministrator, highestAvailable or asInvoker";
    } else {
      publisher.level = level;
    }
  } else if (a == "--language") {
    const char* v = value();
    if (!v || !ParseFaces(v, &publisher.faces)) *problem = "--language takes zh-CN, en-US or both";
  } else {
    return false;
  }
  return true;
}

int Build(int argc, char** argv) {
  BuildOptions options;
  for (int i = 0; i < argc; ++i) {
    const std::string a = argv[i];
    const ValueReader value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
    std::string problem;
    if (TakeToolOption(a, value, &options, &problem) ||
        TakeFaceOption(a, value, &options, &problem)) {
      if (!problem.empty()) return Usage(problem.c_str());
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

int Main(int argc, char** argv) {
  if (argc < 2) return Usage(nullptr);
  const std::string command = argv[1];
  if (command == "-h" || command == "--help" || command == "help") {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (command == "--version") return PrintVersion();
  if (command == "build") return Build(argc - 2, argv + 2);
  if (command == "extract") return Extract(argc - 2, argv + 2);
  if (command == "list") {
    if (argc != 3 || argv[2][0] == '-') return Usage("list takes one installer");
    return RunList(argv[2]);
  }
  if (command == "verify") {
    const int quiet = argc == 4 && std::strcmp(argv[2], "-q") == 0;
    if (argc != 3 + quiet || argv[2 + quiet][0] == '-') return Usage("verify takes one installer");
    return RunVerify(argv[2 + quiet], quiet);
  }
  return Usage(("cannot understand the command " + command).c_str());
}
}  // namespace

#ifdef _WIN32
// Windows hands a program its arguments in UTF-16; quillpack works in UTF-8 throughout (file
// names, version texts), whatever the system's ANSI code page.
int wmain(int argc, wchar_t** wide) {
  std::vector<std::string> args;
  for (int i = 0; i < argc; ++i) {
    args.push_back(Utf16ToUtf8(std::u16string(wide[i], wide[i] + std::wcslen(wide[i]))));
  }
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  return Main(argc, argv.data());
}
#else
int main(int argc, char** argv) { return Main(argc, argv); }
#endif
