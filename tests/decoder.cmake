# The RAR 2.0 decompressor and the compressor: streams decoded as before, and
# round trips at every level.
vx_add_test(unpack20_stream_test unpack20_stream_test.cpp LIBS vx_test_support)
