#include "pack/package_read.h"

#include <filesystem>
#include <memory>
#include <set>

#include "pack/entry_names.h"
#include "pack/file_util.h"
#include "payload/entry_decoder.h"
#include "pe/utf16.h"

namespace fs = std::filesystem;

namespace {
bool Open(const std::string& installer, FileSource* source, std::vector<PackageEntry>* entries,
          PeArch* arch = nullptr) {
  std::string error;
  if (!source->Open(installer, &error) || !ReadPackage(*source, entries, &error, arch)) {
    std::fprintf(stderr, "quillpack: %s: %s\n", installer.c_str(), error.c_str());
    return false;
  }
  return true;
}

bool LoadEntry(const ByteSource& source, const PackageEntry& entry,
               std::vector<std::uint8_t>* bytes) {
  bytes->resize(entry.size);
  return source.Read(entry.fileOffset, *bytes);
}

double Ratio(std::uint64_t stored, std::uint64_t unpacked) {
  return unpacked ? 100.0 * static_cast<double>(stored) / static_cast<double>(unpacked) : 0.0;
}

void Problem(std::vector<EntryFinding>* findings, std::string text) {
  findings->push_back({true, std::move(text)});
}

void Warning(std::vector<EntryFinding>* findings, std::string text) {
  findings->push_back({false, std::move(text)});
}

// What the launcher makes of the entry's name, and of its being stored in several languages.
void CheckEntryName(const PackageEntry& entry, std::vector<EntryFinding>* findings) {
  if (!entry.name.isName) {
    Problem(findings, "it has a numeric id, not a name: the launcher cannot name a file after it");
  } else {
    std::vector<std::u16string> components;
    std::string reason;
    if (!SplitEntryName(entry.name.name, &components, &reason)) {
      Problem(findings, "its name cannot be extracted safely: " + reason);
    }
    for (char16_t c : entry.name.name) {
      if (c > 0x7E) {
        Warning(findings,
                "its name holds characters outside printable ASCII: the launcher gets "
                "it right only on systems whose ANSI code page holds them");
        break;
      }
    }
  }
  if (entry.languages > 1) {
    Warning(findings, "it is stored in " + std::to_string(entry.languages) +
                          " languages; the launcher extracts only one of them");
  }
}

// What the launcher's own decoder makes of the entry's data.
void CheckEntryData(const PackageEntry& entry, const std::vector<std::uint8_t>& bytes,
                    std::vector<EntryFinding>* findings) {
  std::uint64_t produced = 0;
  EntryHeader header;
  const EntryOutcome outcome = DecodeEntry(
      std::span<const std::uint8_t>(bytes), &header,
      [&](const std::uint8_t*, std::size_t n) {
        produced += n;
        return true;
      },
      [](std::uint32_t) {});
  const std::uint32_t expected = static_cast<std::uint32_t>(entry.header.outputSize);
  switch (outcome) {
    case EntryOutcome::kComplete:
      if (produced < expected) {
        Problem(findings, "an end marker ends its data after " + std::to_string(produced) + " of " +
                              std::to_string(expected) +
                              " bytes: the launcher writes a shorter file");
      }
      break;
    case EntryOutcome::kBadProperties:
      Problem(findings, "its properties byte " + std::to_string(entry.header.properties) +
                            " is 225 or more: the launcher skips it and leaves an empty file");
      break;
    case EntryOutcome::kOutOfMemory:
      Problem(findings, "the decoder could not get memory for its dictionary of " +
                            std::to_string(entry.header.dictionarySize) +
                            " bytes: the launcher reports \"out of memory\" and stops extracting");
      break;
    case EntryOutcome::kCorrupt:
      Problem(findings,
              "it does not decode (bad length, settings the decoder refuses, or corrupt "
              "data): the launcher reports a decompression error and stops extracting");
      break;
    case EntryOutcome::kWriteFailed:
      break;
  }
}

// The names `extract` is asked for, as entry names (upper case, backslashes). False, with the
// message printed, for one that cannot be an entry's.
bool WantedNames(const std::vector<std::string>& wanted, std::set<std::u16string>* want) {
  for (const std::string& w : wanted) {
    std::u16string name;
    std::string reason;
    if (!MakeEntryName(w, NameRules{true}, &name, &reason)) {
      std::fprintf(stderr, "quillpack: %s: not an entry name: %s\n", w.c_str(), reason.c_str());
      return false;
    }
    want->insert(name);
  }
  return true;
}

// Where the entry of `components` goes below `root`, with the directories on the way made. Only
// fresh directories or real ones: false when a symbolic link, which could lead outside `root`, is
// in the way.
bool SafeTarget(const fs::path& root, const std::vector<std::u16string>& components,
                fs::path* target) {
  *target = root;
  std::error_code ec;
  bool safe = true;
  for (std::size_t i = 0; i < components.size(); ++i) {
    *target /= PathFromUtf8(Utf16ToUtf8(components[i]));
    if (fs::is_symlink(fs::symlink_status(*target, ec))) safe = false;
    if (i + 1 < components.size() && safe) fs::create_directories(*target, ec);
  }
  return safe;
}

// Decodes entry `e` into its file below `root`, naming the file unless `quiet`. False, with the
// message printed, when the entry is not extracted whole.
bool ExtractEntry(const ByteSource& source, const PackageEntry& e, const fs::path& root, bool quiet,
                  std::vector<std::uint8_t>* bytes) {
  const std::string label = KeyText(e.name);
  std::vector<std::u16string> components;
  std::string reason;
  if (!SplitEntryName(e.name.name, &components, &reason)) {
    std::fprintf(stderr, "quillpack: entry %s: not extracted: %s\n", label.c_str(), reason.c_str());
    return false;
  }
  fs::path target;
  if (!SafeTarget(root, components, &target)) {
    std::fprintf(stderr, "quillpack: entry %s: not extracted: a symbolic link is in its way\n",
                 label.c_str());
    return false;
  }
  std::error_code ec;
  fs::create_directories(target.parent_path(), ec);
  std::unique_ptr<std::FILE, FileCloser> out(OpenFile(target, "wb"));
  if (!out || !LoadEntry(source, e, bytes)) {
    std::fprintf(stderr, "quillpack: entry %s: cannot write %s\n", label.c_str(),
                 PathToUtf8(target).c_str());
    return false;
  }
  EntryHeader header;
  const EntryOutcome outcome = DecodeEntry(
      std::span<const std::uint8_t>(*bytes), &header,
      [&](const std::uint8_t* data, std::size_t n) {
        return std::fwrite(data, 1, n, out.get()) == n;
      },
      [](std::uint32_t) {});
  const bool closed = std::fclose(out.release()) == 0;
  if (outcome != EntryOutcome::kComplete || !closed) {
    std::fprintf(
        stderr, "quillpack: entry %s: %s\n", label.c_str(),
        outcome == EntryOutcome::kWriteFailed || !closed ? "write failed" : "does not decode");
    return false;
  }
  if (!quiet) std::printf("%s\n", PathToUtf8(target).c_str());
  return true;
}
}  // namespace

bool IsPayloadType(const ResourceKey& type) {
  return type.isName && CompareResourceKeys(type, NamedKey(kPayloadType)) == 0;
}

bool ReadPackage(const ByteSource& source, std::vector<PackageEntry>* entries, std::string* error,
                 PeArch* arch) {
  PeImage image;
  if (!ReadPeImage(source, &image, error)) return false;
  if (arch) *arch = image.arch;
  entries->clear();
  for (const ResourceItem& item : image.resources) {
    if (!IsPayloadType(item.type)) continue;
    // One entry per name: the enumeration visits names, and a lookup by name finds one language.
    if (!entries->empty() && CompareResourceKeys(entries->back().name, item.name) == 0) {
      ++entries->back().languages;
      continue;
    }
    PackageEntry e;
    e.name = item.name;
    e.language = item.language;
    e.size = item.size;
    e.fileOffset = item.fileOffset;
    std::uint8_t head[kEntryHeaderSize] = {};
    const std::size_t present = std::min<std::size_t>(item.size, kEntryHeaderSize);
    if (!source.Read(item.fileOffset, std::span<std::uint8_t>(head, present))) {
      *error = "entry " + KeyText(item.name) + " lies outside the file";
      return false;
    }
    e.headerBytes = ReadEntryHeader(std::span<const std::uint8_t>(head, present), &e.header);
    entries->push_back(std::move(e));
  }
  return true;
}

std::vector<EntryFinding> CheckEntry(const PackageEntry& entry,
                                     const std::vector<std::uint8_t>& bytes) {
  std::vector<EntryFinding> findings;
  CheckEntryName(entry, &findings);
  CheckEntryData(entry, bytes, &findings);
  return findings;
}

namespace {
// How an entry keeps its file, as `list` names it.
const char* MethodName(const PackageEntry& e) {
  if (e.headerBytes < kStreamLengthFieldSize + 1) return "-";
  if (IsStoredHeader(e.header)) return "stored";
  return e.header.properties < kPropertiesLimit ? "lzma" : "-";
}
}  // namespace

int RunList(const std::string& installer) {
  FileSource source;
  std::vector<PackageEntry> entries;
  PeArch arch;
  if (!Open(installer, &source, &entries, &arch)) return 1;
  // The method comes last, so that the columns before it stay where scripts expect them.
  std::printf("%-40s %12s %12s %7s %s\n", "NAME", "PACKED", "UNPACKED", "RATIO", "METHOD");
  std::uint64_t packed = 0, unpacked = 0;
  std::size_t stored = 0;
  for (const PackageEntry& e : entries) {
    const std::uint32_t size = static_cast<std::uint32_t>(e.header.outputSize);
    std::printf("%-40s %12u %12u %6.1f%% %s\n", KeyText(e.name).c_str(), e.size, size,
                Ratio(e.size, size), MethodName(e));
    packed += e.size;
    unpacked += size;
    if (IsStoredHeader(e.header)) ++stored;
  }
  std::printf(
      "%-40s %12llu %12llu %6.1f%% %zu stored\n",
      (std::to_string(entries.size()) + " entries, " + ArchName(arch) + " launcher").c_str(),
      static_cast<unsigned long long>(packed), static_cast<unsigned long long>(unpacked),
      Ratio(packed, unpacked), stored);
  return 0;
}

int RunVerify(const std::string& installer, bool quiet) {
  FileSource source;
  std::vector<PackageEntry> entries;
  if (!Open(installer, &source, &entries)) return 1;
  std::size_t bad = 0;
  std::vector<std::u16string> names;
  std::vector<std::uint8_t> bytes;
  for (const PackageEntry& e : entries) {
    if (e.name.isName) names.push_back(e.name.name);
    std::vector<EntryFinding> findings;
    if (!LoadEntry(source, e, &bytes)) {
      findings.push_back({true, "its data cannot be read"});
    } else {
      findings = CheckEntry(e, bytes);
    }
    bool entryBad = false;
    for (const EntryFinding& f : findings) {
      std::fprintf(stderr, "quillpack: %s: %sentry %s: %s\n", installer.c_str(),
                   f.problem ? "" : "warning: ", KeyText(e.name).c_str(), f.text.c_str());
      entryBad = entryBad || f.problem;
    }
    if (entryBad) ++bad;
  }
  for (const NameClash& clash : FindNameClashes(names)) {
    std::fprintf(stderr, "quillpack: %s: entries %s and %s: %s\n", installer.c_str(),
                 Utf16ToUtf8(names[clash.first]).c_str(), Utf16ToUtf8(names[clash.second]).c_str(),
                 clash.reason.c_str());
    ++bad;
  }
  if (entries.empty()) {
    std::fprintf(stderr, "quillpack: %s: no payload entries\n", installer.c_str());
    return 1;
  }
  if (bad) {
    std::fprintf(stderr, "quillpack: %s: %zu problem(s) in %zu entries\n", installer.c_str(), bad,
                 entries.size());
    return 1;
  }
  if (!quiet) std::printf("%s: %zu entries, all decode\n", installer.c_str(), entries.size());
  return 0;
}

int RunExtract(const std::string& installer, const std::string& directory,
               const std::vector<std::string>& wanted, bool quiet) {
  FileSource source;
  std::vector<PackageEntry> entries;
  if (!Open(installer, &source, &entries)) return 1;
  std::set<std::u16string> want;
  if (!WantedNames(wanted, &want)) return 2;
  const fs::path root = PathFromUtf8(directory);
  int status = 0;
  std::set<std::u16string> found;
  std::vector<std::uint8_t> bytes;
  for (const PackageEntry& e : entries) {
    if (!e.name.isName) {
      if (want.empty()) {
        std::fprintf(stderr, "quillpack: entry %s: has no name, skipped\n",
                     KeyText(e.name).c_str());
      }
      status = want.empty() ? 1 : status;
      continue;
    }
    std::u16string upper = e.name.name;
    for (char16_t& c : upper) c = UpcaseUtf16(c);
    if (!want.empty() && !want.count(upper)) continue;
    found.insert(upper);
    if (!ExtractEntry(source, e, root, quiet, &bytes)) status = 1;
  }
  for (const std::u16string& w : want) {
    if (!found.count(w)) {
      std::fprintf(stderr, "quillpack: %s: no entry %s\n", installer.c_str(),
                   Utf16ToUtf8(w).c_str());
      status = 1;
    }
  }
  return status;
}
