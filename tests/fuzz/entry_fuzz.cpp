// Fuzz target: one payload entry (the resource bytes as stored, length field included) through
// DecodeEntry, the code the launcher runs for every entry.
//
// liblzma allocates through a capped allocator, so a header asking for a 4 GiB dictionary is an
// out-of-memory outcome instead of a run that exhausts the machine, and the sink refuses to store
// more than kSinkLimit bytes (a full disk), which keeps huge outputs quick. Besides crashes and
// sanitizer reports it checks the outcome:
//   - exactly the outcome that an independent reading of the header expects, and kOutOfMemory
//     exactly when the allocator refused something;
//   - never more than outputSize bytes written in all, never more than 64 KiB in one chunk (1 MiB
//     for a stored entry);
//   - each progress call names the bytes written before its chunk, and the percentage the
//     launcher shows from it never decreases and never exceeds 100;
//   - the bytes written equal what liblzma's own LZMA-alone decoder makes of the same 13-byte
//     header and data: all of them when the entry is complete (up to the end marker if it came
//     first), a prefix of them when decoding failed or the sink refused;
//   - a stored entry writes exactly its data (a prefix of it when the sink refused), and no
//     allocation is made for it.
#include <lzma.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <span>
#include <vector>

#include "payload/entry_decoder.h"
#include "payload/entry_format.h"
#include "payload/progress_math.h"

namespace {
constexpr std::size_t kAllocationCap = 64u << 20;  // live bytes liblzma may hold at once
constexpr std::size_t kSinkLimit = 4u << 20;       // bytes the sink stores before it "fills up"

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "property violated: %s\n", what);
  std::abort();
}

void Check(bool ok, const char* what) {
  if (!ok) Fail(what);
}

// Refuses any request that would take the live total over the cap. Each block carries its size
// in front so that free can give it back.
struct CappedHeap {
  std::size_t live = 0;
  bool refused = false;
};

constexpr std::size_t kPrefix = 16;  // keeps liblzma's blocks aligned as malloc's are

void* CappedAlloc(void* opaque, std::size_t count, std::size_t size) {
  auto* heap = static_cast<CappedHeap*>(opaque);
  if (size != 0 && count > (kAllocationCap / size)) {
    heap->refused = true;
    return nullptr;
  }
  const std::size_t bytes = count * size;
  if (bytes > kAllocationCap - heap->live) {
    heap->refused = true;
    return nullptr;
  }
  auto* block = static_cast<unsigned char*>(std::malloc(bytes + kPrefix));
  if (!block) {
    heap->refused = true;
    return nullptr;
  }
  std::memcpy(block, &bytes, sizeof bytes);
  heap->live += bytes;
  return block + kPrefix;
}

void CappedFree(void* opaque, void* ptr) {
  if (!ptr) return;
  auto* heap = static_cast<CappedHeap*>(opaque);
  unsigned char* block = static_cast<unsigned char*>(ptr) - kPrefix;
  std::size_t bytes = 0;
  std::memcpy(&bytes, block, sizeof bytes);
  heap->live -= bytes;
  std::free(block);
}

// What liblzma's LZMA-alone decoder makes of the entry's header and data, stopping after `limit`
// bytes. `failed` is set when it reported an error or ran out of input before the limit.
struct AloneResult {
  std::vector<std::uint8_t> bytes;
  bool failed = false;
  bool refusedMemory = false;
};

AloneResult DecodeAlone(std::span<const std::uint8_t> entry, std::uint32_t streamLength,
                        std::size_t limit) {
  AloneResult result;
  // The same 13-byte header, with the size marked unknown: the launcher reads only the low 32
  // bits and stops there itself, as this loop does at `limit`.
  std::vector<std::uint8_t> input(entry.begin() + kStreamLengthFieldSize,
                                  entry.begin() + kStreamLengthFieldSize + streamLength);
  std::memset(input.data() + 5, 0xFF, 8);
  CappedHeap heap;
  const lzma_allocator allocator = {CappedAlloc, CappedFree, &heap};
  lzma_stream stream = LZMA_STREAM_INIT;
  stream.allocator = &allocator;
  if (lzma_alone_decoder(&stream, UINT64_MAX) != LZMA_OK) Fail("alone decoder set-up");
  result.bytes.resize(limit);
  stream.next_in = input.data();
  stream.avail_in = input.size();
  stream.next_out = result.bytes.data();
  stream.avail_out = limit;
  while (stream.avail_out > 0) {
    const std::size_t outBefore = stream.avail_out;
    const std::size_t inBefore = stream.avail_in;
    const lzma_ret ret = lzma_code(&stream, LZMA_RUN);
    if (ret == LZMA_STREAM_END) break;
    if (ret != LZMA_OK) {
      result.failed = true;
      break;
    }
    if (stream.avail_out == outBefore && stream.avail_in == inBefore) {
      result.failed = true;
      break;
    }
  }
  result.bytes.resize(limit - stream.avail_out);
  result.refusedMemory = heap.refused;
  lzma_end(&stream);
  return result;
}

// Whether the header carries the stored marker: properties 0xFF and the dictionary "STOR".
bool StoredMarker(std::span<const std::uint8_t> entry) {
  return entry.size() >= 9 && entry[4] == 0xFF && std::memcmp(entry.data() + 5, "STOR", 4) == 0;
}

// The outcome that the header decides before the decoder is set up, read without the launcher's
// code; kComplete means "the set-up is tried" (its memory refusal is judged from the allocator),
// or for a stored entry "the copy is made".
EntryOutcome HeaderOutcome(std::span<const std::uint8_t> entry) {
  if (entry.size() < 5) return EntryOutcome::kCorrupt;
  if (entry[4] >= 225 && !StoredMarker(entry)) return EntryOutcome::kBadProperties;
  std::uint32_t streamLength = 0;
  std::memcpy(&streamLength, entry.data(), 4);  // the fuzzing hosts are little-endian
  if (entry.size() < 17 || streamLength < 13 || streamLength > entry.size() - 4) {
    return EntryOutcome::kCorrupt;
  }
  if (StoredMarker(entry)) {
    std::uint64_t outputSize = 0;
    std::memcpy(&outputSize, entry.data() + 9, 8);
    return outputSize == streamLength - 13u ? EntryOutcome::kComplete : EntryOutcome::kCorrupt;
  }
  const unsigned lc = entry[4] % 45 % 9, lp = entry[4] % 45 / 9;
  if (lc + lp > 4) return EntryOutcome::kCorrupt;
  return EntryOutcome::kComplete;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> entry(data, size);
  CappedHeap heap;
  const lzma_allocator allocator = {CappedAlloc, CappedFree, &heap};

  std::vector<std::uint8_t> written;
  std::size_t chunkStart = 0;
  bool sinkFull = false;
  std::uint32_t lastPercent = 0;
  EntryHeader header = {};
  const EntryOutcome outcome = DecodeEntry(
      entry, &header,
      [&](const std::uint8_t* chunk, std::size_t n) {
        Check(n <= (StoredMarker(entry) ? kStoredChunkSize : kOutputChunkSize),
              "a chunk larger than a request");
        if (written.size() + n > kSinkLimit) {
          sinkFull = true;
          return false;
        }
        chunkStart = written.size();
        written.insert(written.end(), chunk, chunk + n);
        return true;
      },
      [&](std::uint32_t produced) {
        Check(produced == chunkStart, "progress does not name the bytes before the chunk");
        const std::uint32_t percent = ExtractionPercent(
            0, produced, header.streamLength, static_cast<std::uint32_t>(header.outputSize),
            static_cast<std::uint32_t>(size));
        Check(percent >= lastPercent, "progress decreased");
        Check(percent <= 100, "progress above 100");
        lastPercent = percent;
      },
      &allocator);
  Check(heap.live == 0, "liblzma memory not given back");

  const std::uint32_t outputSize = static_cast<std::uint32_t>(header.outputSize);
  Check(written.size() <= outputSize, "more than outputSize bytes written");

  const EntryOutcome expected = HeaderOutcome(entry);
  if (expected != EntryOutcome::kComplete) {
    Check(outcome == expected, "outcome differs from what the header says");
    Check(written.empty(), "bytes written for an entry refused by its header");
    return 0;
  }
  if (StoredMarker(entry)) {
    Check(!heap.refused && heap.live == 0, "memory allocated for a stored entry");
    Check(outcome == (sinkFull ? EntryOutcome::kWriteFailed : EntryOutcome::kComplete),
          "a stored entry not copied");
    Check(sinkFull || written.size() == outputSize, "a stored entry copied short");
    Check(written.empty() ||
              std::memcmp(written.data(), data + kEntryHeaderSize, written.size()) == 0,
          "a stored entry's bytes changed");
    return 0;
  }
  if (heap.refused) {
    Check(outcome == EntryOutcome::kOutOfMemory, "a refused allocation is not out-of-memory");
    Check(written.empty(), "bytes written without a decoder");
    return 0;
  }
  Check(outcome != EntryOutcome::kOutOfMemory, "out-of-memory without a refused allocation");
  // The refused size is checked once the decoder is set up, as the launcher's steps go.
  if (static_cast<std::uint32_t>(ReadLe64(entry.data() + 9)) == kRefusedOutputSize) {
    Check(outcome == EntryOutcome::kCorrupt, "the refused output size was decoded");
    Check(written.empty(), "bytes written for the refused output size");
    return 0;
  }
  Check(outcome != EntryOutcome::kBadProperties, "bad properties for valid properties");
  Check((outcome == EntryOutcome::kWriteFailed) == sinkFull, "write failure not from the sink");

  // The independent decode, as far as the launcher's decode could have gone.
  const std::size_t limit =
      outputSize < kSinkLimit + kOutputChunkSize ? outputSize : kSinkLimit + kOutputChunkSize;
  const AloneResult alone = DecodeAlone(entry, header.streamLength, limit);
  if (alone.refusedMemory) return 0;  // two decoders' dictionaries need not fit under one cap
  Check(written.size() <= alone.bytes.size(), "more bytes than the reference decoder made");
  Check(written.empty() || std::memcmp(written.data(), alone.bytes.data(), written.size()) == 0,
        "bytes differ from the reference decoder");
  switch (outcome) {
    case EntryOutcome::kComplete:
      Check(!alone.failed, "complete where the reference decoder failed");
      Check(written.size() == alone.bytes.size(), "complete but shorter than the reference");
      break;
    case EntryOutcome::kCorrupt:
      Check(alone.failed, "corrupt where the reference decoder succeeded");
      break;
    default:
      break;
  }
  return 0;
}
