#include "pack/sources.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "pack/file_util.h"

namespace fs = std::filesystem;

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

std::uint64_t TotalSize(const std::vector<SourceFile>& files) {
  std::uint64_t total = 0;
  for (const SourceFile& f : files) total += f.size;
  return total;
}
