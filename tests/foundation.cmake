# The support layer, the archive reader and writer, vxpack's read commands.
vx_add_test(support_test support_test.cpp LIBS vx_test_support)
