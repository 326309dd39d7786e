#include "pack/package_build.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <memory>
#include <set>
#include <thread>

#include "pack/encode_pool.h"
#include "pack/file_util.h"
#include "pack/package_read.h"
#include "pack/sources.h"
#include "payload/entry_format.h"
#include "pe/byte_source.h"
#include "pe/image.h"
#include "pe/resource_writer.h"
#include "pe/utf16.h"

namespace fs = std::filesystem;

namespace {
constexpr std::uint16_t kPayloadLanguage = 1033;  // English (United States), as shipped
// An icon file is read whole; a real one, with every size up to 256 pixels, is well below this.
constexpr std::uint64_t kIconFileLimit = 16u << 20;
// The programs the launcher hands over to, as entry names.
constexpr std::u16string_view kSetupNames[] = {u"SETUP.EXE", u"UNINSTALL.EXE"};

// What the build has found and made so far: each step fills in its part for the next.
struct BuildPlan {
  std::chrono::steady_clock::time_point started;
  // The stub, embedded or read from --stub (then held in `stubFile`), and its name for messages.
  std::vector<std::uint8_t> stubFile;
  std::span<const std::uint8_t> stub;
  std::string stubName;
  PeImage image;
  // The stub's own resources as the installer carries them, the publisher's face applied.
  std::vector<OutputResource> own;
  // The files to pack and their entry names, index for index; the stub's entries that stay.
  std::vector<SourceFile> files;
  std::vector<std::u16string> names;
  std::vector<ResourceItem> kept;
  std::uint64_t totalBytes = 0;
  // The files encoded, one spooled entry each, by `jobs` workers.
  unsigned jobs = 0;
  Spools spools;
  std::vector<SpooledEntry> entries;
  // The installer written: the bytes its entries take, and of them the files stored as they are.
  std::uint64_t packedBytes = 0;
  std::size_t storedEntries = 0;
  std::uint64_t storedBytes = 0;
};

// Without a setup program at the top of the work directory the launcher unpacks everything,
// starts nothing and ends with exit code 2: never what a publisher means by accident.
bool HasSetupProgram(const std::vector<std::u16string>& names) {
  std::string nested;
  for (const std::u16string& name : names) {
    std::u16string upper = name;
    for (char16_t& c : upper) c = UpcaseUtf16(c);
    for (std::u16string_view setup : kSetupNames) {
      if (upper == setup) return true;
      if (nested.empty() && upper.size() > setup.size() && upper.ends_with(setup) &&
          upper[upper.size() - setup.size() - 1] == u'\\') {
        nested = Utf16ToUtf8(name);
      }
    }
  }
  std::fprintf(stderr,
               "quillpack: the package has no SETUP.EXE (nor UNINSTALL.EXE) at its top level: the "
               "installer would unpack it, start nothing and end with exit code 2%s; add the setup "
               "program as SETUP.EXE, or give --no-setup for a package that is only unpacked\n",
               nested.empty() ? ""
                              : ("; " + nested +
                                 " lies in a subdirectory: pack the directory "
                                 "that holds it")
                                    .c_str());
  return false;
}

// The stub first: a bad one fails fast, before any compression.
bool ReadStub(const BuildOptions& options, const EmbeddedStubs& embedded, BuildPlan* plan) {
  const PeArch wanted = options.arch.value_or(PeArch::kX86);
  plan->stub = wanted == PeArch::kX86 ? embedded.x86 : embedded.x64;
  plan->stubName = options.stubPath.empty()
                       ? std::string("the built-in ") + ArchName(wanted) + " stub"
                       : options.stubPath;
  std::string error;
  if (!options.stubPath.empty()) {
    if (!ReadWholeFile(options.stubPath, &plan->stubFile, &error)) {
      std::fprintf(stderr, "quillpack: %s\n", error.c_str());
      return false;
    }
    plan->stub = plan->stubFile;
  }
  if (!ReadPeImage(MemorySource(plan->stub), &plan->image, &error)) {
    std::fprintf(stderr, "quillpack: %s: %s\n", plan->stubName.c_str(), error.c_str());
    return false;
  }
  return true;
}

// A stub of one's own must be the launcher asked for; any stub must end with its sections.
bool CheckStub(const BuildOptions& options, const BuildPlan& plan) {
  const char* name = plan.stubName.c_str();
  const PeImage& image = plan.image;
  if (!options.stubPath.empty()) {
    if (options.arch && *options.arch != image.arch) {
      std::fprintf(stderr, "quillpack: %s is %s, not the %s launcher that --arch asks for\n", name,
                   ArchDescription(image.arch), ArchName(*options.arch));
      return false;
    }
    if (!options.quiet) {
      std::fprintf(stderr, "quillpack: stub %s: %s\n", name, ArchDescription(image.arch));
    }
  }
  if (image.trailingBytes) {
    std::fprintf(stderr,
                 "quillpack: %s: %llu bytes of data follow its sections (an appended archive or "
                 "symbol table?); they would not survive a new resource section, so the stub is "
                 "refused\n",
                 name, static_cast<unsigned long long>(image.trailingBytes));
    return false;
  }
  if (image.signature && !options.quiet) {
    std::fprintf(stderr,
                 "quillpack: warning: %s is signed; its signature cannot match the new file and "
                 "is left out: sign the built installer instead\n",
                 name);
  }
  return true;
}

// The publisher's face on the stub's own resources, before any compression too.
bool ApplyFace(const BuildOptions& options, BuildPlan* plan) {
  PublisherResources publisher = options.publisher;
  std::string error;
  if (!options.iconPath.empty()) {
    std::vector<std::uint8_t> iconFile;
    publisher.icon.emplace();
    if (!ReadWholeFile(options.iconPath, &iconFile, &error, kIconFileLimit)) {
      std::fprintf(stderr, "quillpack: %s\n", error.c_str());
      return false;
    }
    if (!ParseIconFile(iconFile, &*publisher.icon, &error)) {
      std::fprintf(stderr, "quillpack: %s: %s\n", options.iconPath.c_str(), error.c_str());
      return false;
    }
  }
  for (const ResourceItem& item : plan->image.resources) {
    if (!IsPayloadType(item.type)) plan->own.push_back(KeptResource(item));
  }
  if (!ApplyPublisherResources(publisher, plan->stub, &plan->own, &error)) {
    std::fprintf(stderr, "quillpack: %s %s\n", plan->stubName.c_str(), error.c_str());
    return false;
  }
  return true;
}

// The sources' files, each named as the installer will call it. Every refusal is reported, not
// just the first.
bool NameSources(const BuildOptions& options, BuildPlan* plan) {
  if (!CollectSources(options.sources, &plan->files)) return false;
  if (plan->files.empty()) {
    std::fprintf(stderr, "quillpack: no files to pack\n");
    return false;
  }
  plan->totalBytes = TotalSize(plan->files);
  plan->names.resize(plan->files.size());
  bool namesOk = true;
  for (std::size_t i = 0; i < plan->files.size(); ++i) {
    const SourceFile& file = plan->files[i];
    std::string reason;
    if (!MakeEntryName(file.relativeName, options.names, &plan->names[i], &reason)) {
      std::fprintf(stderr, "quillpack: %s: cannot be packed as \"%s\": %s\n", file.path.c_str(),
                   file.relativeName.c_str(), reason.c_str());
      namesOk = false;
    }
  }
  return namesOk;
}

// The stub's payload entries stay unless a new file replaces them. No two names may clash, and
// the package needs its setup program unless --no-setup says otherwise.
bool CheckNames(const BuildOptions& options, BuildPlan* plan) {
  std::vector<std::u16string> allNames = plan->names;
  const std::set<std::u16string> fresh(plan->names.begin(), plan->names.end());
  for (const ResourceItem& item : plan->image.resources) {
    if (!IsPayloadType(item.type)) continue;
    if (item.name.isName && fresh.count(item.name.name)) continue;
    plan->kept.push_back(item);
    if (item.name.isName) allNames.push_back(item.name.name);
  }
  bool namesOk = true;
  for (const NameClash& clash : FindNameClashes(allNames)) {
    auto describe = [&](std::size_t i) {
      return i < plan->files.size() ? plan->files[i].path
                                    : "the stub's entry " + Utf16ToUtf8(allNames[i]);
    };
    std::fprintf(stderr, "quillpack: %s and %s cannot both be packed: %s (\"%s\")\n",
                 describe(clash.first).c_str(), describe(clash.second).c_str(),
                 clash.reason.c_str(), Utf16ToUtf8(allNames[clash.second]).c_str());
    namesOk = false;
  }
  return namesOk && (options.noSetup || HasSetupProgram(allNames));
}

// Compression, on as many workers as asked (one per core by default), never more than files.
bool EncodeSources(const BuildOptions& options, BuildPlan* plan) {
  const unsigned jobs =
      options.jobs ? options.jobs : std::max(1u, std::thread::hardware_concurrency());
  plan->jobs = static_cast<unsigned>(std::min<std::size_t>(jobs, plan->files.size()));
  const PoolProgress progress{!options.quiet && IsTerminal(stderr), plan->started};
  if (!EncodeFiles(plan->files, options.encoding, options.store, plan->jobs, options.output,
                   progress, &plan->spools, &plan->entries)) {
    return false;
  }
  // A launcher from before stored entries existed skips them and leaves their files empty.
  const auto stored = std::count_if(plan->entries.begin(), plan->entries.end(),
                                    [](const SpooledEntry& e) { return e.stream.stored; });
  if (stored && !options.stubPath.empty()) {
    const std::string what = stored == 1 ? "1 file is stored as it is"
                                         : std::to_string(stored) + " files are stored as they are";
    std::fprintf(stderr,
                 "quillpack: warning: %s; a launcher stub older than stored entries leaves such "
                 "files empty (build with --store never for one)\n",
                 what.c_str());
  }
  return true;
}

// What the installer's resource section holds: the stub's own resources, the stub's entries that
// stay and one entry per file, whose bytes the writer asks for by index.
std::vector<OutputResource> InstallerResources(BuildPlan* plan) {
  std::vector<OutputResource> resources = std::move(plan->own);
  resources.reserve(resources.size() + plan->kept.size() + plan->entries.size());
  for (const ResourceItem& item : plan->kept) resources.push_back(KeptResource(item));
  for (std::size_t i = 0; i < plan->entries.size(); ++i) {
    OutputResource r;
    r.type = NamedKey(kPayloadType);
    r.name = NamedKey(plan->names[i]);
    r.language = kPayloadLanguage;
    r.size = static_cast<std::uint32_t>(kEntryHeaderSize + plan->entries[i].stream.streamSize);
    r.payload = static_cast<std::int64_t>(i);
    plan->packedBytes += r.size;
    if (plan->entries[i].stream.stored) {
      ++plan->storedEntries;
      plan->storedBytes += plan->entries[i].stream.inputSize;
    }
    resources.push_back(std::move(r));
  }
  return resources;
}

// Gives the finished installer its name, in place of any file of that name, and makes it
// executable.
bool MoveIntoPlace(const fs::path& temporary, const std::string& name) {
  const fs::path output = PathFromUtf8(name);
  std::error_code ec;
  fs::rename(temporary, output, ec);
  if (ec) {
    fs::remove(output, ec);
    fs::rename(temporary, output, ec);
  }
  if (ec) {
    fs::remove(temporary, ec);
    std::fprintf(stderr, "quillpack: cannot create %s\n", name.c_str());
    return false;
  }
  fs::permissions(output, fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec,
                  fs::perm_options::add, ec);
  return true;
}

// The installer, written to a temporary file beside the output that takes its name at the end.
bool WriteInstaller(const BuildOptions& options, BuildPlan* plan) {
  std::vector<OutputResource> resources = InstallerResources(plan);
  fs::path temporary = PathFromUtf8(options.output);
  temporary += ".tmp";
  std::unique_ptr<std::FILE, FileCloser> out(OpenFile(temporary, "w+b"));
  if (!out) {
    std::fprintf(stderr, "quillpack: cannot create %s\n", PathToUtf8(temporary).c_str());
    return false;
  }
  std::vector<std::uint8_t> copyBuffer(1 << 20);
  const PayloadWriter writePayload = [&](const OutputResource& r, const ByteWriter& write,
                                         std::string* why) {
    const SpooledEntry& entry = plan->entries[static_cast<std::size_t>(r.payload)];
    return CopySpooledEntry(plan->spools, entry, &copyBuffer, write, why);
  };
  std::string error;
  const bool written = WriteInstallerImage(plan->stub, plan->image, std::move(resources),
                                           writePayload, out.get(), &error);
  const bool closed = std::fclose(out.release()) == 0;
  if (!written || !closed) {
    std::error_code ec;
    fs::remove(temporary, ec);
    std::fprintf(stderr, "quillpack: %s: %s\n", options.output.c_str(),
                 written ? "cannot write the installer" : error.c_str());
    return false;
  }
  return MoveIntoPlace(temporary, options.output);
}

void Report(const BuildOptions& options, const BuildPlan& plan) {
  if (options.quiet) return;
  std::error_code ec;
  const std::uint64_t imageSize = fs::file_size(PathFromUtf8(options.output), ec);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - plan.started).count();
  const double total = static_cast<double>(plan.totalBytes);
  const std::uint64_t rate = seconds > 0 ? static_cast<std::uint64_t>(total / seconds) : 0;
  const std::size_t entries = plan.files.size();
  std::fprintf(stderr,
               "quillpack: wrote %s (%s launcher, %s): %zu %s, %s packed into %s (%.1f%%) in "
               "%.1f s, %s/s with %u %s\n",
               options.output.c_str(), ArchName(plan.image.arch), SizeText(imageSize).c_str(),
               entries, entries == 1 ? "entry" : "entries", SizeText(plan.totalBytes).c_str(),
               SizeText(plan.packedBytes).c_str(),
               plan.totalBytes ? 100.0 * static_cast<double>(plan.packedBytes) / total : 0.0,
               seconds, SizeText(rate).c_str(), plan.jobs, plan.jobs == 1 ? "job" : "jobs");
  if (plan.storedEntries) {
    std::fprintf(stderr, "quillpack: %zu of them (%s) stored as they are%s\n", plan.storedEntries,
                 SizeText(plan.storedBytes).c_str(),
                 options.store == StoreMode::kAlways ? " (--store always)"
                                                     : ": LZMA does not make them 2% smaller");
  }
}
}  // namespace

int RunBuild(const BuildOptions& options, const EmbeddedStubs& embedded) {
  BuildPlan plan;
  plan.started = std::chrono::steady_clock::now();
  const bool built = ReadStub(options, embedded, &plan) && CheckStub(options, plan) &&
                     ApplyFace(options, &plan) && NameSources(options, &plan) &&
                     CheckNames(options, &plan) && EncodeSources(options, &plan) &&
                     WriteInstaller(options, &plan);
  if (!built) return 1;
  Report(options, plan);
  return 0;
}
