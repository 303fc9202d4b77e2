# Decode speed of the RAR 2.0 decompressor beside zlib's inflate and
# libdeflate on the same payload (native only, -DVX_BENCH=ON).
find_package(ZLIB REQUIRED)
find_library(LIBDEFLATE_LIBRARY NAMES deflate REQUIRED)
find_path(LIBDEFLATE_INCLUDE_DIR libdeflate.h REQUIRED)

add_executable(decode_bench decode_bench.cpp
  ${PROJECT_SOURCE_DIR}/tests/bit_writer.cpp
  ${PROJECT_SOURCE_DIR}/tests/greedy_packer.cpp)
target_include_directories(decode_bench PRIVATE ${PROJECT_SOURCE_DIR} ${LIBDEFLATE_INCLUDE_DIR})
target_link_libraries(decode_bench PRIVATE vx_archive_writer vx_archive vx_support ZLIB::ZLIB ${LIBDEFLATE_LIBRARY})

# The same measurement with the literal step-by-step decoder of the tests
# linked in place of the decompressor: the speed before any shortcut.
add_executable(decode_bench_literal decode_bench.cpp literal_decoder_shim.cpp
  ${PROJECT_SOURCE_DIR}/tests/bit_writer.cpp
  ${PROJECT_SOURCE_DIR}/tests/greedy_packer.cpp
  ${PROJECT_SOURCE_DIR}/tests/reference_unpack20.cpp)
target_compile_definitions(decode_bench_literal PRIVATE VX_BENCH_LITERAL=1)
target_include_directories(decode_bench_literal PRIVATE ${PROJECT_SOURCE_DIR} ${LIBDEFLATE_INCLUDE_DIR})
target_link_libraries(decode_bench_literal PRIVATE vx_archive_writer vx_archive vx_support ZLIB::ZLIB ${LIBDEFLATE_LIBRARY})
