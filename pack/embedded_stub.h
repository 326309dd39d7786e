// The launcher stub built into quillpack: build/win32/quillstub.exe, embedded at build time.
#pragma once

#include <cstddef>

extern const unsigned char kEmbeddedStub[];
extern const std::size_t kEmbeddedStubSize;
