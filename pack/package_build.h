// `quillpack build`: files and directories in, one installer out.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "pack/entry_encoder.h"
#include "pack/entry_names.h"
#include "pack/stream_encoder.h"
#include "pe/image.h"
#include "pe/publisher_resources.h"

struct BuildOptions {
  std::string output;
  std::vector<std::string> sources;
  EntryEncoding encoding;
  StoreMode store = StoreMode::kAuto;
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
