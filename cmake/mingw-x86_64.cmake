# Cross-compiling for 64-bit Windows (x64) with Debian's MinGW-w64: the 64-bit launcher.
set(QUILL_ARCH x64)
set(QUILL_MINGW_PREFIX x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
