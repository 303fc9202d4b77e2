# The RAR 2.0 decompressor: streams written with the compressor's bit writer.
add_library(vx_decoder_testkit STATIC decode_harness.cpp)
target_include_directories(vx_decoder_testkit PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(vx_decoder_testkit PUBLIC vx_archive vx_support)

vx_add_test(unpack20_stream_test unpack20_stream_test.cpp LIBS vx_decoder_testkit vx_test_support)
