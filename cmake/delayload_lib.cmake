# cmake -DNM= -DDLLTOOL= -DDLL= -DIMPLIB= -DOUT= -P delayload_lib.cmake
# Makes a delay-load import library for DLL from its normal import library. Only
# functions go in: a data export cannot be delay-loaded, so data stays with the
# normal import library linked after this one.
execute_process(COMMAND ${NM} -g ${IMPLIB} OUTPUT_VARIABLE symbols RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${NM} failed on ${IMPLIB}")
endif()
string(REGEX MATCHALL " T [^\n]+" thunks "${symbols}")
set(def "LIBRARY ${DLL}.dll\nEXPORTS\n")
set(count 0)
foreach(thunk ${thunks})
  string(SUBSTRING "${thunk}" 3 -1 name)
  # A function has both its thunk and its import slot.
  string(FIND "${symbols}" " I __imp_${name}\n" slot)
  if(slot GREATER -1)
    string(APPEND def "${name}\n")
    math(EXPR count "${count} + 1")
  endif()
endforeach()
if(count EQUAL 0)
  message(FATAL_ERROR "no functions found in ${IMPLIB}")
endif()
get_filename_component(dir ${OUT} DIRECTORY)
file(MAKE_DIRECTORY ${dir})
file(WRITE ${OUT}.def "${def}")
execute_process(COMMAND ${DLLTOOL} --input-def ${OUT}.def --dllname ${DLL}.dll --output-delaylib ${OUT}
                RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  file(REMOVE ${OUT})
  message(FATAL_ERROR "${DLLTOOL} could not make ${OUT}")
endif()
