# The RAR 2.0 decompressor: streams written with the compressor.
vx_add_test(unpack20_stream_test unpack20_stream_test.cpp LIBS vx_test_support)
