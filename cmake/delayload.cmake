# Delay-loaded DLLs: loaded on the first call into them instead of at process
# start, which under Wine saves 20-100 ms a DLL for a command that never calls
# one. The import libraries are made at build time from the toolchain's own; a
# DLL whose import library or tools are missing is simply linked as usual.
set(VELDMOOR_DELAY_SCRIPT ${CMAKE_CURRENT_LIST_DIR}/delayload_lib.cmake)

# Sets out_var to the lib<dll>_delay.a files, made by the target veldmoor_delay_libs.
# Put them on a link line right before the normal import libraries: the linker
# takes the first definition, and data the delay libraries lack comes from those.
function(veldmoor_delay_libs out_var)
  set(libs)
  if(NOT CMAKE_DLLTOOL OR NOT CMAKE_NM)
    message(STATUS "delay-load: no dlltool or nm, every DLL loads at start")
  else()
    foreach(dll ${ARGN})
      find_library(VELDMOOR_IMPLIB_${dll} NAMES lib${dll}.a ${dll} NO_CACHE)
      if(NOT VELDMOOR_IMPLIB_${dll})
        message(STATUS "delay-load: no import library for ${dll}, it loads at start")
        continue()
      endif()
      set(out ${CMAKE_BINARY_DIR}/delayload/lib${dll}_delay.a)
      add_custom_command(OUTPUT ${out}
        COMMAND ${CMAKE_COMMAND} -DNM=${CMAKE_NM} -DDLLTOOL=${CMAKE_DLLTOOL} -DDLL=${dll}
                -DIMPLIB=${VELDMOOR_IMPLIB_${dll}} -DOUT=${out} -P ${VELDMOOR_DELAY_SCRIPT}
        DEPENDS ${VELDMOOR_IMPLIB_${dll}} ${VELDMOOR_DELAY_SCRIPT} VERBATIM)
      list(APPEND libs ${out})
    endforeach()
  endif()
  add_custom_target(veldmoor_delay_libs DEPENDS ${libs})
  set(${out_var} ${libs} PARENT_SCOPE)
endfunction()
