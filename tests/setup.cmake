# The setup program: its pure logic on both platforms; under Wine also the
# dialog on its real template, the stub's size and imports, the sample
# Setup.exe started as a process in three UI languages, and the standard
# uninstaller.
vx_add_test(setup_logic_test setup_logic_test.cpp LIBS vx_setup_logic vx_test_support)

if(NOT WIN32)
  return()
endif()

# The Group rule once more in a double-byte code page (Wine takes it from LANG).
add_test(NAME setup_logic_test_shift_jis COMMAND setup_logic_test --gtest_filter=InstallNames.GroupKeeps*)
set_tests_properties(setup_logic_test_shift_jis PROPERTIES ENVIRONMENT "LANG=ja_JP.UTF-8;LC_ALL=ja_JP.UTF-8"
                     SKIP_REGULAR_EXPRESSION "\\[  SKIPPED \\]")

# The sample Setup.exe started as a process in the three UI languages (Wine
# takes the system language from LANG); screenshots go to build/.../artifacts.
# The test reads the lines the probe prints: title, Cancel button, language
# count and exit code; any complaint of the probe fails it.
add_executable(setup_probe setup_probe.cpp)
target_link_options(setup_probe PRIVATE -municode)
target_link_libraries(setup_probe PRIVATE comctl32 gdi32)
set(VX_ARTIFACTS ${CMAKE_BINARY_DIR}/artifacts)
file(MAKE_DIRECTORY ${VX_ARTIFACTS})
foreach(case "en;en_US.UTF-8;Setup;Cancel" "de;de_DE.UTF-8;Installation;Abbruch" "it;it_IT.UTF-8;Installazione;Annulla")
  list(GET case 0 tag)
  list(GET case 1 lang)
  list(GET case 2 title)
  list(GET case 3 cancel)
  add_test(NAME setup_e2e_${tag}
           COMMAND setup_probe ${VX_SAMPLE_SETUP} --screenshot ${VX_ARTIFACTS}/setup-${tag}.bmp)
  set(expected "\ntitle: ${title} Foo Tool 1.2\n.*\ncontrol: ${cancel}\n.*\nlanguages: 4\n.*exit code: 0\n")
  set_tests_properties(setup_e2e_${tag} PROPERTIES ENVIRONMENT "LANG=${lang};LC_ALL=${lang}" TIMEOUT 120
                       PASS_REGULAR_EXPRESSION "${expected}" FAIL_REGULAR_EXPRESSION "setup_probe: ")
endforeach()

# The size budget of the stub (64 KiB) and of the uninstaller (far below the
# archive scan's 250,000 bytes) and their imports (system DLLs only).
foreach(stub_limit vxstub:65536 vxuninst:200000)
  string(REPLACE ":" ";" stub_limit ${stub_limit})
  list(GET stub_limit 0 stub)
  list(GET stub_limit 1 limit)
  add_test(NAME ${stub}_size_and_imports
           COMMAND ${CMAKE_COMMAND} -DSTUB=$<TARGET_FILE:${stub}> -DLIMIT=${limit} -DOBJDUMP=${CMAKE_OBJDUMP}
                   -P ${CMAKE_CURRENT_SOURCE_DIR}/check_stub.cmake)
endforeach()

# The dialog on its real template in the test program, against setup
# executables built from the stub, the sample Setup.exe and the standard
# uninstaller that vxpack adds to it.
vx_add_test(setup_dialog_test setup_dialog_test.cpp ${VX_SETUP_RESOURCES}
            LIBS vx_setup vx_test_support vxpack_lib comctl32 ole32 shell32 uuid advapi32)
target_compile_definitions(setup_dialog_test PRIVATE VX_STUB_PATH="$<TARGET_FILE:vxstub>"
                           VX_FOOTOOL_PATH="$<TARGET_FILE:FooTool>" VX_SAMPLE_SETUP="${VX_SAMPLE_SETUP}"
                           VX_UNINSTALLER_PATH="$<TARGET_FILE:vxuninst>")
target_include_directories(setup_dialog_test PRIVATE ${PROJECT_SOURCE_DIR}/setup ${PROJECT_BINARY_DIR}/examples)
add_dependencies(setup_dialog_test vxstub FooTool sample_setup vxuninst)
set_tests_properties(setup_dialog_test PROPERTIES TIMEOUT 300)
