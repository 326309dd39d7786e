// Small file helpers shared by the quillpack commands, for POSIX and Windows alike.
#pragma once

#include <cstdio>
#include <filesystem>
#include <string>

// Opens `path` in `mode` ("rb", "wb", "w+b"); names outside the ANSI code page work on Windows too.
std::FILE* OpenFile(const std::filesystem::path& path, const char* mode);
std::filesystem::path PathFromUtf8(const std::string& utf8);
std::string PathToUtf8(const std::filesystem::path& path);
bool IsTerminal(std::FILE* stream);

// Owns a FILE*.
struct FileCloser {
  void operator()(std::FILE* f) const {
    if (f) std::fclose(f);
  }
};
