# Fuzz targets of the decompressor (clang, libFuzzer, ASan + UBSan). The
# build directory is configured by scripts/fuzz-smoke.sh with the sanitizer
# flags for every library:
#   decoder_fuzz        arbitrary bytes as an archive through extract_archive
#                       with all three sinks
#   decoder_roundtrip_fuzz  arbitrary files through the compressor and back,
#                       and the same bytes decoded as a damaged stream
#   decoder_fuzz_seeds  writes seed corpora built with the writer and the
#                       compressor
if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  message(FATAL_ERROR "the fuzz targets need clang (CC=clang CXX=clang++)")
endif()

add_library(vx_fuzz_testkit STATIC ${PROJECT_SOURCE_DIR}/tests/test_support.cpp)
target_include_directories(vx_fuzz_testkit PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(vx_fuzz_testkit PUBLIC vx_archive_writer vx_archive vx_support)

add_executable(decoder_fuzz decoder_fuzz.cpp)
target_link_libraries(decoder_fuzz PRIVATE vx_fuzz_testkit)
target_link_options(decoder_fuzz PRIVATE -fsanitize=fuzzer)

add_executable(decoder_roundtrip_fuzz decoder_roundtrip_fuzz.cpp)
target_link_libraries(decoder_roundtrip_fuzz PRIVATE vx_fuzz_testkit)
target_link_options(decoder_roundtrip_fuzz PRIVATE -fsanitize=fuzzer)

add_executable(decoder_fuzz_seeds decoder_fuzz_seeds.cpp)
target_link_libraries(decoder_fuzz_seeds PRIVATE vx_fuzz_testkit)
