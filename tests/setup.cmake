# The setup program: its pure logic on both platforms; under Wine also the
# dialog on its real template, the stub's size and imports, the sample
# Setup.exe started as a process in three UI languages, and the uninstaller.
vx_add_test(setup_logic_test setup_logic_test.cpp LIBS vx_setup_logic vx_test_support)

if(NOT WIN32)
  return()
endif()

vx_add_test(setup_dialog_test setup_dialog_test.cpp ${VX_SETUP_RESOURCES} LIBS vx_setup vx_test_support comctl32)
target_compile_definitions(setup_dialog_test PRIVATE VX_STUB_PATH="$<TARGET_FILE:vxstub>"
                           VX_FOOTOOL_PATH="$<TARGET_FILE:FooTool>")
target_include_directories(setup_dialog_test PRIVATE ${PROJECT_SOURCE_DIR}/setup)
add_dependencies(setup_dialog_test vxstub FooTool)
