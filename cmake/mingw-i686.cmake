# Cross-compiling for 32-bit Windows (x86) with Debian's MinGW-w64: the launcher as specified.
set(QUILL_ARCH x86)
set(QUILL_MINGW_PREFIX i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
