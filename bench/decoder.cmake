# Decode speed of the RAR 2.0 decompressor beside zlib's inflate and
# libdeflate on the same payload (native only, -DVX_BENCH=ON).
find_package(ZLIB REQUIRED)
find_library(LIBDEFLATE_LIBRARY NAMES deflate REQUIRED)
find_path(LIBDEFLATE_INCLUDE_DIR libdeflate.h REQUIRED)

add_executable(decode_bench decode_bench.cpp)
target_include_directories(decode_bench PRIVATE ${PROJECT_SOURCE_DIR} ${LIBDEFLATE_INCLUDE_DIR})
target_link_libraries(decode_bench PRIVATE vx_archive_writer vx_archive vx_support ZLIB::ZLIB ${LIBDEFLATE_LIBRARY})
