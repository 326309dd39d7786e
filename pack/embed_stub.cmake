# Writes the file INPUT as the C++ array kEmbeddedStub into OUTPUT (cmake -P).
file(READ ${INPUT} hex HEX)
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "((0x..,){24})" "\\1\n" bytes "${bytes}")
file(WRITE ${OUTPUT}.new
  "// Generated from ${INPUT}.\n#include \"pack/embedded_stub.h\"\n\n"
  "extern const unsigned char kEmbeddedStub[] = {\n${bytes}\n};\n"
  "extern const std::size_t kEmbeddedStubSize = sizeof kEmbeddedStub;\n")
file(RENAME ${OUTPUT}.new ${OUTPUT})
