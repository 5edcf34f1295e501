# Runs trov in the sample folder, typing the experiment name at its prompt.
file(WRITE "${DIR}/name.txt" "SAMPLE\n")
execute_process(COMMAND "${TROV}" WORKING_DIRECTORY "${DIR}" INPUT_FILE "${DIR}/name.txt"
                RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "trov ended with status ${status}")
endif()
message("\nPlot files: ${DIR}/SAMPLE.a01 and ${DIR}/SAMPLE.a03")
message("Marker files: ${DIR}/SAMPLE.b01 and ${DIR}/SAMPLE.b03")
