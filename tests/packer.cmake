# The compressor, vxpack build and its package checks.
vx_add_test(package_test package_test.cpp LIBS vxpack_lib vx_test_support)
vx_add_test(build_test build_test.cpp LIBS vxpack_lib vx_test_support)
# The signing test needs a real PE image in front of the archive: the stub
# given to the build, or a small program that Wine ships.
if(NOT CMAKE_CROSSCOMPILING)
  find_file(VX_TEST_PE_STUB hostname.exe PATHS /usr/lib/x86_64-linux-gnu/wine/x86_64-windows NO_DEFAULT_PATH)
  if(VX_STUB AND EXISTS "${VX_STUB}")
    target_compile_definitions(build_test PRIVATE VX_TEST_PE_STUB="${VX_STUB}")
  elseif(VX_TEST_PE_STUB)
    target_compile_definitions(build_test PRIVATE VX_TEST_PE_STUB="${VX_TEST_PE_STUB}")
  endif()
endif()
vx_add_test(pack20_roundtrip_test pack20_roundtrip_test.cpp LIBS vx_archive_writer vx_test_support)
