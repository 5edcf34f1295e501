# Runs trov in the sample folder, typing the experiment name at its prompt, and draws
# the Rietveld plots with gnuplot when it is installed.
file(WRITE "${DIR}/name.txt" "SAMPLE\n")
execute_process(COMMAND "${TROV}" WORKING_DIRECTORY "${DIR}" INPUT_FILE "${DIR}/name.txt"
                RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "trov ended with status ${status}")
endif()
message("\nPlot files:   ${DIR}/SAMPLE.a01 (X-ray) and ${DIR}/SAMPLE.a03 (time of flight)")
message("Marker files: ${DIR}/SAMPLE.b01 and ${DIR}/SAMPLE.b03")

find_program(GNUPLOT gnuplot)
if(GNUPLOT)
  foreach(hh 01 03)
    execute_process(COMMAND "${GNUPLOT}" -c "${SOURCE_DIR}/tools/rietveld.gp" SAMPLE ${hh}
                    WORKING_DIRECTORY "${DIR}" RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
      message(FATAL_ERROR "gnuplot ended with status ${status}")
    endif()
  endforeach()
  message("Pictures:     ${DIR}/SAMPLE_01.png and ${DIR}/SAMPLE_03.png")
else()
  message("Pictures:     none (install gnuplot to have the Rietveld plots drawn)")
endif()
