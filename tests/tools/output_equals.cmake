# Runs COMMAND (a list) and fails unless its exit status is 0 and its output is, byte for byte,
# the contents of EXPECTED. Usage: cmake -DCOMMAND=... -DEXPECTED=... -DOUTPUT=... -P this file.
execute_process(COMMAND ${COMMAND} OUTPUT_FILE ${OUTPUT} RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${COMMAND} exited with ${status}")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${OUTPUT} ${EXPECTED}
                RESULT_VARIABLE differs)
if(differs)
  message(FATAL_ERROR "The output of ${COMMAND} (${OUTPUT}) differs from ${EXPECTED}")
endif()
