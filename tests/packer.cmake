# The compressor, and vxpack: build with its package checks, list, test, extract.
vx_add_test(vxpack_test vxpack_test.cpp LIBS vxpack_lib vx_test_support)
vx_add_test(pack20_roundtrip_test pack20_roundtrip_test.cpp LIBS vx_archive_writer vx_test_support)
