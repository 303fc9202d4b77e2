# The support layer and the archive reader and writer.
vx_add_test(support_test support_test.cpp LIBS vx_test_support)
vx_add_test(extract_test extract_test.cpp LIBS vx_test_support)
