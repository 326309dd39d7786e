// Encoding files as payload entries: the 4-byte length, the 13-byte LZMA-alone header with the
// real decoded size, and raw LZMA1 data. liblzma's raw LZMA1 encoder ends the data with an end
// marker; the launcher stops at the decoded size and never reads it.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include <lzma.h>

struct EntryEncoding {
  int preset = 6;                 // LZMA preset 0..9; the shipped package uses 6 (8 MiB dictionary)
  bool extreme = false;           // the "e" variants of the presets
  int lc = -1, lp = -1, pb = -1;  // -1: the preset's value
  std::uint32_t dictionarySize = 0;  // 0: the preset's value
};

// liblzma's LZMA1 options for `encoding`: its preset's, with lc, lp, pb and the dictionary size
// changed where `encoding` says. False, with the reason, for a preset liblzma does not have.
bool LzmaOptions(const EntryEncoding& encoding, lzma_options_lzma* options, std::string* error);

// Encodes `data` as one entry. Returns false (with `error`) when the encoder refuses the settings.
bool EncodeEntry(const std::uint8_t* data, std::size_t size, const EntryEncoding& encoding,
                 std::vector<std::uint8_t>* entry, std::string* error);

// The same for a file, read as a stream: memory stays bounded by the encoder's needs.
bool EncodeEntryFromFile(std::FILE* input, const EntryEncoding& encoding,
                         std::vector<std::uint8_t>* entry, std::string* error);
