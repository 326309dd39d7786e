#include "pack/stream_encoder.h"

#include <lzma.h>

#include <memory>
#include <vector>

namespace {
struct StreamOwner {
  lzma_stream stream = LZMA_STREAM_INIT;
  ~StreamOwner() { lzma_end(&stream); }
};

// Runs `input` through the started encoder `stream` to its end, handing each piece of output to
// `sink`, in blocks of 1 MiB both ways.
bool Pump(std::FILE* input, lzma_stream* stream, const StreamSink& sink,
          const InputProgress& progress, EncodedStream* result, std::string* error) {
  constexpr std::size_t kBlock = 1 << 20;
  std::vector<std::uint8_t> in(kBlock), out(kBlock);
  bool finishing = false;
  for (;;) {
    if (stream->avail_in == 0 && !finishing) {
      const std::size_t n = std::fread(in.data(), 1, in.size(), input);
      if (n < in.size() && std::ferror(input)) {
        *error = "read error";
        return false;
      }
      result->inputSize += n;
      if (progress && n) progress(n);
      stream->next_in = in.data();
      stream->avail_in = n;
      finishing = n == 0;
    }
    stream->next_out = out.data();
    stream->avail_out = out.size();
    const lzma_ret ret = lzma_code(stream, finishing ? LZMA_FINISH : LZMA_RUN);
    const std::size_t produced = out.size() - stream->avail_out;
    if (produced) {
      if (!sink(out.data(), produced)) {
        *error = "could not store the compressed data";
        return false;
      }
      result->streamSize += produced;
    }
    if (ret == LZMA_STREAM_END) return true;
    if (ret != LZMA_OK) {
      *error = ret == LZMA_MEM_ERROR ? "out of memory while encoding" : "encoding failed";
      return false;
    }
  }
}
}  // namespace

bool EncodeStream(std::FILE* input, const EntryEncoding& encoding, const StreamSink& sink,
                  const InputProgress& progress, EncodedStream* result, std::string* error) {
  lzma_options_lzma options = {};
  if (!LzmaOptions(encoding, &options, error)) return false;
  // LZMA1EXT without flags leaves out the end marker: the header's size ends the stream.
  options.ext_flags = 0;
  options.ext_size_low = UINT32_MAX;
  options.ext_size_high = UINT32_MAX;
  const lzma_filter filters[] = {{LZMA_FILTER_LZMA1EXT, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
  StreamOwner owner;
  const lzma_ret started = lzma_raw_encoder(&owner.stream, filters);
  if (started != LZMA_OK) {
    *error = started == LZMA_MEM_ERROR ? "out of memory for the encoder"
                                       : "the encoder refused the settings";
    return false;
  }
  result->properties = JoinProperties(options.lc, options.lp, options.pb);
  result->dictionarySize = options.dict_size;
  result->inputSize = 0;
  result->streamSize = 0;
  return Pump(input, &owner.stream, sink, progress, result, error);
}

bool CompressionPays(const EncodedStream& stream) {
  // Whole entries compared, headers included, in integers: an empty file is stored.
  return (kEntryHeaderSize + stream.streamSize) * 100 <= (kEntryHeaderSize + stream.inputSize) * 98;
}

bool StoreStream(std::FILE* input, const StreamSink& sink, const InputProgress& progress,
                 EncodedStream* result, std::string* error) {
  *result = EncodedStream{};
  result->stored = true;
  result->properties = kStoredProperties;
  result->dictionarySize = kStoredDictionaryMagic;
  std::vector<std::uint8_t> block(kStoredChunkSize);
  for (;;) {
    const std::size_t n = std::fread(block.data(), 1, block.size(), input);
    if (n < block.size() && std::ferror(input)) {
      *error = "read error";
      return false;
    }
    if (n == 0) return true;
    if (!sink(block.data(), n)) {
      *error = "could not store the file's data";
      return false;
    }
    result->inputSize += n;
    result->streamSize += n;
    if (progress) progress(n);
  }
}

bool MakeEntryHeader(const EncodedStream& stream, std::uint8_t (&header)[kEntryHeaderSize],
                     std::string* error) {
  if (stream.inputSize >= kRefusedOutputSize ||
      stream.streamSize > 0xFFFFFFFFu - kAloneHeaderSize ||
      (stream.stored && stream.streamSize != stream.inputSize)) {
    *error = "file too large for a payload entry (the format holds less than 4 GiB)";
    return false;
  }
  WriteLe32(header, static_cast<std::uint32_t>(stream.streamSize + kAloneHeaderSize));
  header[4] = stream.stored ? kStoredProperties : stream.properties;
  WriteLe32(header + 5, stream.stored ? kStoredDictionaryMagic : stream.dictionarySize);
  WriteLe64(header + 9, stream.inputSize);
  return true;
}
