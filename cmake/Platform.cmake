# Picks the platform half of a unit: vx_platform_sources(VAR name) appends
# name_win32.cpp on Windows and name_posix.cpp elsewhere.
function(vx_platform_sources var name)
  if(WIN32)
    set(${var} ${${var}} ${CMAKE_CURRENT_SOURCE_DIR}/${name}_win32.cpp PARENT_SCOPE)
  else()
    set(${var} ${${var}} ${CMAKE_CURRENT_SOURCE_DIR}/${name}_posix.cpp PARENT_SCOPE)
  endif()
endfunction()
