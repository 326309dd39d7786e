#include "base/format_name.h"

namespace {
struct Writer {
  char* out;
  std::size_t capacity;
  std::size_t used;
  LeadBytePredicate isLeadByte;
  bool cut;

  // Appends `text`, stopping before the first character that would not fit whole.
  void Put(const char* text) {
    for (const char* p = text; *p && !cut; ++p) {
      const bool pair = isLeadByte && isLeadByte(static_cast<unsigned char>(*p)) && p[1];
      const std::size_t width = pair ? 2 : 1;
      if (used + width >= capacity) {
        cut = true;
        break;
      }
      out[used++] = *p;
      if (pair) out[used++] = *++p;
    }
  }
};
}  // namespace

int FormatWithName(const char* format, const char* name, char* out, std::size_t capacity,
                   LeadBytePredicate isLeadByte) {
  if (capacity == 0) return 0;
  Writer w{out, capacity, 0, isLeadByte, false};
  const char one[2] = {0, 0};
  for (const char* p = format; *p && !w.cut; ++p) {
    if (p[0] == '%' && p[1] == 's') {
      w.Put(name);
      ++p;
    } else if (p[0] == '%' && p[1] == '%') {
      w.Put("%");
      ++p;
    } else {
      const bool pair = isLeadByte && isLeadByte(static_cast<unsigned char>(*p)) && p[1];
      char piece[3] = {p[0], pair ? p[1] : one[0], 0};
      w.Put(piece);
      if (pair) ++p;
    }
  }
  out[w.used] = '\0';
  return w.cut ? 0 : 1;
}
