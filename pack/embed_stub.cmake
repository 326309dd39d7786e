# Writes the file INPUT as the C++ array NAME (with NAME##Size) into OUTPUT (cmake -P), and the
# Debian revision of xz-utils its liblzma was built from (the file REVISION) as NAME##Lzma.
file(READ ${INPUT} hex HEX)
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "((0x..,){24})" "\\1\n" bytes "${bytes}")
file(READ ${REVISION} revision)
string(STRIP "${revision}" revision)
file(WRITE ${OUTPUT}.new
  "// Generated from ${INPUT}.\n#include \"pack/embedded_stub.h\"\n\n"
  "extern const unsigned char ${NAME}[] = {\n${bytes}\n};\n"
  "extern const std::size_t ${NAME}Size = sizeof ${NAME};\n"
  "extern const char ${NAME}Lzma[] = \"${revision}\";\n")
file(RENAME ${OUTPUT}.new ${OUTPUT})
