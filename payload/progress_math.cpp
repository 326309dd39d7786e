#include "payload/progress_math.h"

namespace {
// a * b / c rounded to nearest, halves up; c must not be 0. The quotient fits in 64 bits.
std::uint64_t MulDivUnsigned(std::uint32_t a, std::uint32_t b, std::uint32_t c) {
  return (static_cast<std::uint64_t>(a) * b + c / 2) / c;
}
}  // namespace

std::int32_t MulDivRounded(std::int32_t a, std::int32_t b, std::int32_t c) {
  if (c == 0) return -1;
  const std::int64_t product = static_cast<std::int64_t>(a) * b;
  const bool negative = (product < 0) != (c < 0);
  const std::uint64_t magnitude =
      product < 0 ? 0 - static_cast<std::uint64_t>(product) : static_cast<std::uint64_t>(product);
  const std::uint64_t divisor = c < 0 ? 0 - static_cast<std::uint64_t>(static_cast<std::int64_t>(c))
                                      : static_cast<std::uint64_t>(c);
  // c is not 0 (answered above), so neither is divisor.
  // cppcheck-suppress zerodivcond
  const std::uint64_t quotient = (magnitude + divisor / 2) / divisor;
  // MulDiv answers -1 for any result beyond +-0x7FFFFFFF, the most negative int included.
  if (quotient > 0x7FFFFFFFull) return -1;
  const std::int32_t value = static_cast<std::int32_t>(quotient);
  return negative ? -value : value;
}

std::uint32_t ExtractionPercent(std::uint32_t doneCompressedBytes, std::uint32_t produced,
                                std::uint32_t streamLength, std::uint32_t outputSize,
                                std::uint32_t totalPayloadBytes) {
  if (totalPayloadBytes == 0) return 100;
  const std::uint64_t within = outputSize ? MulDivUnsigned(produced, streamLength, outputSize) : 0;
  std::uint64_t done = doneCompressedBytes + within;
  if (done > totalPayloadBytes) done = totalPayloadBytes;
  return static_cast<std::uint32_t>(
      MulDivUnsigned(static_cast<std::uint32_t>(done), 100, totalPayloadBytes));
}
