#include "pack/stream_encoder.h"

#include <gtest/gtest.h>
#include <lzma.h>

#include <random>

#include "payload/entry_decoder.h"

namespace {
// The entry for `data`: LZMA-encoded, or stored as it is.
std::vector<std::uint8_t> Encode(const std::vector<std::uint8_t>& data, EntryEncoding encoding = {},
                                 bool store = false) {
  std::FILE* in = std::tmpfile();
  std::fwrite(data.data(), 1, data.size(), in);
  std::rewind(in);
  std::vector<std::uint8_t> entry(kEntryHeaderSize);
  EncodedStream stream;
  std::string error;
  const StreamSink sink = [&](const std::uint8_t* p, std::size_t n) {
    entry.insert(entry.end(), p, p + n);
    return true;
  };
  EXPECT_TRUE(store ? StoreStream(in, sink, nullptr, &stream, &error)
                    : EncodeStream(in, encoding, sink, nullptr, &stream, &error))
      << error;
  std::fclose(in);
  std::uint8_t header[kEntryHeaderSize];
  EXPECT_TRUE(MakeEntryHeader(stream, header, &error));
  std::copy(header, header + kEntryHeaderSize, entry.begin());
  return entry;
}

TEST(StreamEncoder, LauncherDecoderRestoresEveryByte) {
  std::mt19937 rng(5);
  const std::size_t sizes[] = {0, 1, 65535, 65536, 65537, 300000, 2 * kStoredChunkSize + 1};
  for (const bool store : {false, true})
    for (std::size_t size : sizes) {
      std::vector<std::uint8_t> data(size);
      for (std::size_t i = 0; i < size; ++i)
        data[i] = static_cast<std::uint8_t>(i % 7 ? rng() : 'x');
      const std::vector<std::uint8_t> entry = Encode(data, {}, store);
      EntryHeader header;
      ReadEntryHeader(entry, &header);
      EXPECT_EQ(header.properties, store ? kStoredProperties : kDefaultProperties);
      EXPECT_EQ(header.dictionarySize, store ? kStoredDictionaryMagic : kDefaultDictionarySize);
      EXPECT_EQ(header.outputSize, size);
      EXPECT_EQ(header.streamLength, entry.size() - kStreamLengthFieldSize);
      std::vector<std::uint8_t> out;
      EntryHeader decoded;
      const EntryOutcome outcome = DecodeEntry(
          std::span<const std::uint8_t>(entry), &decoded,
          [&](const std::uint8_t* p, std::size_t n) {
            out.insert(out.end(), p, p + n);
            return true;
          },
          [](std::uint32_t) {});
      EXPECT_EQ(outcome, EntryOutcome::kComplete);
      EXPECT_EQ(out, data) << size << (store ? " stored" : "");
    }
}

// Stored when LZMA's entry is not at least 2 % smaller than the stored one, headers included.
TEST(StreamEncoder, StoresWhatLzmaDoesNotMakeTwoPercentSmaller) {
  struct Case {
    std::uint64_t input, stream;
    bool pays;
  } cases[] = {
      {0, 5, false},              // an empty file: its stored entry is the header alone
      {983, 950, true},           // 967 of 1000 header-and-data bytes: 3.3 % smaller
      {999983, 979983, true},     // 980000 of 1000000: exactly 2 % smaller
      {999983, 979984, false},    // one byte short of 2 %
      {1000000, 1014000, false},  // random data, which LZMA makes larger
  };
  for (const Case& c : cases) {
    EncodedStream stream;
    stream.inputSize = c.input;
    stream.streamSize = c.stream;
    EXPECT_EQ(CompressionPays(stream), c.pays) << c.input << " into " << c.stream;
  }
}

TEST(StreamEncoder, WritesNoEndMarker) {
  // A strict decoder (LZMA1EXT without ALLOW_EOPM) fails on an end marker.
  const std::vector<std::uint8_t> data(100000, 'q');
  const std::vector<std::uint8_t> entry = Encode(data);
  lzma_options_lzma options = {};
  options.dict_size = kDefaultDictionarySize;
  options.lc = 3;
  options.pb = 2;
  options.ext_size_low = static_cast<std::uint32_t>(data.size());
  const lzma_filter filters[] = {{LZMA_FILTER_LZMA1EXT, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
  lzma_stream stream = LZMA_STREAM_INIT;
  ASSERT_EQ(lzma_raw_decoder(&stream, filters), LZMA_OK);
  std::vector<std::uint8_t> out(data.size() + 16);
  stream.next_in = entry.data() + kEntryHeaderSize;
  stream.avail_in = entry.size() - kEntryHeaderSize;
  stream.next_out = out.data();
  stream.avail_out = out.size();
  EXPECT_EQ(lzma_code(&stream, LZMA_FINISH), LZMA_STREAM_END);
  EXPECT_EQ(stream.avail_in, 0u);
  EXPECT_EQ(stream.total_out, data.size());
  lzma_end(&stream);
}

TEST(StreamEncoder, PresetsSetTheHeader) {
  const std::vector<std::uint8_t> data(1000, 'a');
  EntryEncoding fast;
  fast.preset = 1;
  EntryHeader header;
  ReadEntryHeader(Encode(data, fast), &header);
  EXPECT_EQ(header.dictionarySize, 1u << 20);
  EXPECT_EQ(header.properties, kDefaultProperties);
}

TEST(StreamEncoder, RefusesSizesTheFormatCannotHold) {
  std::uint8_t header[kEntryHeaderSize];
  std::string error;
  EncodedStream big;
  big.inputSize = 0xFFFFFFFFu;
  EXPECT_FALSE(MakeEntryHeader(big, header, &error));
  big.inputSize = 0xFFFFFFFEu;
  EXPECT_TRUE(MakeEntryHeader(big, header, &error));
  big.streamSize = 0xFFFFFFFFu;
  EXPECT_FALSE(MakeEntryHeader(big, header, &error));
  // Stored, the file is its own stream: streamLength must still hold it and the 13 header bytes.
  EncodedStream stored;
  stored.stored = true;
  stored.inputSize = stored.streamSize = 0xFFFFFFFFu - kAloneHeaderSize;
  EXPECT_TRUE(MakeEntryHeader(stored, header, &error));
  stored.inputSize = stored.streamSize = 0xFFFFFFFFu - kAloneHeaderSize + 1;
  EXPECT_FALSE(MakeEntryHeader(stored, header, &error));
}
}  // namespace
