// Encoding a package's files on every core: workers take the files largest first, so that no core
// is left with a big one at the end, and each spools the entries it encodes into a temporary file
// of its own beside the installer. The installer's writer copies them out of the spools.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "pack/entry_encoder.h"
#include "pack/file_util.h"
#include "pack/sources.h"
#include "pack/stream_encoder.h"
#include "pe/resource_writer.h"

// The workers' spool files beside the output; removed however the build ends.
struct Spools {
  std::vector<std::filesystem::path> paths;
  std::vector<std::unique_ptr<std::FILE, FileCloser>> files;
  Spools() = default;
  Spools(const Spools&) = delete;
  Spools& operator=(const Spools&) = delete;
  ~Spools();
};

// One encoded entry: the spool that holds its stream, and where.
struct SpooledEntry {
  std::size_t spool = 0;
  std::uint64_t offset = 0;
  EncodedStream stream;
};

// How the pool shows its progress on stderr: when `show`, once a second has passed since
// `started`.
struct PoolProgress {
  bool show = false;
  std::chrono::steady_clock::time_point started;
};

// Encodes every file of `files` with `jobs` workers into spools named after `output`
// (OUT.spool0, ...), storing as they are the files that `store` says: `entries` gets one entry
// per file, in the order of `files`. False, with the message printed, when a file cannot be
// encoded or a spool cannot be made or written.
bool EncodeFiles(const std::vector<SourceFile>& files, const EntryEncoding& encoding,
                 StoreMode store, unsigned jobs, const std::string& output,
                 const PoolProgress& progress, Spools* spools, std::vector<SpooledEntry>* entries);

// Writes `entry` as the installer holds it, its header and then its stream, through `write`;
// `buffer` is the copy's scratch space.
bool CopySpooledEntry(const Spools& spools, const SpooledEntry& entry,
                      std::vector<std::uint8_t>* buffer, const ByteWriter& write, std::string* why);
