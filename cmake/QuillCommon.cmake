option(QUILL_BUILD_TESTS "Build the tests" ON)
option(QUILL_SANITIZE "Host build: AddressSanitizer and UndefinedBehaviorSanitizer" ON)
option(QUILL_FUZZ "Host build: the libFuzzer targets of tests/fuzz (clang)" OFF)

function(quill_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra)
endfunction()

if(WIN32)
  # The launcher: no exceptions or RTTI, small, static runtime so it needs no DLL of its own.
  # Its own code is not where time goes (liblzma is), so it is built for size; Windows guarantees
  # a 4-byte aligned stack to 32-bit code, and nothing here needs more.
  set(QUILL_LAUNCHER_CXX_FLAGS -Oz -mpreferred-stack-boundary=2 -fno-exceptions -fno-rtti
      -ffunction-sections -fno-asynchronous-unwind-tables -fno-unwind-tables)
  set(QUILL_LAUNCHER_LINK_FLAGS -static -Wl,--gc-sections -s)
  string(JOIN " " QUILL_LAUNCHER_LINK_FLAGS_STR ${QUILL_LAUNCHER_LINK_FLAGS})
  add_compile_options(-Os -ffunction-sections)
  add_link_options(-static)

  set(QUILL_LZMA_PREFIX ${CMAKE_BINARY_DIR}/liblzma)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
               ${CMAKE_SOURCE_DIR}/scripts/build-liblzma-win32.sh ${CMAKE_SOURCE_DIR}/cmake/xz-utils.sha256)
  execute_process(
    COMMAND ${CMAKE_SOURCE_DIR}/scripts/build-liblzma-win32.sh ${CMAKE_BINARY_DIR}/liblzma-src
            ${QUILL_LZMA_PREFIX}
    RESULT_VARIABLE lzma_result)
  if(NOT lzma_result EQUAL 0)
    message(FATAL_ERROR "building liblzma for Windows failed")
  endif()
  add_library(quill_lzma STATIC IMPORTED GLOBAL)
  set_target_properties(quill_lzma PROPERTIES IMPORTED_LOCATION ${QUILL_LZMA_PREFIX}/lib/liblzma.a)
  target_include_directories(quill_lzma INTERFACE ${QUILL_LZMA_PREFIX}/include)
  target_compile_definitions(quill_lzma INTERFACE LZMA_API_STATIC)

  # quillpack.exe compresses: a second build of the same source, with the encoders.
  set(QUILL_LZMA_FULL_PREFIX ${CMAKE_BINARY_DIR}/liblzma-full)
  execute_process(
    COMMAND ${CMAKE_SOURCE_DIR}/scripts/build-liblzma-win32.sh ${CMAKE_BINARY_DIR}/liblzma-full-src
            ${QUILL_LZMA_FULL_PREFIX} full
    RESULT_VARIABLE lzma_result)
  if(NOT lzma_result EQUAL 0)
    message(FATAL_ERROR "building the full liblzma for Windows failed")
  endif()
  add_library(quill_lzma_full STATIC IMPORTED GLOBAL)
  set_target_properties(quill_lzma_full PROPERTIES IMPORTED_LOCATION ${QUILL_LZMA_FULL_PREFIX}/lib/liblzma.a)
  target_include_directories(quill_lzma_full INTERFACE ${QUILL_LZMA_FULL_PREFIX}/include)
  target_compile_definitions(quill_lzma_full INTERFACE LZMA_API_STATIC)
else()
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(LZMA REQUIRED IMPORTED_TARGET liblzma)
  add_library(quill_lzma INTERFACE)
  target_link_libraries(quill_lzma INTERFACE PkgConfig::LZMA)
  if(QUILL_SANITIZE)
    add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
    add_link_options(-fsanitize=address,undefined)
  endif()
  if(QUILL_FUZZ)
    # Coverage for libFuzzer in every object; only the fuzz targets link its main.
    add_compile_options(-fsanitize=fuzzer-no-link)
  endif()
endif()
