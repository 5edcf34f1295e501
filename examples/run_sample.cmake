# The `sample` target: writes the sample experiment into DIR, converts it with trov and
# draws its Rietveld plots when gnuplot is installed.
include("${CMAKE_CURRENT_LIST_DIR}/sample_steps.cmake")

make_and_convert_sample("${DIR}")
message("${SAMPLE_SUMMARY}")
message("Plot files:   ${DIR}/SAMPLE.a01 (X-ray) and ${DIR}/SAMPLE.a03 (time of flight)")
message("Marker files: ${DIR}/SAMPLE.b01 and ${DIR}/SAMPLE.b03")
if(GNUPLOT)
  foreach(hh 01 03)
    draw_rietveld_plot("${DIR}" SAMPLE ${hh} "")
  endforeach()
  message("Pictures:     ${DIR}/SAMPLE_01.png and ${DIR}/SAMPLE_03.png")
else()
  message("Pictures:     none (install gnuplot to have the Rietveld plots drawn)")
endif()
