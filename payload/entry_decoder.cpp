#include "payload/entry_decoder.h"

#include <cstdlib>

EntryDecoder::~EntryDecoder() {
  if (started_) lzma_end(&stream_);
}

DecoderSetup EntryDecoder::Start(const EntryHeader& header,
                                 std::span<const std::uint8_t> compressed,
                                 const lzma_allocator* allocator) {
  const LzmaLiteralPosition split = SplitProperties(header.properties);
  lzma_options_lzma options = {};
  options.dict_size = header.dictionarySize;
  options.lc = split.lc;
  options.lp = split.lp;
  options.pb = split.pb;
  const lzma_filter filters[] = {{LZMA_FILTER_LZMA1, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
  stream_.allocator = allocator;
  const lzma_ret ret = lzma_raw_decoder(&stream_, filters);
  if (ret != LZMA_OK) {
    lzma_end(&stream_);
    return ret == LZMA_MEM_ERROR ? DecoderSetup::kOutOfMemory : DecoderSetup::kRefused;
  }
  started_ = true;
  stream_.next_in = compressed.data();
  stream_.avail_in = compressed.size();
  return DecoderSetup::kReady;
}

DecodeStatus EntryDecoder::Read(std::span<std::uint8_t> out, std::size_t* produced) {
  *produced = 0;
  if (!started_) return DecodeStatus::kCorrupt;
  if (ended_ || out.empty()) return DecodeStatus::kOk;
  stream_.next_out = out.data();
  stream_.avail_out = out.size();
  while (stream_.avail_out > 0) {
    const std::size_t outBefore = stream_.avail_out;
    const std::size_t inBefore = stream_.avail_in;
    const lzma_ret ret = lzma_code(&stream_, LZMA_FINISH);
    if (ret == LZMA_STREAM_END) {
      ended_ = true;
      break;
    }
    if (ret == LZMA_MEM_ERROR) return DecodeStatus::kOutOfMemory;
    if (ret != LZMA_OK) return DecodeStatus::kCorrupt;
    // No progress with all input consumed: the data ran out before the request was filled.
    if (stream_.avail_out == outBefore && stream_.avail_in == inBefore) {
      return DecodeStatus::kCorrupt;
    }
  }
  *produced = out.size() - stream_.avail_out;
  return DecodeStatus::kOk;
}

namespace {
// A stored entry holds exactly the file: what its header says must agree with that.
EntryOutcome PrepareStored(std::span<const std::uint8_t> entry, EntryDecodePlan* plan) {
  const EntryHeader& header = plan->header;
  if (!StreamLengthInRange(header.streamLength, entry.size()) ||
      header.outputSize != header.streamLength - kAloneHeaderSize) {
    return EntryOutcome::kCorrupt;
  }
  plan->compressed = entry.subspan(kEntryHeaderSize, header.streamLength - kAloneHeaderSize);
  plan->outputSize = static_cast<std::uint32_t>(header.outputSize);
  plan->stored = true;
  return EntryOutcome::kComplete;
}
}  // namespace

EntryOutcome PrepareEntry(std::span<const std::uint8_t> entry, EntryDecoder* decoder,
                          EntryDecodePlan* plan, const lzma_allocator* allocator) {
  const std::size_t present = ReadEntryHeader(entry, &plan->header);
  // Without the properties byte there is not even a length to check: a corrupt entry.
  if (present < kStreamLengthFieldSize + 1) return EntryOutcome::kCorrupt;
  if (plan->header.properties >= kPropertiesLimit) {
    return IsStoredHeader(plan->header) ? PrepareStored(entry, plan) : EntryOutcome::kBadProperties;
  }
  if (!StreamLengthInRange(plan->header.streamLength, entry.size())) {
    return EntryOutcome::kCorrupt;
  }
  plan->compressed = entry.subspan(kEntryHeaderSize, plan->header.streamLength - kAloneHeaderSize);
  switch (decoder->Start(plan->header, plan->compressed, allocator)) {
    case DecoderSetup::kReady:
      break;
    case DecoderSetup::kOutOfMemory:
      return EntryOutcome::kOutOfMemory;
    case DecoderSetup::kRefused:
      return EntryOutcome::kCorrupt;
  }
  plan->outputSize = static_cast<std::uint32_t>(plan->header.outputSize);
  if (plan->outputSize == kRefusedOutputSize) return EntryOutcome::kCorrupt;
  return EntryOutcome::kComplete;
}

OutputBuffer::OutputBuffer() : data(static_cast<std::uint8_t*>(std::malloc(kOutputChunkSize))) {}

OutputBuffer::~OutputBuffer() { std::free(data); }
