# The RAR 2.0 decompressor: crafted streams, the fast decoder against the
# literal reference on random and mutated streams, and round trips of the
# greedy compressor through the writer and extract_archive.
add_library(vx_decoder_testkit STATIC bit_writer.cpp greedy_packer.cpp reference_unpack20.cpp decode_harness.cpp)
target_include_directories(vx_decoder_testkit PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(vx_decoder_testkit PUBLIC vx_archive vx_support)

vx_add_test(unpack20_stream_test unpack20_stream_test.cpp LIBS vx_decoder_testkit vx_test_support)
vx_add_test(unpack20_differential_test unpack20_differential_test.cpp LIBS vx_decoder_testkit vx_test_support)
vx_add_test(unpack20_roundtrip_test unpack20_roundtrip_test.cpp LIBS vx_decoder_testkit vx_test_support)
# A real binary of several megabytes for the round trips: the test library.
target_compile_definitions(unpack20_roundtrip_test PRIVATE VX_SAMPLE_BINARY="$<TARGET_FILE:gtest>"
                           VX_FUZZ_FINDINGS="${PROJECT_SOURCE_DIR}/fuzz/regressions/archives")
