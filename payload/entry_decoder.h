// Decoding one payload entry in chunks with liblzma's raw LZMA1 decoder. Portable.
//
// One decoder state lives from the start of an entry to its end, so a match that runs past the end
// of one chunk continues at the start of the next. The compressed data is read in place.
#pragma once

#include <lzma.h>

#include <cstddef>
#include <cstdint>
#include <span>

#include "payload/entry_format.h"

enum class DecoderSetup {
  kReady,
  kOutOfMemory,  // the decoder or its dictionary could not be allocated (message 6)
  kRefused,      // any other refusal, lc + lp > 4 among them (message 7)
};

enum class DecodeStatus {
  kOk,       // the request was filled, or ended early at the stream's end marker
  kCorrupt,  // a decoding error: corrupt data, or input exhausted before the request was filled
  kOutOfMemory,
};

class EntryDecoder {
 public:
  EntryDecoder() = default;
  ~EntryDecoder();
  EntryDecoder(const EntryDecoder&) = delete;
  EntryDecoder& operator=(const EntryDecoder&) = delete;

  // Sets the decoder up for the header's lc, lp, pb and dictionary size, with `compressed` as its
  // whole input. `allocator` may cap what liblzma allocates (fuzzing); null means malloc.
  DecoderSetup Start(const EntryHeader& header, std::span<const std::uint8_t> compressed,
                     const lzma_allocator* allocator = nullptr);

  // Produces up to `out.size()` bytes into `out`; `*produced` receives how many. Fewer bytes than
  // asked for only at the stream's end marker, after which every request yields 0 bytes.
  DecodeStatus Read(std::span<std::uint8_t> out, std::size_t* produced);

 private:
  lzma_stream stream_ = LZMA_STREAM_INIT;
  bool started_ = false;
  bool ended_ = false;
};

// What became of one entry; each value but kComplete is a failure outcome of extraction.
enum class EntryOutcome {
  kComplete,       // every byte written (or the end marker came first)
  kBadProperties,  // properties >= 225 without the stored marker: skipped, file left empty
  kOutOfMemory,    // message 6
  kCorrupt,        // message 7: bad length, refused setup, refused size, decoding error, a stored
                   // entry whose sizes disagree
  kWriteFailed,    // message 4
};

// Runs the whole decode of one entry's bytes (the resource as stored, length field included):
// header checks in the launcher's order, decoder set-up, the 64 KiB output buffer, and the chunk
// loop. A stored entry is copied from `entry` itself in chunks of kStoredChunkSize, with no
// decoder and no buffer. `write(data, size)` stores a chunk and answers false when it could not
// write all of it; `progress(produced)` is called after each written chunk with the count before
// that chunk.
// `*header` receives the header fields that the entry holds (for the progress counters).
template <typename Write, typename Progress>
EntryOutcome DecodeEntry(std::span<const std::uint8_t> entry, EntryHeader* header, Write write,
                         Progress progress, const lzma_allocator* allocator = nullptr);

// --- implementation of the template -------------------------------------------------------------

// The parts of DecodeEntry that need no callback; kept out of line.
struct EntryDecodePlan {
  EntryHeader header;
  std::uint32_t outputSize;                  // low 32 bits
  std::span<const std::uint8_t> compressed;  // the file itself when stored
  bool stored;
};
EntryOutcome PrepareEntry(std::span<const std::uint8_t> entry, EntryDecoder* decoder,
                          EntryDecodePlan* plan, const lzma_allocator* allocator);

// The output buffer, obtained from the heap each entry (its failure is message 6).
struct OutputBuffer {
  OutputBuffer();
  ~OutputBuffer();
  OutputBuffer(const OutputBuffer&) = delete;
  OutputBuffer& operator=(const OutputBuffer&) = delete;
  std::uint8_t* data;
};

template <typename Write, typename Progress>
EntryOutcome DecodeEntry(std::span<const std::uint8_t> entry, EntryHeader* header, Write write,
                         Progress progress, const lzma_allocator* allocator) {
  EntryDecoder decoder;
  EntryDecodePlan plan = {};
  const EntryOutcome prepared = PrepareEntry(entry, &decoder, &plan, allocator);
  *header = plan.header;
  if (prepared != EntryOutcome::kComplete) return prepared;
  if (plan.stored) {
    for (std::uint32_t produced = 0; produced < plan.outputSize;) {
      const std::uint32_t left = plan.outputSize - produced;
      const auto n = static_cast<std::uint32_t>(left < kStoredChunkSize ? left : kStoredChunkSize);
      if (!write(plan.compressed.data() + produced, n)) return EntryOutcome::kWriteFailed;
      progress(produced);
      produced += n;
    }
    return EntryOutcome::kComplete;
  }
  OutputBuffer buffer;
  if (!buffer.data) return EntryOutcome::kOutOfMemory;
  std::uint32_t produced = 0;
  while (produced < plan.outputSize) {
    const std::uint32_t left = plan.outputSize - produced;
    const std::size_t want = left < kOutputChunkSize ? left : kOutputChunkSize;
    std::size_t n = 0;
    const DecodeStatus status = decoder.Read({buffer.data, want}, &n);
    if (status == DecodeStatus::kOutOfMemory) return EntryOutcome::kOutOfMemory;
    if (status != DecodeStatus::kOk) return EntryOutcome::kCorrupt;
    if (!write(buffer.data, n)) return EntryOutcome::kWriteFailed;
    progress(produced);
    produced += static_cast<std::uint32_t>(n);
    if (n == 0) break;
  }
  return EntryOutcome::kComplete;
}
