#include "pack/package_build.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <thread>

#include "pack/file_util.h"
#include "pack/stream_encoder.h"
#include "pe/byte_source.h"
#include "pe/image.h"
#include "pe/resource_writer.h"
#include "pe/utf16.h"

namespace fs = std::filesystem;

namespace {
constexpr std::u16string_view kPayloadType = u"FILE";
constexpr std::uint16_t kPayloadLanguage = 1033;  // English (United States), as shipped
// An icon file is read whole; a real one, with every size up to 256 pixels, is well below this.
constexpr std::uint64_t kIconFileLimit = 16u << 20;
// The programs the launcher hands over to, as entry names.
constexpr std::u16string_view kSetupNames[] = {u"SETUP.EXE", u"UNINSTALL.EXE"};

// One encoded entry, spooled in a worker's temporary file.
struct Encoded {
  std::u16string name;
  std::size_t spool = 0;
  std::uint64_t offset = 0;
  EncodedStream stream;
};

// The workers' spool files beside the output; removed however the build ends.
struct Spools {
  std::vector<fs::path> paths;
  std::vector<std::unique_ptr<std::FILE, FileCloser>> files;
  ~Spools() {
    files.clear();
    std::error_code ignored;
    for (const fs::path& p : paths) fs::remove(p, ignored);
  }
};

struct Progress {
  std::atomic<std::uint64_t> bytes{0};
  std::atomic<std::size_t> entries{0};
};

double Mib(std::uint64_t bytes) { return static_cast<double>(bytes) / (1024.0 * 1024.0); }

// The error text, "path: reason", for a file that cannot be read whole (at most `limit` bytes).
bool ReadWholeFile(const std::string& path, std::vector<std::uint8_t>* bytes, std::string* error,
                   std::uint64_t limit = UINT64_MAX) {
  std::unique_ptr<std::FILE, FileCloser> f(OpenFile(PathFromUtf8(path), "rb"));
  if (!f) {
    *error = path + ": cannot open it (" + std::strerror(errno) + ")";
    return false;
  }
  bytes->clear();
  std::uint8_t buffer[65536];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, f.get())) > 0;) {
    if (bytes->size() + n > limit) {
      *error = path + ": larger than the " + SizeText(limit) + " such a file can be";
      return false;
    }
    bytes->insert(bytes->end(), buffer, buffer + n);
  }
  if (std::ferror(f.get())) {
    *error = path + ": cannot read it";
    return false;
  }
  return true;
}

bool IsPayloadType(const ResourceKey& type) {
  return type.isName && CompareResourceKeys(type, NamedKey(kPayloadType)) == 0;
}

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
}  // namespace

std::string SizeText(std::uint64_t bytes) {
  char text[32];
  const double value = static_cast<double>(bytes);
  if (bytes < 1024) {
    std::snprintf(text, sizeof text, "%llu bytes", static_cast<unsigned long long>(bytes));
  } else if (bytes < (1u << 20)) {
    std::snprintf(text, sizeof text, "%.1f KiB", value / 1024.0);
  } else if (bytes < (1u << 30)) {
    std::snprintf(text, sizeof text, "%.1f MiB", value / (1024.0 * 1024.0));
  } else {
    std::snprintf(text, sizeof text, "%.2f GiB", value / (1024.0 * 1024.0 * 1024.0));
  }
  return text;
}

bool CollectSources(const std::vector<std::string>& sources, std::vector<SourceFile>* files) {
  bool ok = true;
  for (const std::string& source : sources) {
    const fs::path root = PathFromUtf8(source);
    std::error_code ec;
    const fs::file_status status = fs::status(root, ec);
    if (fs::is_regular_file(status)) {
      files->push_back({source, PathToUtf8(root.filename()), fs::file_size(root, ec)});
      continue;
    }
    if (!fs::is_directory(status)) {
      std::fprintf(stderr, "quillpack: %s: no such file or directory\n", source.c_str());
      ok = false;
      continue;
    }
    std::vector<SourceFile> found;
    fs::recursive_directory_iterator it(root, fs::directory_options::none, ec), end;
    for (; !ec && it != end; it.increment(ec)) {
      const fs::file_status entry = it->status(ec);
      if (ec) break;
      if (fs::is_directory(entry)) continue;
      const std::string path = PathToUtf8(it->path());
      if (!fs::is_regular_file(entry)) {
        std::fprintf(stderr, "quillpack: %s: not a regular file\n", path.c_str());
        ok = false;
        continue;
      }
      found.push_back({path, PathToUtf8(it->path().lexically_relative(root).generic_u8string()),
                       fs::file_size(it->path(), ec)});
    }
    if (ec) {
      std::fprintf(stderr, "quillpack: %s: %s\n", source.c_str(), ec.message().c_str());
      ok = false;
    }
    // Directory order differs between file systems; the installer must not.
    std::sort(found.begin(), found.end(), [](const SourceFile& a, const SourceFile& b) {
      return a.relativeName < b.relativeName;
    });
    files->insert(files->end(), found.begin(), found.end());
  }
  return ok;
}

int RunBuild(const BuildOptions& options, const EmbeddedStubs& embedded) {
  const auto started = std::chrono::steady_clock::now();
  std::string error;

  // The stub first: a bad one fails fast, before any compression.
  std::vector<std::uint8_t> stubFile;
  const PeArch wanted = options.arch.value_or(PeArch::kX86);
  std::span<const std::uint8_t> stub = wanted == PeArch::kX86 ? embedded.x86 : embedded.x64;
  const std::string stubName = options.stubPath.empty()
                                   ? std::string("the built-in ") + ArchName(wanted) + " stub"
                                   : options.stubPath;
  if (!options.stubPath.empty()) {
    if (!ReadWholeFile(options.stubPath, &stubFile, &error)) {
      std::fprintf(stderr, "quillpack: %s\n", error.c_str());
      return 1;
    }
    stub = stubFile;
  }
  PeImage image;
  if (!ReadPeImage(MemorySource(stub), &image, &error)) {
    std::fprintf(stderr, "quillpack: %s: %s\n", stubName.c_str(), error.c_str());
    return 1;
  }
  if (!options.stubPath.empty()) {
    if (options.arch && *options.arch != image.arch) {
      std::fprintf(stderr, "quillpack: %s is %s, not the %s launcher that --arch asks for\n",
                   stubName.c_str(), ArchDescription(image.arch), ArchName(*options.arch));
      return 1;
    }
    if (!options.quiet) {
      std::fprintf(stderr, "quillpack: stub %s: %s\n", stubName.c_str(),
                   ArchDescription(image.arch));
    }
  }
  if (image.trailingBytes) {
    std::fprintf(stderr,
                 "quillpack: %s: %llu bytes of data follow its sections (an appended archive or "
                 "symbol table?); they would not survive a new resource section, so the stub is "
                 "refused\n",
                 stubName.c_str(), static_cast<unsigned long long>(image.trailingBytes));
    return 1;
  }
  if (image.signature && !options.quiet) {
    std::fprintf(stderr,
                 "quillpack: warning: %s is signed; its signature cannot match the new file and "
                 "is left out: sign the built installer instead\n",
                 stubName.c_str());
  }

  // The publisher's resources, before any compression too.
  PublisherResources publisher = options.publisher;
  if (!options.iconPath.empty()) {
    std::vector<std::uint8_t> iconFile;
    publisher.icon.emplace();
    if (!ReadWholeFile(options.iconPath, &iconFile, &error, kIconFileLimit)) {
      std::fprintf(stderr, "quillpack: %s\n", error.c_str());
      return 1;
    }
    if (!ParseIconFile(iconFile, &*publisher.icon, &error)) {
      std::fprintf(stderr, "quillpack: %s: %s\n", options.iconPath.c_str(), error.c_str());
      return 1;
    }
  }
  std::vector<OutputResource> own;
  for (const ResourceItem& item : image.resources) {
    if (!IsPayloadType(item.type)) own.push_back(KeptResource(item));
  }
  if (!ApplyPublisherResources(publisher, stub, &own, &error)) {
    std::fprintf(stderr, "quillpack: %s %s\n", stubName.c_str(), error.c_str());
    return 1;
  }

  std::vector<SourceFile> files;
  if (!CollectSources(options.sources, &files)) return 1;
  if (files.empty()) {
    std::fprintf(stderr, "quillpack: no files to pack\n");
    return 1;
  }

  // Names: every refusal is reported, not just the first.
  std::vector<std::u16string> names(files.size());
  bool namesOk = true;
  for (std::size_t i = 0; i < files.size(); ++i) {
    std::string reason;
    if (!MakeEntryName(files[i].relativeName, options.names, &names[i], &reason)) {
      std::fprintf(stderr, "quillpack: %s: cannot be packed as \"%s\": %s\n", files[i].path.c_str(),
                   files[i].relativeName.c_str(), reason.c_str());
      namesOk = false;
    }
  }
  if (!namesOk) return 1;
  // Payload entries the stub already has stay unless a new file replaces them.
  std::vector<ResourceItem> kept;
  std::vector<std::u16string> allNames = names;
  {
    std::set<std::u16string> fresh(names.begin(), names.end());
    for (const ResourceItem& item : image.resources) {
      if (!IsPayloadType(item.type)) continue;
      if (item.name.isName && fresh.count(item.name.name)) continue;
      kept.push_back(item);
      if (item.name.isName) allNames.push_back(item.name.name);
    }
  }
  for (const NameClash& clash : FindNameClashes(allNames)) {
    auto describe = [&](std::size_t i) {
      return i < files.size() ? files[i].path : "the stub's entry " + Utf16ToUtf8(allNames[i]);
    };
    std::fprintf(stderr, "quillpack: %s and %s cannot both be packed: %s (\"%s\")\n",
                 describe(clash.first).c_str(), describe(clash.second).c_str(),
                 clash.reason.c_str(), Utf16ToUtf8(allNames[clash.second]).c_str());
    namesOk = false;
  }
  if (!namesOk) return 1;
  if (!options.noSetup && !HasSetupProgram(allNames)) return 1;

  // Compression: the largest files first, so that no core is left with a big one at the end.
  std::vector<std::size_t> order(files.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(),
                   [&](std::size_t a, std::size_t b) { return files[a].size > files[b].size; });
  std::uint64_t totalBytes = 0;
  for (const SourceFile& f : files) totalBytes += f.size;
  unsigned jobs = options.jobs ? options.jobs : std::max(1u, std::thread::hardware_concurrency());
  jobs = static_cast<unsigned>(std::min<std::size_t>(jobs, files.size()));

  const fs::path output = PathFromUtf8(options.output);
  Spools spools;
  for (unsigned k = 0; k < jobs; ++k) {
    fs::path p = output;
    p += ".spool" + std::to_string(k);
    spools.paths.push_back(p);
    spools.files.emplace_back(OpenFile(p, "w+b"));
    if (!spools.files.back()) {
      std::fprintf(stderr, "quillpack: cannot create %s\n", PathToUtf8(p).c_str());
      return 1;
    }
  }

  std::vector<Encoded> encoded(files.size());
  Progress progress;
  std::atomic<std::size_t> next{0};
  std::atomic<bool> failed{false};
  std::mutex lock;
  std::condition_variable finished;
  unsigned running = jobs;
  std::string firstError;
  auto worker = [&](unsigned k) {
    std::FILE* spool = spools.files[k].get();
    std::uint64_t spoolSize = 0;
    for (std::size_t n; !failed && (n = next++) < order.size();) {
      const std::size_t i = order[n];
      const SourceFile& file = files[i];
      std::string why;
      std::unique_ptr<std::FILE, FileCloser> input(OpenFile(PathFromUtf8(file.path), "rb"));
      Encoded& e = encoded[i];
      e.name = names[i];
      e.spool = k;
      e.offset = spoolSize;
      bool ok = input != nullptr;
      if (!ok) why = "cannot open it";
      if (ok) {
        ok = EncodeStream(
            input.get(), options.encoding,
            [&](const std::uint8_t* data, std::size_t size) {
              return std::fwrite(data, 1, size, spool) == size;
            },
            [&](std::size_t bytes) { progress.bytes += bytes; }, &e.stream, &why);
      }
      std::uint8_t header[kEntryHeaderSize];
      if (ok) ok = MakeEntryHeader(e.stream, header, &why);
      spoolSize += e.stream.streamSize;
      if (!ok) {
        std::lock_guard<std::mutex> guard(lock);
        if (firstError.empty()) firstError = file.path + ": " + why;
        failed = true;
      }
      ++progress.entries;
    }
    std::lock_guard<std::mutex> guard(lock);
    --running;
    finished.notify_all();
  };
  std::vector<std::thread> threads;
  for (unsigned k = 0; k < jobs; ++k) threads.emplace_back(worker, k);
  const bool showProgress = !options.quiet && IsTerminal(stderr);
  bool shown = false;
  {
    std::unique_lock<std::mutex> guard(lock);
    while (running) {
      finished.wait_for(guard, std::chrono::milliseconds(250));
      const double seconds =
          std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
      if (showProgress && seconds >= 1.0) {
        std::fprintf(stderr, "\r  %zu/%zu entries, %.1f/%.1f MiB, %.1f MiB/s   ",
                     progress.entries.load(), files.size(), Mib(progress.bytes), Mib(totalBytes),
                     Mib(progress.bytes) / seconds);
        shown = true;
      }
    }
  }
  for (std::thread& t : threads) t.join();
  if (shown) std::fprintf(stderr, "\r%*s\r", 70, "");
  if (failed) {
    std::fprintf(stderr, "quillpack: %s\n", firstError.c_str());
    return 1;
  }
  for (auto& spool : spools.files) {
    if (std::fflush(spool.get()) != 0) {
      std::fprintf(stderr, "quillpack: cannot write the spool files beside %s\n",
                   options.output.c_str());
      return 1;
    }
  }

  // Assembly: the stub's resources and the entries, into a temporary file renamed at the end.
  std::vector<OutputResource> resources = std::move(own);
  resources.reserve(resources.size() + kept.size() + encoded.size());
  for (const ResourceItem& item : kept) resources.push_back(KeptResource(item));
  std::uint64_t storedBytes = 0;
  for (std::size_t i = 0; i < encoded.size(); ++i) {
    OutputResource r;
    r.type = NamedKey(kPayloadType);
    r.name = NamedKey(encoded[i].name);
    r.language = kPayloadLanguage;
    r.size = static_cast<std::uint32_t>(kEntryHeaderSize + encoded[i].stream.streamSize);
    r.payload = static_cast<std::int64_t>(i);
    storedBytes += r.size;
    resources.push_back(std::move(r));
  }
  fs::path temporary = output;
  temporary += ".tmp";
  std::unique_ptr<std::FILE, FileCloser> out(OpenFile(temporary, "w+b"));
  if (!out) {
    std::fprintf(stderr, "quillpack: cannot create %s\n", PathToUtf8(temporary).c_str());
    return 1;
  }
  std::vector<std::uint8_t> copyBuffer(1 << 20);
  const PayloadWriter writePayload = [&](const OutputResource& r, const ByteWriter& write,
                                         std::string* why) {
    const Encoded& e = encoded[static_cast<std::size_t>(r.payload)];
    std::uint8_t header[kEntryHeaderSize];
    if (!MakeEntryHeader(e.stream, header, why) || !write(header, sizeof header)) return false;
    std::FILE* spool = spools.files[e.spool].get();
    if (!SeekFile(spool, e.offset)) {
      *why = "cannot read the spool files";
      return false;
    }
    for (std::uint64_t left = e.stream.streamSize; left;) {
      const std::size_t n =
          static_cast<std::size_t>(std::min<std::uint64_t>(left, copyBuffer.size()));
      if (std::fread(copyBuffer.data(), 1, n, spool) != n || !write(copyBuffer.data(), n)) {
        *why = "cannot copy an entry into the installer";
        return false;
      }
      left -= n;
    }
    return true;
  };
  const bool written =
      WriteInstallerImage(stub, image, std::move(resources), writePayload, out.get(), &error);
  const bool closed = std::fclose(out.release()) == 0;
  std::error_code ec;
  if (!written || !closed) {
    fs::remove(temporary, ec);
    std::fprintf(stderr, "quillpack: %s: %s\n", options.output.c_str(),
                 written ? "cannot write the installer" : error.c_str());
    return 1;
  }
  fs::rename(temporary, output, ec);
  if (ec) {
    fs::remove(output, ec);
    fs::rename(temporary, output, ec);
  }
  if (ec) {
    fs::remove(temporary, ec);
    std::fprintf(stderr, "quillpack: cannot create %s\n", options.output.c_str());
    return 1;
  }
  fs::permissions(output, fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec,
                  fs::perm_options::add, ec);

  const std::uint64_t imageSize = fs::file_size(output, ec);
  if (!options.quiet) {
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    const std::uint64_t rate =
        seconds > 0 ? static_cast<std::uint64_t>(static_cast<double>(totalBytes) / seconds) : 0;
    std::fprintf(stderr,
                 "quillpack: wrote %s (%s launcher, %s): %zu %s, %s packed into %s (%.1f%%) in "
                 "%.1f s, %s/s with %u %s\n",
                 options.output.c_str(), ArchName(image.arch), SizeText(imageSize).c_str(),
                 files.size(), files.size() == 1 ? "entry" : "entries",
                 SizeText(totalBytes).c_str(), SizeText(storedBytes).c_str(),
                 totalBytes
                     ? 100.0 * static_cast<double>(storedBytes) / static_cast<double>(totalBytes)
                     : 0.0,
                 seconds, SizeText(rate).c_str(), jobs, jobs == 1 ? "job" : "jobs");
  }
  return 0;
}
