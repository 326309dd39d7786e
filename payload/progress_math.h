// Progress arithmetic of extraction: the share of stored payload bytes processed. Portable.
#pragma once

#include <cstdint>

// Windows' MulDiv: a * b / c with a 64-bit intermediate product, rounded to the nearest integer
// (halves away from zero); -1 when c is 0 or the result's magnitude exceeds 0x7FFFFFFF.
std::int32_t MulDivRounded(std::int32_t a, std::int32_t b, std::int32_t c);

// The percentage reported after a chunk: finished entries count with their whole stream length,
// the current one with produced/outputSize of it (produced counted before the chunk), against the
// total of the stored sizes. Both steps round like MulDiv but on unsigned 32-bit operands, so an
// entry of 2 GiB or more still yields a value that never decreases; the result is at most 100.
std::uint32_t ExtractionPercent(std::uint32_t doneCompressedBytes, std::uint32_t produced,
                                std::uint32_t streamLength, std::uint32_t outputSize,
                                std::uint32_t totalPayloadBytes);
