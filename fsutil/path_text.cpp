#include "fsutil/path_text.h"

#include <cstring>

#include "base/bounded_text.h"

void AppendBackslash(char* path, std::size_t size) {
  if (!path || size == 0) return;
  const std::size_t length = BoundedLength(path, size);
  if (length == 0 || length >= size || path[length - 1] == '\\') return;
  if (length + 2 > size) return;
  path[length] = '\\';
  path[length + 1] = '\0';
}

void GetDirectoryPart(const char* path, char* out, std::size_t size) {
  if (size == 0) return;
  std::memset(out, 0, size);
  const std::size_t length = BoundedLength(path, size);
  if (length >= size) return;
  const char* last = std::strrchr(path, '\\');
  if (!last) return;
  std::memcpy(out, path, static_cast<std::size_t>(last - path) + 1);
}
