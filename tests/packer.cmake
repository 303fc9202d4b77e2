# The compressor, vxpack build and its package checks.
vx_add_test(package_test package_test.cpp LIBS vxpack_lib vx_test_support)
vx_add_test(build_test build_test.cpp LIBS vxpack_lib vx_test_support)
# The signing test needs the real stub in front of the archive: the one given
# to the build.
if(NOT CMAKE_CROSSCOMPILING AND VX_STUB AND EXISTS "${VX_STUB}")
  target_compile_definitions(build_test PRIVATE VX_TEST_PE_STUB="${VX_STUB}")
endif()
vx_add_test(pack20_roundtrip_test pack20_roundtrip_test.cpp LIBS vx_archive_writer vx_test_support)
