# Draws the sample's Rietveld plots as PNG and SVG and checks they are real pictures;
# then draws one from a histogram whose marker file is empty.
include("${CMAKE_CURRENT_LIST_DIR}/../examples/sample_steps.cmake")
make_and_convert_sample("${DIR}")

function(draw expnam hh output)
  draw_rietveld_plot("${DIR}" ${expnam} ${hh} "${output}")
  if(NOT output STREQUAL "" AND NOT EXISTS "${DIR}/${output}")
    message(FATAL_ERROR "gnuplot wrote no ${output}")
  endif()
endfunction()

function(expect_size file minimum)
  file(SIZE "${DIR}/${file}" size)
  if(size LESS minimum)
    message(FATAL_ERROR "${file} has ${size} bytes, fewer than ${minimum}: not a plot")
  endif()
  message("${file}: ${size} bytes")
endfunction()

# A PNG's IHDR chunk holds the width and height as big-endian words at offsets 16 and 20.
function(expect_png file min_width min_height)
  file(READ "${DIR}/${file}" header LIMIT 24 HEX)
  string(SUBSTRING "${header}" 0 16 signature)
  string(SUBSTRING "${header}" 32 8 width_hex)
  string(SUBSTRING "${header}" 40 8 height_hex)
  math(EXPR width "0x${width_hex}")
  math(EXPR height "0x${height_hex}")
  if(NOT signature STREQUAL "89504e470d0a1a0a" OR width LESS min_width OR height LESS min_height)
    message(FATAL_ERROR "${file}: not a PNG of at least ${min_width}x${min_height} (${width}x${height})")
  endif()
  message("${file}: ${width}x${height}")
endfunction()

draw(SAMPLE 01 SAMPLE_01.png)
expect_png(SAMPLE_01.png 1200 800)
expect_size(SAMPLE_01.png 30000)
draw(SAMPLE 03 SAMPLE_03.svg)
expect_size(SAMPLE_03.svg 100000)
draw(SAMPLE 01 SAMPLE_01.pdf)
expect_size(SAMPLE_01.pdf 10000)
draw(SAMPLE 03 "")  # no OUTPUT: EXPNAM_HH.png next to the input
expect_png(SAMPLE_03.png 1200 800)

file(COPY_FILE "${DIR}/SAMPLE.a01" "${DIR}/EMPTY.a01")
file(WRITE "${DIR}/EMPTY.b01" "")
draw(EMPTY 01 EMPTY_01.png)
expect_png(EMPTY_01.png 1200 800)
