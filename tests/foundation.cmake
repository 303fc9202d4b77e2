# The support layer, and the archive reader and writer.
vx_add_test(reader_test reader_test.cpp LIBS vx_test_support)
