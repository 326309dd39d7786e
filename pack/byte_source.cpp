#include "pack/byte_source.h"

#include <cerrno>
#include <cstring>

#include "pack/file_util.h"

bool SeekFile(std::FILE* file, std::uint64_t offset) {
#ifdef _WIN32
  return _fseeki64(file, static_cast<long long>(offset), SEEK_SET) == 0;
#else
  return fseeko(file, static_cast<off_t>(offset), SEEK_SET) == 0;
#endif
}

bool MemorySource::Read(std::uint64_t offset, std::span<std::uint8_t> out) const {
  if (offset > bytes_.size() || out.size() > bytes_.size() - offset) return false;
  if (!out.empty()) std::memcpy(out.data(), bytes_.data() + offset, out.size());
  return true;
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
