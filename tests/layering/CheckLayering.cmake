# Runs one layering check (see tests/CMakeLists.txt): CHECK names a file that sets SOURCE_DIR,
# BUILD_DIR, ALLOWED (probe target;header) and FORBIDDEN (probe target;header pairs).
include(${CHECK})

function(build_probe target out_rc out_log)
  execute_process(COMMAND ${CMAKE_COMMAND} --build ${BUILD_DIR} --target ${target}
                  RESULT_VARIABLE rc OUTPUT_VARIABLE log ERROR_VARIABLE log)
  set(${out_rc} ${rc} PARENT_SCOPE)
  set(${out_log} "${log}" PARENT_SCOPE)
endfunction()

# A probe that may see its header must compile, or the probes prove nothing.
list(GET ALLOWED 0 target)
list(GET ALLOWED 1 header)
build_probe(${target} rc log)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${header} should compile for ${CONSUMER} but does not:\n${log}")
endif()

set(failed "")
while(FORBIDDEN)
  list(POP_FRONT FORBIDDEN target header)
  # A renamed header would make its probe fail for the wrong reason.
  if(NOT EXISTS ${SOURCE_DIR}/${header})
    message(FATAL_ERROR "The probed header ${header} does not exist; update the layering check")
  endif()
  build_probe(${target} rc log)
  if(rc EQUAL 0)
    string(APPEND failed "${CONSUMER} can include ${header}, a layer above it\n")
  elseif(NOT log MATCHES "${header}[:'\" ].*(No such file|not found)")
    string(APPEND failed "${header} failed to compile for ${CONSUMER}, but not as missing:\n${log}\n")
  endif()
endwhile()
if(failed)
  message(FATAL_ERROR "${failed}")
endif()
message(STATUS "${CONSUMER}: sees ${ALLOWED}; every header above it is out of reach")
