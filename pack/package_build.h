// `quillpack build`: files and directories in, one installer out.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "pack/entry_encoder.h"
#include "pack/entry_names.h"
#include "pe/image.h"
#include "pe/publisher_resources.h"

struct BuildOptions {
  std::string output;
  std::vector<std::string> sources;
  EntryEncoding encoding;
  NameRules names;
  unsigned jobs = 0;  // 0: one per core
  bool quiet = false;
  std::string stubPath;        // empty: the embedded stub of `arch`
  std::optional<PeArch> arch;  // --arch; unset: x86, or with --stub whatever the stub is
  std::string iconPath;        // --icon; its images go into `publisher` when the build starts
  PublisherResources publisher;
  bool noSetup = false;  // a package without a setup program is meant
};

// The launcher stubs quillpack carries.
struct EmbeddedStubs {
  std::span<const std::uint8_t> x86;
  std::span<const std::uint8_t> x64;
};

// Builds the installer; messages go to stderr. Returns the process exit code.
int RunBuild(const BuildOptions& options, const EmbeddedStubs& embedded);

// One file to pack: where it is and what the installer calls it.
struct SourceFile {
  std::string path;          // as given, for messages and for opening
  std::string relativeName;  // UTF-8, '/' between components
  std::uint64_t size = 0;
};

// Lists the files of `sources`: a directory contributes its files, recursively, named relative to
// it; a file is named by its file name. False (messages printed) when a source cannot be read.
bool CollectSources(const std::vector<std::string>& sources, std::vector<SourceFile>* files);

// A size for people, in the unit that fits: "824 bytes", "1.2 KiB", "3.4 MiB", "1.50 GiB".
std::string SizeText(std::uint64_t bytes);
