# mrv_platform_defines(out function...): TRUE in out when the user-mode
# emulation defines every named Win32 function. Device installation is
# being added to the emulation piece by piece; what links against it waits
# for the functions it calls.
function(mrv_platform_defines out)
  file(GLOB sources ${CMAKE_SOURCE_DIR}/platform/um/*/*.cpp)
  set(text "")
  foreach(source ${sources})
    file(READ ${source} content)
    string(APPEND text "${content}")
  endforeach()
  set(${out} TRUE PARENT_SCOPE)
  foreach(function ${ARGN})
    if(NOT text MATCHES "WINAPI ${function}\\(")
      set(${out} FALSE PARENT_SCOPE)
      return()
    endif()
  endforeach()
endfunction()
