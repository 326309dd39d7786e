#include "pack/file_util.h"

#include <cerrno>
#include <cstring>
#include <memory>

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

bool ReadWholeFile(const std::string& path, std::vector<std::uint8_t>* bytes, std::string* error,
                   std::uint64_t limit) {
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
