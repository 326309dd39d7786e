// The packaging side of the payload-entry format: a file streamed through liblzma's raw LZMA1
// encoder without an end marker (the header carries the real size), or stored as it is, and the
// 17-byte header that goes in front of the stream.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

#include "pack/entry_encoder.h"
#include "payload/entry_format.h"

struct EncodedStream {
  std::uint8_t properties = kDefaultProperties;
  std::uint32_t dictionarySize = kDefaultDictionarySize;
  std::uint64_t inputSize = 0;   // bytes read from the input
  std::uint64_t streamSize = 0;  // raw LZMA1 bytes handed to the sink, or the file's when stored
  bool stored = false;           // the entry holds the file as it is
};

// Which files an installer stores as they are: none, those that LZMA does not make at least 2 %
// smaller (the default), or all.
enum class StoreMode { kNever, kAuto, kAlways };

// Receives each piece of compressed output; answers false to stop the encoding (write failure).
using StreamSink = std::function<bool(const std::uint8_t* data, std::size_t size)>;
// Told after each block of input how many bytes were read in it.
using InputProgress = std::function<void(std::size_t bytes)>;

// Encodes everything `input` yields. Memory: the encoder's state and two 1 MiB buffers.
bool EncodeStream(std::FILE* input, const EntryEncoding& encoding, const StreamSink& sink,
                  const InputProgress& progress, EncodedStream* result, std::string* error);

// Whether the LZMA entry of `stream` is at least 2 % smaller than the stored entry of the same
// file would be; when it is not, unpacking the file as it is costs a copy instead of a decode.
bool CompressionPays(const EncodedStream& stream);

// Hands everything `input` yields to `sink` as a stored entry's data, in blocks of 1 MiB.
bool StoreStream(std::FILE* input, const StreamSink& sink, const InputProgress& progress,
                 EncodedStream* result, std::string* error);

// The entry header for `stream`; false (with `error`) when the sizes do not fit the format.
bool MakeEntryHeader(const EncodedStream& stream, std::uint8_t (&header)[kEntryHeaderSize],
                     std::string* error);
