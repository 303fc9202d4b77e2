# Writes OUTPUT, a C++ file that defines vx_stub_data and vx_stub_size from
# the bytes of INPUT (none when INPUT is empty: vxpack then asks for --stub).
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
file(WRITE "${OUTPUT}.new" "// Generated from the setup stub by embed_stub.cmake.\n#include <cstddef>\n"
  "extern const unsigned char vx_stub_data[] = {\n${bytes}};\nextern const std::size_t vx_stub_size = ${size};\n")
file(COPY_FILE "${OUTPUT}.new" "${OUTPUT}" ONLY_IF_DIFFERENT)
