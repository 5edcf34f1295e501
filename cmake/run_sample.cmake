# The `sample` target: writes the sample experiment into DIR, converts it with trov (typing
# SAMPLE at its prompt), writes its powder CIF with trov-export --cif, and draws its Rietveld
# figures with trov-plot when PYTHON, a Python with matplotlib, was found (trov-plot as built
# runs the trov-export beside it). Called with -DMAKE_SAMPLE, -DTROV, -DTROV_EXPORT, -DPYTHON,
# -DTROV_PLOT, -DDIR.
file(REMOVE_RECURSE "${DIR}")
execute_process(COMMAND "${MAKE_SAMPLE}" "${DIR}" COMMAND_ERROR_IS_FATAL ANY)
file(WRITE "${DIR}/name.txt" "SAMPLE\n")
execute_process(COMMAND "${TROV}" WORKING_DIRECTORY "${DIR}" INPUT_FILE "${DIR}/name.txt" OUTPUT_QUIET
                RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "trov ended with status ${status}")
endif()
message("\nPlot files:   ${DIR}/SAMPLE.a01 (X-ray) and ${DIR}/SAMPLE.a03 (time of flight)")
message("Marker files: ${DIR}/SAMPLE.b01 and ${DIR}/SAMPLE.b03")
execute_process(COMMAND "${TROV_EXPORT}" --cif SAMPLE WORKING_DIRECTORY "${DIR}" OUTPUT_QUIET RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "trov-export ended with status ${status}")
endif()
if(NOT EXISTS "${DIR}/SAMPLE.cif")
  message(FATAL_ERROR "trov-export --cif wrote no SAMPLE.cif")
endif()
message("Powder CIF:   ${DIR}/SAMPLE.cif, with trov-export's CSV and JSON files")

if(PYTHON)
  execute_process(COMMAND "${PYTHON}" "${TROV_PLOT}" SAMPLE
                  WORKING_DIRECTORY "${DIR}" OUTPUT_QUIET
                  RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "trov-plot ended with status ${status}")
  endif()
  foreach(figure SAMPLE_01.png SAMPLE_03.png)
    if(NOT EXISTS "${DIR}/${figure}")
      message(FATAL_ERROR "trov-plot wrote no ${figure}")
    endif()
  endforeach()
  message("Figures:      ${DIR}/SAMPLE_01.png and ${DIR}/SAMPLE_03.png")
else()
  message("Figures:      none (install python3-matplotlib to have the Rietveld figures drawn)")
endif()
