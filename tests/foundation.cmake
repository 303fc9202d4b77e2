# The support layer, the archive reader and writer, vxpack's read commands.
vx_add_test(support_test support_test.cpp LIBS vx_test_support)
vx_add_test(extract_test extract_test.cpp LIBS vx_test_support)
vx_add_test(vxpack_read_test vxpack_read_test.cpp LIBS vxpack_lib vx_test_support)
