# Writes OUTPUT, a C++ file that defines NAME_data and NAME_size (NAME
# vx_stub unless given) from the bytes of INPUT (none when INPUT is empty:
# vxpack then asks for --stub, or adds no uninstaller).
if(NOT NAME)
  set(NAME vx_stub)
endif()
if(INPUT AND EXISTS "${INPUT}")
  file(READ "${INPUT}" hex HEX)
  string(LENGTH "${hex}" digits)
  math(EXPR size "${digits} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  string(REGEX REPLACE "(0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,)" "\\1\n" bytes "${bytes}")
else()
  set(size 0)
  set(bytes "0")
endif()
file(WRITE "${OUTPUT}.new" "// Generated from ${NAME} by embed_stub.cmake.\n#include <cstddef>\n"
  "extern const unsigned char ${NAME}_data[] = {\n${bytes}};\nextern const std::size_t ${NAME}_size = ${size};\n")
file(COPY_FILE "${OUTPUT}.new" "${OUTPUT}" ONLY_IF_DIFFERENT)
