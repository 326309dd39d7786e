#include "payload/entry_decoder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "pack/entry_encoder.h"

namespace {
using Bytes = std::vector<std::uint8_t>;

Bytes RandomBytes(std::size_t size, unsigned seed) {
  std::mt19937 rng(seed);
  Bytes out(size);
  for (auto& b : out) b = static_cast<std::uint8_t>(rng());
  return out;
}

// Text-like data: runs copied from earlier positions, so long matches cross every chunk border.
Bytes RepetitiveBytes(std::size_t size, unsigned seed) {
  std::mt19937 rng(seed);
  Bytes out = RandomBytes(997, seed);
  while (out.size() < size) {
    const std::size_t from = rng() % out.size();
    const std::size_t length = 200 + rng() % 3000;
    for (std::size_t i = 0; i < length && out.size() < size; ++i) out.push_back(out[from + i]);
  }
  out.resize(size);
  return out;
}

// A payload entry made by the project's encoder (raw LZMA1, end marker after the data).
Bytes Entry(const Bytes& data, EntryEncoding encoding = {}) {
  Bytes entry;
  std::string error;
  EXPECT_TRUE(EncodeEntry(data.data(), data.size(), encoding, &entry, &error)) << error;
  return entry;
}

// An entry whose LZMA1 data has no end marker: the decoder must stop on outputSize alone.
Bytes EntryWithoutEndMarker(const Bytes& data) {
  lzma_options_lzma options;
  lzma_lzma_preset(&options, 6);
  options.ext_flags = 0;
  options.ext_size_low = static_cast<std::uint32_t>(data.size());
  options.ext_size_high = 0;
  const lzma_filter filters[] = {{LZMA_FILTER_LZMA1EXT, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
  Bytes out(kEntryHeaderSize + data.size() + data.size() / 2 + 1024);
  std::size_t pos = kEntryHeaderSize;
  EXPECT_EQ(lzma_raw_buffer_encode(filters, nullptr, data.data(), data.size(), out.data(), &pos,
                                   out.size()),
            LZMA_OK);
  out.resize(pos);
  WriteLe32(out.data(), static_cast<std::uint32_t>(pos - kStreamLengthFieldSize));
  out[4] = JoinProperties(options.lc, options.lp, options.pb);
  WriteLe32(out.data() + 5, options.dict_size);
  WriteLe64(out.data() + 9, data.size());
  return out;
}

// A stored entry: the header with the stored marker, then the file as it is.
Bytes StoredEntry(const Bytes& data) {
  Bytes out(kEntryHeaderSize);
  WriteLe32(out.data(), static_cast<std::uint32_t>(data.size() + kAloneHeaderSize));
  out[4] = kStoredProperties;
  WriteLe32(out.data() + 5, kStoredDictionaryMagic);
  WriteLe64(out.data() + 9, data.size());
  out.insert(out.end(), data.begin(), data.end());
  return out;
}

void SetStreamLength(Bytes* e, std::uint32_t v) { WriteLe32(e->data(), v); }
void SetProperties(Bytes* e, std::uint8_t v) { (*e)[4] = v; }
void SetDictionary(Bytes* e, std::uint32_t v) { WriteLe32(e->data() + 5, v); }
void SetOutputSize(Bytes* e, std::uint64_t v) { WriteLe64(e->data() + 9, v); }

struct Decoded {
  EntryOutcome outcome;
  EntryHeader header;
  Bytes file;
  std::vector<std::size_t> chunks;
  std::vector<std::uint32_t> progress;
};

// Runs DecodeEntry with a writer that accepts `writable` bytes in all (then writes short).
Decoded Decode(const Bytes& entry, std::size_t writable = SIZE_MAX,
               const lzma_allocator* allocator = nullptr) {
  Decoded d;
  d.outcome = DecodeEntry(
      entry, &d.header,
      [&d, &writable](const std::uint8_t* data, std::size_t size) {
        const std::size_t n = size < writable ? size : writable;
        d.file.insert(d.file.end(), data, data + n);
        writable -= n;
        d.chunks.push_back(size);
        return n == size;
      },
      [&d](std::uint32_t produced) { d.progress.push_back(produced); }, allocator);
  return d;
}
}  // namespace

TEST(DecodeEntry, WritesEveryByteInChunksOfAtMost64KiB) {
  for (const std::size_t size : {0u, 1u, 65535u, 65536u, 65537u, 2u * 65536u, 3u * 65536u + 5u}) {
    const Bytes data = RepetitiveBytes(size, static_cast<unsigned>(size));
    const Decoded d = Decode(Entry(data));
    ASSERT_EQ(d.outcome, EntryOutcome::kComplete) << size;
    EXPECT_EQ(d.file, data) << size;
    const std::size_t chunks = (size + kOutputChunkSize - 1) / kOutputChunkSize;
    ASSERT_EQ(d.chunks.size(), chunks) << size;
    for (std::size_t i = 0; i < chunks; ++i) {
      EXPECT_EQ(d.chunks[i], i + 1 < chunks ? kOutputChunkSize : size - i * kOutputChunkSize);
      EXPECT_EQ(d.progress[i], i * kOutputChunkSize);  // the count before the chunk
    }
  }
}

TEST(DecodeEntry, StopsOnOutputSizeWithOrWithoutAnEndMarker) {
  const Bytes data = RepetitiveBytes(200000, 7);
  Bytes plain = EntryWithoutEndMarker(data);
  Decoded d = Decode(plain);
  ASSERT_EQ(d.outcome, EntryOutcome::kComplete);
  EXPECT_EQ(d.file, data);

  // Compressed bytes that are never needed (garbage after the data) are never read.
  Bytes padded = Entry(data);
  for (int i = 0; i < 64; ++i) padded.push_back(0xFF);
  SetStreamLength(&padded, static_cast<std::uint32_t>(padded.size() - 4));
  d = Decode(padded);
  ASSERT_EQ(d.outcome, EntryOutcome::kComplete);
  EXPECT_EQ(d.file, data);

  // Only the low 32 bits of outputSize count.
  Bytes high = Entry(data);
  SetOutputSize(&high, (std::uint64_t{7} << 32) | 1000);
  d = Decode(high);
  ASSERT_EQ(d.outcome, EntryOutcome::kComplete);
  EXPECT_EQ(d.file, Bytes(data.begin(), data.begin() + 1000));
}

TEST(DecodeEntry, AnEndMarkerBeforeOutputSizeEndsTheEntryShortAndComplete) {
  const Bytes data = RepetitiveBytes(150000, 3);
  Bytes entry = Entry(data);
  SetOutputSize(&entry, data.size() + 100000);
  const Decoded d = Decode(entry);
  ASSERT_EQ(d.outcome, EntryOutcome::kComplete);
  EXPECT_EQ(d.file, data);
  // Two full chunks, the short third one at the marker, then the empty request that ends the loop.
  EXPECT_EQ(d.chunks, (std::vector<std::size_t>{65536, 65536, 150000 - 131072, 0}));
}

TEST(DecodeEntry, AMatchRunningAcrossRequestsContinuesInTheNextOne) {
  // Odd request sizes put request borders inside matches; the output must not change.
  const Bytes data = RepetitiveBytes(300000, 11);
  const Bytes entry = Entry(data);
  for (const std::size_t request : {1u, 7u, 4093u, 65536u}) {
    EntryDecoder decoder;
    EntryHeader header = {};
    ReadEntryHeader(entry, &header);
    ASSERT_EQ(decoder.Start(header, std::span(entry).subspan(kEntryHeaderSize)),
              DecoderSetup::kReady);
    Bytes out;
    Bytes chunk(request);
    while (out.size() < data.size()) {
      const std::size_t want = std::min(request, data.size() - out.size());
      std::size_t n = 0;
      ASSERT_EQ(decoder.Read({chunk.data(), want}, &n), DecodeStatus::kOk);
      ASSERT_EQ(n, want);
      out.insert(out.end(), chunk.begin(), chunk.begin() + n);
    }
    EXPECT_EQ(out, data) << request;
    // Past the data lies the end marker: the next request yields nothing, and so does every later
    // one.
    std::size_t n = 1;
    EXPECT_EQ(decoder.Read({chunk.data(), 1}, &n), DecodeStatus::kOk);
    EXPECT_EQ(n, 0u);
    EXPECT_EQ(decoder.Read({chunk.data(), 1}, &n), DecodeStatus::kOk);
    EXPECT_EQ(n, 0u);
  }
}

TEST(DecodeEntry, DecodingErrorsKeepTheChunksWrittenBefore) {
  const Bytes data = RandomBytes(200000, 5);  // incompressible: the data is spread evenly
  struct Case {
    const char* what;
    Bytes entry;
    std::size_t minWritten, maxWritten;
  };
  std::vector<Case> cases;

  // Input exhausted: the data is cut and the stream has no end marker to stop at.
  Bytes cut = EntryWithoutEndMarker(data);
  cut.resize(kEntryHeaderSize + (cut.size() - kEntryHeaderSize) * 2 / 3);
  SetStreamLength(&cut, static_cast<std::uint32_t>(cut.size() - 4));
  cases.push_back({"input exhausted", cut, 65536, 131072});

  // A repeated match before the first byte: all-ones range-coder input decodes as one.
  Bytes ones = Entry(data);
  std::memset(ones.data() + kEntryHeaderSize + 1, 0xFF, ones.size() - kEntryHeaderSize - 1);
  cases.push_back({"match before the first byte", ones, 0, 0});

  // The range coder's first byte must be zero.
  Bytes badStart = Entry(data);
  badStart[kEntryHeaderSize] = 0x80;
  cases.push_back({"bad first byte", badStart, 0, 0});

  // An end marker is the only way to stop early; an empty stream is exhausted at once.
  Bytes empty = Entry(data);
  empty.resize(kEntryHeaderSize);
  SetStreamLength(&empty, 13);
  cases.push_back({"no data", empty, 0, 0});

  for (const Case& c : cases) {
    const Decoded d = Decode(c.entry);
    EXPECT_EQ(d.outcome, EntryOutcome::kCorrupt) << c.what;
    EXPECT_GE(d.file.size(), c.minWritten) << c.what;
    EXPECT_LE(d.file.size(), c.maxWritten) << c.what;
    EXPECT_EQ(d.file.size() % kOutputChunkSize, 0u) << c.what;  // nothing of the failed request
    EXPECT_TRUE(std::equal(d.file.begin(), d.file.end(), data.begin())) << c.what;
  }
}

TEST(DecodeEntry, HeaderChecksInTheLaunchersOrder) {
  const Bytes data = RepetitiveBytes(5000, 1);
  const Bytes good = Entry(data);
  struct Case {
    const char* what;
    Bytes entry;
    EntryOutcome outcome;
  };
  std::vector<Case> cases;
  auto with = [&good](auto change) {
    Bytes e = good;
    change(&e);
    return e;
  };
  cases.push_back({"properties 225", with([](Bytes* e) { SetProperties(e, 225); }),
                   EntryOutcome::kBadProperties});
  cases.push_back({"properties 255 beat a bad length",
                   with([](Bytes* e) { SetProperties(e, 255), SetStreamLength(e, 3); }),
                   EntryOutcome::kBadProperties});
  cases.push_back({"properties 255 in a cut header", Bytes{17, 0, 0, 0, 255, 1, 2},
                   EntryOutcome::kBadProperties});
  cases.push_back({"no properties byte", Bytes{13, 0, 0, 0}, EntryOutcome::kCorrupt});
  cases.push_back({"empty resource", Bytes{}, EntryOutcome::kCorrupt});
  cases.push_back({"cut header", Bytes(good.begin(), good.begin() + 16), EntryOutcome::kCorrupt});
  cases.push_back(
      {"streamLength 12", with([](Bytes* e) { SetStreamLength(e, 12); }), EntryOutcome::kCorrupt});
  cases.push_back({"streamLength one beyond the resource", with([](Bytes* e) {
                     SetStreamLength(e, static_cast<std::uint32_t>(e->size() - 3));
                   }),
                   EntryOutcome::kCorrupt});
  cases.push_back({"streamLength 0xFFFFFFFF",
                   with([](Bytes* e) { SetStreamLength(e, 0xFFFFFFFF); }), EntryOutcome::kCorrupt});
  cases.push_back({"outputSize low word 0xFFFFFFFF",
                   with([](Bytes* e) { SetOutputSize(e, 0x00000001FFFFFFFFull); }),
                   EntryOutcome::kCorrupt});
  cases.push_back({"lc 4 + lp 1", with([](Bytes* e) { SetProperties(e, JoinProperties(4, 1, 0)); }),
                   EntryOutcome::kCorrupt});
  cases.push_back({"lc 8 lp 4 pb 4 (224)", with([](Bytes* e) { SetProperties(e, 224); }),
                   EntryOutcome::kCorrupt});
  // The stored kind: its marker is properties 0xFF and the dictionary "STOR" together; either
  // alone is the invalid header it always was. Its sizes must agree with each other.
  const Bytes stored = StoredEntry(data);
  auto withStored = [&stored](auto change) {
    Bytes e = stored;
    change(&e);
    return e;
  };
  cases.push_back({"stored", stored, EntryOutcome::kComplete});
  cases.push_back({"stored, empty file", StoredEntry({}), EntryOutcome::kComplete});
  cases.push_back({"properties 0xFF with another dictionary",
                   withStored([](Bytes* e) { SetDictionary(e, kDefaultDictionarySize); }),
                   EntryOutcome::kBadProperties});
  cases.push_back({"the stored dictionary with LZMA properties",
                   withStored([](Bytes* e) { SetProperties(e, kDefaultProperties); }),
                   EntryOutcome::kCorrupt});
  cases.push_back({"stored, outputSize one short",
                   withStored([](Bytes* e) { SetOutputSize(e, 4999); }), EntryOutcome::kCorrupt});
  cases.push_back({"stored, outputSize with a high word",
                   withStored([](Bytes* e) { SetOutputSize(e, 0x100000000ull + 5000); }),
                   EntryOutcome::kCorrupt});
  cases.push_back({"stored, streamLength beyond the resource",
                   withStored([](Bytes* e) { SetStreamLength(e, 5014), SetOutputSize(e, 5001); }),
                   EntryOutcome::kCorrupt});
  cases.push_back({"stored marker in a cut header", Bytes(stored.begin(), stored.begin() + 12),
                   EntryOutcome::kCorrupt});
  // A dictionary smaller than the data's distances: liblzma's minimum (4 KiB) still covers them.
  cases.push_back(
      {"dictionary 0", with([](Bytes* e) { SetDictionary(e, 0); }), EntryOutcome::kComplete});
  cases.push_back(
      {"outputSize 0", with([](Bytes* e) { SetOutputSize(e, 0); }), EntryOutcome::kComplete});

  for (const Case& c : cases) {
    const Decoded d = Decode(c.entry);
    EXPECT_EQ(d.outcome, c.outcome) << c.what;
    if (c.outcome != EntryOutcome::kComplete) {
      EXPECT_TRUE(d.chunks.empty()) << c.what;  // nothing reaches the file
    }
  }
  EXPECT_EQ(Decode(stored).file, data);
}

// A stored entry is copied in large chunks, reports progress as a decoded one does, and stops at
// a short write like one.
TEST(DecodeEntry, AStoredEntryIsCopiedInLargeChunks) {
  const Bytes data = RandomBytes(2 * kStoredChunkSize + 3, 4);
  const Decoded d = Decode(StoredEntry(data));
  ASSERT_EQ(d.outcome, EntryOutcome::kComplete);
  EXPECT_EQ(d.file, data);
  EXPECT_EQ(d.chunks, (std::vector<std::size_t>{kStoredChunkSize, kStoredChunkSize, 3}));
  const std::uint32_t chunk = kStoredChunkSize;
  EXPECT_EQ(d.progress, (std::vector<std::uint32_t>{0, chunk, 2 * chunk}));
  EXPECT_EQ(d.header.streamLength, data.size() + kAloneHeaderSize);

  const Decoded cut = Decode(StoredEntry(data), kStoredChunkSize + 10);
  EXPECT_EQ(cut.outcome, EntryOutcome::kWriteFailed);
  EXPECT_EQ(cut.file.size(), kStoredChunkSize + 10);
  EXPECT_EQ(cut.chunks.size(), 2u);
}

TEST(DecodeEntry, AShortWriteEndsTheEntry) {
  const Bytes data = RepetitiveBytes(4 * 65536, 9);
  const Decoded d = Decode(Entry(data), 65536 + 100);
  EXPECT_EQ(d.outcome, EntryOutcome::kWriteFailed);
  EXPECT_EQ(d.chunks.size(), 2u);  // the failing chunk is the last one asked for
  EXPECT_EQ(d.file.size(), 65536u + 100u);
}

namespace {
// An allocator that refuses blocks above `limit` bytes, standing in for an exhausted heap.
void* CappedAlloc(void* opaque, std::size_t count, std::size_t size) {
  const std::size_t limit = *static_cast<std::size_t*>(opaque);
  return count * size > limit ? nullptr : std::malloc(count * size);
}
void CappedFree(void*, void* ptr) { std::free(ptr); }

// An allocator that refuses its `failAt`-th request (counted from 1) and serves all others.
struct FailingNth {
  int failAt;
  int calls;
};
void* FailNthAlloc(void* opaque, std::size_t count, std::size_t size) {
  auto* state = static_cast<FailingNth*>(opaque);
  return ++state->calls == state->failAt ? nullptr : std::malloc(count * size);
}
}  // namespace

TEST(DecodeEntry, NoMemoryForTheDictionaryIsOutOfMemory) {
  const Bytes entry = Entry(RepetitiveBytes(1000, 2));  // 8 MiB dictionary in the header
  std::size_t limit = 1 << 20;
  const lzma_allocator capped = {CappedAlloc, CappedFree, &limit};
  EXPECT_EQ(Decode(entry, SIZE_MAX, &capped).outcome, EntryOutcome::kOutOfMemory);
  // The decoder is set up before outputSize is looked at: memory comes first.
  Bytes refusedSize = entry;
  SetOutputSize(&refusedSize, 0xFFFFFFFF);
  EXPECT_EQ(Decode(refusedSize, SIZE_MAX, &capped).outcome, EntryOutcome::kOutOfMemory);
  limit = 64 << 20;
  EXPECT_EQ(Decode(entry, SIZE_MAX, &capped).outcome, EntryOutcome::kComplete);
  EXPECT_EQ(Decode(refusedSize, SIZE_MAX, &capped).outcome, EntryOutcome::kCorrupt);
}

// A set-up that fails at any one of its allocations leaves nothing behind that the next entry of
// the run could trip over (liblzma has had faults on exactly this path, for decoders set up again
// after a failed allocation); the sanitizers watch for use after free and leaks.
TEST(DecodeEntry, AGoodEntryDecodesAfterAnAllocationFailedAtAnyPoint) {
  const Bytes data = RepetitiveBytes(3 * 65536 + 17, 5);
  const Bytes entry = Entry(data);
  FailingNth failing = {0, 0};
  const lzma_allocator refuses = {FailNthAlloc, CappedFree, &failing};
  int failures = 0;
  for (failing.failAt = 1;; ++failing.failAt) {
    failing.calls = 0;
    const Decoded refused = Decode(entry, SIZE_MAX, &refuses);
    if (failing.calls < failing.failAt) break;  // every allocation of a whole decode was served
    ++failures;
    EXPECT_EQ(refused.outcome, EntryOutcome::kOutOfMemory) << "allocation " << failing.failAt;
    const Decoded good = Decode(entry);
    ASSERT_EQ(good.outcome, EntryOutcome::kComplete) << "after allocation " << failing.failAt;
    EXPECT_EQ(good.file, data) << "after allocation " << failing.failAt;
  }
  EXPECT_GE(failures, 2);  // the decoder's state and its dictionary at least
}
