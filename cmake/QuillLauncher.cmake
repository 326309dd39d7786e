# Linking launcher executables: the stub, and launchers that carry payload entries as "FILE"
# resources (language 1033, upper-case names) for tests and samples.

add_library(quill_stub_resources OBJECT ${CMAKE_SOURCE_DIR}/resources/launcher.rc)
# The script names the manifest beside it, the icon that the build draws, and the English texts.
target_include_directories(quill_stub_resources PRIVATE ${CMAKE_SOURCE_DIR}/resources ${QUILL_ICON_DIR}
                           ${CMAKE_SOURCE_DIR})
add_dependencies(quill_stub_resources quill_icon)
set_source_files_properties(${CMAKE_SOURCE_DIR}/resources/launcher.rc PROPERTIES OBJECT_DEPENDS
  "${QUILL_ICON_DIR}/quill.ico;${QUILL_ICON_DIR}/launcher.min.manifest;${CMAKE_SOURCE_DIR}/launcher/english_texts.h")
add_library(quill_entry_point OBJECT ${CMAKE_SOURCE_DIR}/launcher/main_win32.cpp)
target_link_libraries(quill_entry_point PRIVATE quill_win32)
target_compile_options(quill_entry_point PRIVATE ${QUILL_LAUNCHER_CXX_FLAGS})
target_compile_options(quill_core PRIVATE ${QUILL_LAUNCHER_CXX_FLAGS})
target_compile_options(quill_win32 PRIVATE ${QUILL_LAUNCHER_CXX_FLAGS})

# quill_add_launcher(TARGET [RC payload.rc...])
function(quill_add_launcher target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "" "RC")
  add_executable(${target} WIN32 $<TARGET_OBJECTS:quill_entry_point>
                 $<TARGET_OBJECTS:quill_stub_resources> ${arg_RC})
  target_link_libraries(${target} PRIVATE quill_win32)
  target_link_options(${target} PRIVATE ${QUILL_LAUNCHER_LINK_FLAGS})
  set_target_properties(${target} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
endfunction()

# quill_add_payload_launcher(TARGET FILES file... [BASE dir]): a launcher carrying each file as
# an entry named by its path relative to BASE (default: its file name), encoded by the host qencode.
function(quill_add_payload_launcher target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "BASE" "FILES")
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}.payload.rc)
  set(rc_text "")
  set(entries)
  foreach(file ${arg_FILES})
    if(arg_BASE)
      file(RELATIVE_PATH name ${arg_BASE} ${file})
    else()
      get_filename_component(name ${file} NAME)
    endif()
    string(REPLACE "/" "\\\\" name "${name}")
    string(TOUPPER "${name}" name)
    string(MAKE_C_IDENTIFIER "${name}" id)
    set(entry ${CMAKE_CURRENT_BINARY_DIR}/${target}.entries/${id}.lzma)
    add_custom_command(OUTPUT ${entry}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/${target}.entries
      COMMAND ${QUILL_HOST_BIN}/qencode ${file} ${entry}
      DEPENDS ${file} VERBATIM)
    list(APPEND entries ${entry})
    # A LANGUAGE line before each entry keeps windres from joining adjacent string literals.
    string(APPEND rc_text "LANGUAGE 0x09, 0x01\n\"${name}\" FILE \"${entry}\"\n")
  endforeach()
  file(WRITE ${rc} "${rc_text}")
  set_source_files_properties(${rc} PROPERTIES OBJECT_DEPENDS "${entries}")
  quill_add_launcher(${target} RC ${rc})
endfunction()

# A script that links a launcher from a payload .rc at test time:
#   link-launcher.sh OUTPUT.exe PAYLOAD.rc
file(GENERATE OUTPUT ${CMAKE_BINARY_DIR}/link-launcher.sh
  CONTENT "#!/bin/sh\nset -e\nrc=\"$2\"\nobj=\"\${rc%.rc}.o\"\n${CMAKE_RC_COMPILER} -O coff -c 65001 \"$rc\" \"$obj\"\nexec ${CMAKE_CXX_COMPILER} -mwindows ${QUILL_LAUNCHER_LINK_FLAGS_STR} -o \"$1\" $<JOIN:$<TARGET_OBJECTS:quill_entry_point>, > $<JOIN:$<TARGET_OBJECTS:quill_stub_resources>, > \"$obj\" $<TARGET_FILE:quill_win32> $<TARGET_FILE:quill_core> ${QUILL_LZMA_PREFIX}/lib/liblzma.a\n"
  FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
