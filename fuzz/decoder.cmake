# Fuzz targets of the decompressor (clang, libFuzzer, ASan + UBSan). The
# build directory is configured by scripts/fuzz-smoke.sh with the sanitizer
# flags for every library:
#   decoder_fuzz        arbitrary bytes as an archive through extract_archive
#                       with all three sinks
#   decoder_diff_fuzz   arbitrary packed streams through the fast decoder and
#                       the literal reference; any difference is a finding
#   decoder_fuzz_seeds  writes seed corpora built with the writer and the
#                       compressor
if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  message(FATAL_ERROR "the fuzz targets need clang (CC=clang CXX=clang++)")
endif()

add_library(vx_fuzz_testkit STATIC ${PROJECT_SOURCE_DIR}/tests/reference_unpack20.cpp
                                   ${PROJECT_SOURCE_DIR}/tests/decode_harness.cpp)
target_include_directories(vx_fuzz_testkit PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(vx_fuzz_testkit PUBLIC vx_archive vx_support)

add_executable(decoder_fuzz decoder_fuzz.cpp)
target_link_libraries(decoder_fuzz PRIVATE vx_archive vx_support)
target_link_options(decoder_fuzz PRIVATE -fsanitize=fuzzer)

add_executable(decoder_diff_fuzz decoder_diff_fuzz.cpp)
target_link_libraries(decoder_diff_fuzz PRIVATE vx_fuzz_testkit)
target_link_options(decoder_diff_fuzz PRIVATE -fsanitize=fuzzer)

add_executable(decoder_fuzz_seeds decoder_fuzz_seeds.cpp)
target_link_libraries(decoder_fuzz_seeds PRIVATE vx_archive_writer)
