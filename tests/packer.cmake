# vxpack: build with its package checks, list, test, extract.
vx_add_test(vxpack_test vxpack_test.cpp LIBS vxpack_lib vx_test_support)
