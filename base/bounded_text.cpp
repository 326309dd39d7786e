#include "base/bounded_text.h"

#include <cstring>

bool CopyBounded(char* dst, std::size_t capacity, std::string_view text) {
  if (capacity == 0) return text.empty();
  const std::size_t n = text.size() < capacity ? text.size() : capacity - 1;
  if (n) std::memcpy(dst, text.data(), n);
  dst[n] = '\0';
  return n == text.size();
}

bool AppendBounded(char* dst, std::size_t capacity, std::string_view text) {
  const std::size_t used = BoundedLength(dst, capacity);
  if (used >= capacity || text.size() > capacity - used - 1) return false;
  if (!text.empty()) std::memcpy(dst + used, text.data(), text.size());
  dst[used + text.size()] = '\0';
  return true;
}

std::size_t BoundedLength(const char* text, std::size_t capacity) {
  const void* end = std::memchr(text, '\0', capacity);
  return end ? static_cast<std::size_t>(static_cast<const char*>(end) - text) : capacity;
}
