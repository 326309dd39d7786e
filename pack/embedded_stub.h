// The launcher stubs built into quillpack: build/win32/quillstub.exe (x86, the default) and
// build/win64/quillstub.exe (x64), embedded at build time, each with the Debian revision of
// xz-utils that its liblzma decoder was built from.
#pragma once

#include <cstddef>

extern const unsigned char kEmbeddedStubX86[];
extern const std::size_t kEmbeddedStubX86Size;
extern const unsigned char kEmbeddedStubX64[];
extern const std::size_t kEmbeddedStubX64Size;
extern const char kEmbeddedStubX86Lzma[];
extern const char kEmbeddedStubX64Lzma[];
