# Checks that a built binary (BINARY) holds no code of Telvane's own layers: none of their classes
# may be defined in it, whatever its include path allowed. Run by the layering.*.links tests.
find_program(NM nm REQUIRED)
execute_process(COMMAND ${NM} -C --defined-only ${BINARY} RESULT_VARIABLE rc OUTPUT_VARIABLE symbols
                ERROR_VARIABLE error)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "cannot list the symbols of ${BINARY}: ${error}")
endif()
# A class of each layer above the platform: the application core, data, managers, location, ui.
string(REGEX MATCHALL "(CRegistrySettings|CEventLog|CTexts|CMgr|CDB|CBTMgr|CScheduleEngine|CRilMgr|CWindowMain|CSkin)::[A-Za-z_]+"
       found "${symbols}")
if(found)
  list(REMOVE_DUPLICATES found)
  message(FATAL_ERROR "${BINARY} holds code of Telvane's layers: ${found}")
endif()
message(STATUS "${BINARY}: platform layer and Qt only")
