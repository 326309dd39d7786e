// Small file helpers shared by the quillpack commands, for POSIX and Windows alike.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "pe/byte_source.h"

// Opens `path` in `mode` ("rb", "wb", "w+b"); names outside the ANSI code page work on Windows too.
std::FILE* OpenFile(const std::filesystem::path& path, const char* mode);
std::filesystem::path PathFromUtf8(const std::string& utf8);
std::string PathToUtf8(const std::filesystem::path& path);
bool IsTerminal(std::FILE* stream);

// Reads the file at `path` (UTF-8) whole, at most `limit` bytes of it. The error text is
// "path: reason".
bool ReadWholeFile(const std::string& path, std::vector<std::uint8_t>* bytes, std::string* error,
                   std::uint64_t limit = UINT64_MAX);

// A size for people, in the unit that fits: "824 bytes", "1.2 KiB", "3.4 MiB", "1.50 GiB".
std::string SizeText(std::uint64_t bytes);

// Owns a FILE*.
struct FileCloser {
  void operator()(std::FILE* f) const {
    if (f) std::fclose(f);
  }
};

// An installer (or any file) read piece by piece, whatever its size.
class FileSource final : public ByteSource {
 public:
  FileSource() = default;
  ~FileSource() override;
  FileSource(const FileSource&) = delete;
  FileSource& operator=(const FileSource&) = delete;
  bool Open(const std::string& path, std::string* error);
  std::uint64_t Size() const override { return size_; }
  bool Read(std::uint64_t offset, std::span<std::uint8_t> out) const override;

 private:
  std::FILE* file_ = nullptr;
  std::uint64_t size_ = 0;
};
