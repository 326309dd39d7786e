#include "pack/file_util.h"

#include <cerrno>
#include <cstring>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

std::FILE* OpenFile(const std::filesystem::path& path, const char* mode) {
#ifdef _WIN32
  std::wstring wideMode(mode, mode + std::char_traits<char>::length(mode));
  return _wfopen(path.c_str(), wideMode.c_str());
#else
  return std::fopen(path.c_str(), mode);
#endif
}

std::filesystem::path PathFromUtf8(const std::string& utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string PathToUtf8(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

bool IsTerminal(std::FILE* stream) {
#ifdef _WIN32
  return _isatty(_fileno(stream)) != 0;
#else
  return isatty(fileno(stream)) != 0;
#endif
}

FileSource::~FileSource() {
  if (file_) std::fclose(file_);
}

bool FileSource::Open(const std::string& path, std::string* error) {
  file_ = OpenFile(PathFromUtf8(path), "rb");
  if (!file_) {
    *error = std::strerror(errno);
    return false;
  }
#ifdef _WIN32
  const bool ok = _fseeki64(file_, 0, SEEK_END) == 0;
  const long long end = ok ? _ftelli64(file_) : -1;
#else
  const bool ok = fseeko(file_, 0, SEEK_END) == 0;
  const long long end = ok ? static_cast<long long>(ftello(file_)) : -1;
#endif
  if (end < 0) {
    *error = "cannot determine its size";
    return false;
  }
  size_ = static_cast<std::uint64_t>(end);
  return true;
}

bool FileSource::Read(std::uint64_t offset, std::span<std::uint8_t> out) const {
  if (offset > size_ || out.size() > size_ - offset) return false;
  if (out.empty()) return true;
  return SeekFile(file_, offset) && std::fread(out.data(), 1, out.size(), file_) == out.size();
}
