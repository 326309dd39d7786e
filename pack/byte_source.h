// Random-access reading of an executable, from memory (fuzzing, the embedded stub) or from a file
// (installers of any size, read piece by piece).
#pragma once

#include <cstdint>
#include <cstdio>
#include <span>
#include <string>

class ByteSource {
 public:
  virtual ~ByteSource() = default;
  virtual std::uint64_t Size() const = 0;
  // Reads exactly `out.size()` bytes at `offset`; false when any of them lies outside the source.
  virtual bool Read(std::uint64_t offset, std::span<std::uint8_t> out) const = 0;
};

class MemorySource final : public ByteSource {
 public:
  explicit MemorySource(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
  std::uint64_t Size() const override { return bytes_.size(); }
  bool Read(std::uint64_t offset, std::span<std::uint8_t> out) const override;

 private:
  std::span<const std::uint8_t> bytes_;
};

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

// 64-bit seeking on both sides of the build.
bool SeekFile(std::FILE* file, std::uint64_t offset);
