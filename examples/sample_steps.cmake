# Steps shared by the `sample` target (examples/run_sample.cmake) and the plot test
# (tests/render_plot.cmake): write the sample experiment, convert it with trov, draw a plot.
# Callers pass MAKE_SAMPLE, TROV and GNUPLOT (empty when gnuplot is missing) with -D.

# Writes the sample experiment into dir and runs trov there, typing SAMPLE at its prompt.
function(make_and_convert_sample dir)
  file(REMOVE_RECURSE "${dir}")
  execute_process(COMMAND "${MAKE_SAMPLE}" "${dir}" OUTPUT_VARIABLE summary COMMAND_ERROR_IS_FATAL ANY)
  file(WRITE "${dir}/name.txt" "SAMPLE\n")
  execute_process(COMMAND "${TROV}" WORKING_DIRECTORY "${dir}" INPUT_FILE "${dir}/name.txt" OUTPUT_QUIET
                  RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "trov ended with status ${status}")
  endif()
  set(SAMPLE_SUMMARY "${summary}" PARENT_SCOPE)
endfunction()

# Draws the Rietveld plot of histogram hh of expnam in dir into output (EXPNAM_HH.png
# when output is empty), with the plot script.
function(draw_rietveld_plot dir expnam hh output)
  execute_process(COMMAND "${GNUPLOT}" -c "${CMAKE_CURRENT_LIST_DIR}/../tools/rietveld.gp" ${expnam} ${hh} ${output}
                  WORKING_DIRECTORY "${dir}" RESULT_VARIABLE status ERROR_VARIABLE errors)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "gnuplot could not draw ${expnam} ${hh} ${output}: ${errors}")
  endif()
endfunction()
