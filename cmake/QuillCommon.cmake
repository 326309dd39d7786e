option(QUILL_BUILD_TESTS "Build the tests" ON)
option(QUILL_SANITIZE "Host build: AddressSanitizer and UndefinedBehaviorSanitizer" ON)
option(QUILL_FUZZ "Host build: the libFuzzer targets of tests/fuzz (clang)" OFF)

function(quill_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra)
endfunction()

if(WIN32)
  # Flags that differ by architecture, all of them here. Windows guarantees 32-bit code a 4-byte
  # aligned stack and nothing in the launcher needs more, so the x86 build saves the realignment;
  # x64 code has a 16-byte aligned stack by its calling convention, and the option does not exist.
  if(QUILL_ARCH STREQUAL x86)
    set(QUILL_ARCH_LAUNCHER_FLAGS -mpreferred-stack-boundary=2)
  elseif(QUILL_ARCH STREQUAL x64)
    set(QUILL_ARCH_LAUNCHER_FLAGS)
  else()
    message(FATAL_ERROR "QUILL_ARCH is '${QUILL_ARCH}': configure with cmake/mingw-i686.cmake or "
                        "cmake/mingw-x86_64.cmake as the toolchain file")
  endif()

  # The launcher: no exceptions or RTTI, small, static runtime so it needs no DLL of its own.
  # Its own code is not where time goes (liblzma is), so it is built for size.
  set(QUILL_LAUNCHER_CXX_FLAGS -Oz ${QUILL_ARCH_LAUNCHER_FLAGS} -fno-exceptions -fno-rtti
      -ffunction-sections -fno-asynchronous-unwind-tables -fno-unwind-tables)
  set(QUILL_LAUNCHER_LINK_FLAGS -static -Wl,--gc-sections -s)
  string(JOIN " " QUILL_LAUNCHER_LINK_FLAGS_STR ${QUILL_LAUNCHER_LINK_FLAGS})
  add_compile_options(-Os -ffunction-sections)
  add_link_options(-static)

else()
  if(QUILL_SANITIZE)
    add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
    add_link_options(-fsanitize=address,undefined)
  endif()
  if(QUILL_FUZZ)
    # Coverage for libFuzzer in every object; only the fuzz targets link its main.
    add_compile_options(-fsanitize=fuzzer-no-link)
  endif()
endif()

# liblzma from Debian's xz-utils source, the one revision every build uses (cmake/xz-utils.sha256),
# so that quillpack encodes the same bytes on Linux and Windows and the tests and fuzzers exercise
# the decoder the launcher carries. quill_lzma is what quill_core links: on Windows the launcher's
# decoder-only build, on the host the full one. quill_lzma_full (with the encoder) is quillpack's.
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
             ${CMAKE_SOURCE_DIR}/scripts/build-liblzma.sh ${CMAKE_SOURCE_DIR}/scripts/fetch-xz-source.sh
             ${CMAKE_SOURCE_DIR}/cmake/xz-utils.sha256)
function(quill_build_liblzma target dir mode)
  set(prefix ${CMAKE_BINARY_DIR}/${dir})
  if(WIN32)
    set(triple ${QUILL_MINGW_PREFIX})
  else()
    set(triple native)
  endif()
  execute_process(
    COMMAND ${CMAKE_SOURCE_DIR}/scripts/build-liblzma.sh ${CMAKE_C_COMPILER} ${triple}
            ${CMAKE_BINARY_DIR}/${dir}-src ${prefix} ${mode}
    RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "building liblzma (${mode}) for ${triple} failed")
  endif()
  add_library(${target} STATIC IMPORTED GLOBAL)
  set_target_properties(${target} PROPERTIES IMPORTED_LOCATION ${prefix}/lib/liblzma.a)
  target_include_directories(${target} INTERFACE ${prefix}/include)
  target_compile_definitions(${target} INTERFACE LZMA_API_STATIC)
  file(READ ${prefix}/xz-utils-revision revision)
  string(STRIP "${revision}" revision)
  set_target_properties(${target} PROPERTIES QUILL_XZ_REVISION "${revision}")
endfunction()
if(WIN32)
  quill_build_liblzma(quill_lzma liblzma launcher)
  set(QUILL_LZMA_PREFIX ${CMAKE_BINARY_DIR}/liblzma)
  quill_build_liblzma(quill_lzma_full liblzma-full full)
else()
  quill_build_liblzma(quill_lzma_full liblzma-full full)
  add_library(quill_lzma ALIAS quill_lzma_full)
endif()
