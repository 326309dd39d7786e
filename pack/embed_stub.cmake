# Writes the file INPUT as the C++ array NAME (with NAME##Size) into OUTPUT (cmake -P).
file(READ ${INPUT} hex HEX)
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "((0x..,){24})" "\\1\n" bytes "${bytes}")
file(WRITE ${OUTPUT}.new
  "// Generated from ${INPUT}.\n#include \"pack/embedded_stub.h\"\n\n"
  "extern const unsigned char ${NAME}[] = {\n${bytes}\n};\n"
  "extern const std::size_t ${NAME}Size = sizeof ${NAME};\n")
file(RENAME ${OUTPUT}.new ${OUTPUT})
