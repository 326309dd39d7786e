#include "payload/progress_math.h"

std::int32_t MulDivRounded(std::int32_t a, std::int32_t b, std::int32_t c) {
  if (c == 0) return -1;
  const std::int64_t product = static_cast<std::int64_t>(a) * b;
  const bool negative = (product < 0) != (c < 0);
  const std::uint64_t magnitude = product < 0 ? 0 - static_cast<std::uint64_t>(product)
                                              : static_cast<std::uint64_t>(product);
  const std::uint64_t divisor = c < 0 ? 0 - static_cast<std::uint64_t>(static_cast<std::int64_t>(c))
                                      : static_cast<std::uint64_t>(c);
  const std::uint64_t quotient = (magnitude + divisor / 2) / divisor;
  if (quotient > (negative ? 0x80000000ull : 0x7FFFFFFFull)) return -1;
  return negative ? static_cast<std::int32_t>(0 - quotient) : static_cast<std::int32_t>(quotient);
}

std::uint32_t ExtractionPercent(std::uint32_t doneCompressedBytes, std::uint32_t produced,
                                std::uint32_t streamLength, std::uint32_t outputSize,
                                std::uint32_t totalPayloadBytes) {
  const std::int32_t within = MulDivRounded(static_cast<std::int32_t>(produced),
                                            static_cast<std::int32_t>(streamLength),
                                            static_cast<std::int32_t>(outputSize));
  const std::int32_t done = static_cast<std::int32_t>(doneCompressedBytes + static_cast<std::uint32_t>(within));
  return static_cast<std::uint32_t>(
      MulDivRounded(done, 100, static_cast<std::int32_t>(totalPayloadBytes)));
}
