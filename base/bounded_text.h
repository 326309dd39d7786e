// Bounded writes into fixed-size text buffers.
//
// Every fixed buffer of the launcher is written through these helpers, so that the bound is
// enforced where the write happens. Each helper always leaves a zero-terminated string behind (when
// the capacity is at least 1) and reports whether the whole text fitted.
#pragma once

#include <cstddef>
#include <string_view>

// Replaces the text in `dst` (capacity bytes, terminator included) with `text`.
// Returns true when all of `text` fitted; otherwise `dst` holds the longest prefix that fits.
bool CopyBounded(char* dst, std::size_t capacity, std::string_view text);

// Appends `text` to the zero-terminated text in `dst`. Returns true when all of it fitted;
// otherwise `dst` is left unchanged (no partial append), which suits path composition.
bool AppendBounded(char* dst, std::size_t capacity, std::string_view text);

template <std::size_t N>
bool CopyBounded(char (&dst)[N], std::string_view text) {
  return CopyBounded(dst, N, text);
}

template <std::size_t N>
bool AppendBounded(char (&dst)[N], std::string_view text) {
  return AppendBounded(dst, N, text);
}

// Length of the zero-terminated text in `text`, looking at no more than `capacity` bytes.
std::size_t BoundedLength(const char* text, std::size_t capacity);
