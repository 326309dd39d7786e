// The sources of a package: the files that `quillpack build` is given, directly or in directories.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// One file to pack: where it is and what the installer calls it.
struct SourceFile {
  std::string path;          // as given, for messages and for opening
  std::string relativeName;  // UTF-8, '/' between components
  std::uint64_t size = 0;
};

// Lists the files of `sources`: a directory contributes its files, recursively, named relative to
// it; a file is named by its file name. False (messages printed) when a source cannot be read.
bool CollectSources(const std::vector<std::string>& sources, std::vector<SourceFile>* files);

// The bytes of all `files` together.
std::uint64_t TotalSize(const std::vector<SourceFile>& files);
