// Random-access reading of an executable, whatever holds it: bytes in memory (fuzzing, the embedded
// stub), or a file read piece by piece (the tool's own source, for installers of any size).
#pragma once

#include <cstdint>
#include <cstdio>
#include <span>

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

// 64-bit seeking on both sides of the build.
bool SeekFile(std::FILE* file, std::uint64_t offset);
