# The RAR 2.0 decompressor: streams written with the compressor's bit writer,
# and round trips of the compressor through the writer and extract_archive.
add_library(vx_decoder_testkit STATIC decode_harness.cpp)
target_include_directories(vx_decoder_testkit PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(vx_decoder_testkit PUBLIC vx_archive vx_support)

vx_add_test(unpack20_stream_test unpack20_stream_test.cpp LIBS vx_decoder_testkit vx_test_support)
vx_add_test(unpack20_roundtrip_test unpack20_roundtrip_test.cpp LIBS vx_decoder_testkit vx_test_support)
# A real binary of several megabytes for the round trips: the test library.
target_compile_definitions(unpack20_roundtrip_test PRIVATE VX_SAMPLE_BINARY="$<TARGET_FILE:gtest>"
                           VX_FUZZ_FINDINGS="${PROJECT_SOURCE_DIR}/fuzz/regressions/archives")
