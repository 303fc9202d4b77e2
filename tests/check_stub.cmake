cmake_policy(SET CMP0057 NEW)  # IN_LIST
# Checks a built stub (the setup stub or the uninstaller): at most LIMIT
# bytes, and only DLLs that every Windows has among its imports (no runtime
# DLL of the compiler's).
#   cmake -DSTUB=vxstub.exe -DLIMIT=200000 -DOBJDUMP=objdump -P check_stub.cmake
cmake_path(GET STUB FILENAME name)
file(SIZE ${STUB} size)
message(STATUS "${name}: ${size} bytes (limit ${LIMIT})")
if(size GREATER LIMIT)
  message(FATAL_ERROR "${name} is ${size} bytes, more than ${LIMIT}")
endif()

execute_process(COMMAND ${OBJDUMP} -p ${STUB} OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "cannot read the imports of ${STUB}")
endif()
string(REGEX MATCHALL "DLL Name: [^\n]+" names "${dump}")
set(system_dlls kernel32.dll user32.dll gdi32.dll comctl32.dll shell32.dll ole32.dll advapi32.dll msvcrt.dll)
if(NOT names)
  message(FATAL_ERROR "no imports found in ${STUB}")
endif()
foreach(entry ${names})
  string(REPLACE "DLL Name: " "" dll "${entry}")
  string(TOLOWER "${dll}" dll)
  if(NOT dll IN_LIST system_dlls)
    message(FATAL_ERROR "${name} imports ${dll}, which is not part of Windows")
  endif()
  message(STATUS "imports ${dll}")
endforeach()
