#include "pack/entry_encoder.h"

#include "payload/entry_format.h"

namespace {
// Streams input through a raw LZMA1 encoder and appends its output to `entry`, behind room for
// the 17-byte header, which is filled once the sizes are known.
class RawEncoder {
 public:
  ~RawEncoder() { lzma_end(&stream_); }

  bool Start(const EntryEncoding& encoding, lzma_options_lzma* options, std::string* error) {
    if (!LzmaOptions(encoding, options, error)) return false;
    const lzma_filter filters[] = {{LZMA_FILTER_LZMA1, options}, {LZMA_VLI_UNKNOWN, nullptr}};
    const lzma_ret ret = lzma_raw_encoder(&stream_, filters);
    if (ret != LZMA_OK) {
      *error = ret == LZMA_MEM_ERROR ? "out of memory" : "the encoder refused the settings";
      return false;
    }
    return true;
  }

  bool Feed(const std::uint8_t* data, std::size_t size, bool finish, std::vector<std::uint8_t>* out,
            std::string* error) {
    stream_.next_in = data;
    stream_.avail_in = size;
    for (;;) {
      std::uint8_t buffer[1 << 16];
      stream_.next_out = buffer;
      stream_.avail_out = sizeof buffer;
      const lzma_ret ret = lzma_code(&stream_, finish ? LZMA_FINISH : LZMA_RUN);
      out->insert(out->end(), buffer, buffer + (sizeof buffer - stream_.avail_out));
      if (ret == LZMA_STREAM_END) return true;
      if (ret != LZMA_OK) {
        *error = "encoding failed";
        return false;
      }
      if (!finish && stream_.avail_in == 0 && stream_.avail_out != 0) return true;
    }
  }

 private:
  lzma_stream stream_ = LZMA_STREAM_INIT;
};

bool FinishEntry(const lzma_options_lzma& options, std::uint64_t decodedSize,
                 std::vector<std::uint8_t>* entry, std::string* error) {
  const std::size_t streamLength = entry->size() - kStreamLengthFieldSize;
  if (streamLength > 0xFFFFFFFFu || decodedSize >= kRefusedOutputSize) {
    *error = "file too large for a payload entry";
    return false;
  }
  std::uint8_t* header = entry->data();
  WriteLe32(header, static_cast<std::uint32_t>(streamLength));
  header[4] = JoinProperties(options.lc, options.lp, options.pb);
  WriteLe32(header + 5, options.dict_size);
  WriteLe64(header + 9, decodedSize);
  return true;
}
}  // namespace

bool LzmaOptions(const EntryEncoding& encoding, lzma_options_lzma* options, std::string* error) {
  const std::uint32_t preset =
      static_cast<std::uint32_t>(encoding.preset) | (encoding.extreme ? LZMA_PRESET_EXTREME : 0);
  if (encoding.preset < 0 || encoding.preset > 9 || lzma_lzma_preset(options, preset)) {
    *error = "unsupported preset";
    return false;
  }
  if (encoding.lc >= 0) options->lc = static_cast<std::uint32_t>(encoding.lc);
  if (encoding.lp >= 0) options->lp = static_cast<std::uint32_t>(encoding.lp);
  if (encoding.pb >= 0) options->pb = static_cast<std::uint32_t>(encoding.pb);
  if (encoding.dictionarySize) options->dict_size = encoding.dictionarySize;
  return true;
}

bool EncodeEntry(const std::uint8_t* data, std::size_t size, const EntryEncoding& encoding,
                 std::vector<std::uint8_t>* entry, std::string* error) {
  entry->assign(kEntryHeaderSize, 0);
  lzma_options_lzma options;
  RawEncoder encoder;
  if (!encoder.Start(encoding, &options, error)) return false;
  if (!encoder.Feed(data, size, true, entry, error)) return false;
  return FinishEntry(options, size, entry, error);
}

bool EncodeEntryFromFile(std::FILE* input, const EntryEncoding& encoding,
                         std::vector<std::uint8_t>* entry, std::string* error) {
  entry->assign(kEntryHeaderSize, 0);
  lzma_options_lzma options;
  RawEncoder encoder;
  if (!encoder.Start(encoding, &options, error)) return false;
  std::vector<std::uint8_t> chunk(1 << 20);
  std::uint64_t total = 0;
  for (;;) {
    const std::size_t n = std::fread(chunk.data(), 1, chunk.size(), input);
    if (n == 0 && std::ferror(input)) {
      *error = "read error";
      return false;
    }
    total += n;
    const bool last = n < chunk.size() && (std::feof(input) || n == 0);
    if (!encoder.Feed(chunk.data(), n, last, entry, error)) return false;
    if (last) break;
  }
  return FinishEntry(options, total, entry, error);
}
