# Writes the manual page of fernpointctl from the program's own usage table.
# cmake -DPROGRAM=<fernpointctl> -DOUTPUT=<fernpointctl.1> -P GenerateManPage.cmake
execute_process(COMMAND ${PROGRAM} --man OUTPUT_FILE ${OUTPUT}.tmp RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  file(REMOVE ${OUTPUT}.tmp)
  message(FATAL_ERROR "${PROGRAM} --man failed: ${result}")
endif()
file(RENAME ${OUTPUT}.tmp ${OUTPUT})
