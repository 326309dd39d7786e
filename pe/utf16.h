// Text as Windows keeps it in resources: UTF-16, converted from and to the UTF-8 that quillpack
// works in, and upper-cased the way the resource lookup compares names.
#pragma once

#include <string>
#include <string_view>

// Strict UTF-8 (no overlong forms, no surrogates) to UTF-16; false when `text` is not that.
bool Utf8ToUtf16(std::string_view text, std::u16string* out);
std::string Utf16ToUtf8(std::u16string_view text);

// Upper case as Windows' resource lookup applies it, for the characters whose mapping this tool
// knows (ASCII, Latin-1, Greek, Cyrillic, full-width Latin, and scripts without case).
char16_t UpcaseUtf16(char16_t c);
bool HasKnownCase(char16_t c);
