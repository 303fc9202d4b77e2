# The compressor, vxpack build and its package checks.
vx_add_test(build_test build_test.cpp LIBS vxpack_lib vx_test_support)
vx_add_test(pack20_roundtrip_test pack20_roundtrip_test.cpp LIBS vx_archive_writer vx_test_support)
