#include "pack/stream_encoder.h"

#include <gtest/gtest.h>
#include <lzma.h>

#include <random>

#include "payload/entry_decoder.h"

namespace {
std::vector<std::uint8_t> Encode(const std::vector<std::uint8_t>& data,
                                 EntryEncoding encoding = {}) {
  std::FILE* in = std::tmpfile();
  std::fwrite(data.data(), 1, data.size(), in);
  std::rewind(in);
  std::vector<std::uint8_t> entry(kEntryHeaderSize);
  EncodedStream stream;
  std::string error;
  EXPECT_TRUE(EncodeStream(
      in, encoding,
      [&](const std::uint8_t* p, std::size_t n) {
        entry.insert(entry.end(), p, p + n);
        return true;
      },
      nullptr, &stream, &error))
      << error;
  std::fclose(in);
  std::uint8_t header[kEntryHeaderSize];
  EXPECT_TRUE(MakeEntryHeader(stream, header, &error));
  std::copy(header, header + kEntryHeaderSize, entry.begin());
  return entry;
}

TEST(StreamEncoder, LauncherDecoderRestoresEveryByte) {
  std::mt19937 rng(5);
  for (std::size_t size : {0u, 1u, 65535u, 65536u, 65537u, 300000u}) {
    std::vector<std::uint8_t> data(size);
    for (std::size_t i = 0; i < size; ++i) data[i] = static_cast<std::uint8_t>(i % 7 ? rng() : 'x');
    const std::vector<std::uint8_t> entry = Encode(data);
    EntryHeader header;
    ReadEntryHeader(entry, &header);
    EXPECT_EQ(header.properties, kDefaultProperties);
    EXPECT_EQ(header.dictionarySize, kDefaultDictionarySize);
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
    EXPECT_EQ(out, data) << size;
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
}
}  // namespace
