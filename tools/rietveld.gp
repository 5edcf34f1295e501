# Rietveld plot of one histogram converted by trov.
#
#   gnuplot -c tools/rietveld.gp EXPNAM HH [OUTPUT]
#
# reads EXPNAM.aHH (position, observed, calculated, difference, scale,
# auxiliary) and EXPNAM.bHH (position, marker number) and draws observed
# points, the calculated curve, the difference curve below the pattern and one
# row of tick marks per marker number below that. OUTPUT's extension chooses
# the format: .png (1600x1000), .svg or .pdf; without OUTPUT the picture is
# EXPNAM_HH.png next to the input files. Needs gnuplot 5.2 or later.

if (ARGC < 2) {
    print "usage: gnuplot -c rietveld.gp EXPNAM HH [OUTPUT]"
    exit status 2
}
expnam = ARG1
hh = ARG2
plot_file = sprintf("%s.a%s", expnam, hh)
marker_file = sprintf("%s.b%s", expnam, hh)
output = (ARGC >= 3) ? ARG3 : sprintf("%s_%s.png", expnam, hh)

extension = strlen(output) >= 4 ? output[strlen(output)-3:] : ""
if (extension eq ".svg") {
    set terminal svg size 1600,1000 dynamic enhanced font "Helvetica,18" background "white"
} else {
    if (extension eq ".pdf") {
        set terminal pdfcairo size 10in,6.25in enhanced font "Helvetica,11"
    } else {
        set terminal pngcairo size 1600,1000 enhanced font "Helvetica,18"
    }
}
set output output

# Ranges of the pattern and of the difference curve.
stats plot_file using 1 nooutput name "X"
stats plot_file using 2 nooutput name "OBS"
stats plot_file using 3 nooutput name "CALC"
stats plot_file using 4 nooutput name "DIFF"
top = (OBS_max > CALC_max) ? OBS_max : CALC_max
bottom = (OBS_min < CALC_min) ? OBS_min : CALC_min
span = top - bottom

# The marker file may be empty (no marks set): read it through a table, whose
# size tells, instead of stats, which would stop the script.
set table $marks
plot marker_file using 1:2 with table
unset table
markers = 0
if (|$marks| > 0) {
    stats $marks using 2 nooutput name "MARK"
    markers = int(MARK_max)
}

# Below the pattern: the difference curve, then a row of ticks per marker.
difference_zero = bottom - 0.05 * span - DIFF_max
tick_height = 0.04 * span
tick_row(n) = difference_zero + DIFF_min - 0.04 * span - (n - 0.5) * 1.6 * tick_height
lowest = (markers > 0) ? tick_row(markers) - tick_height : difference_zero + DIFF_min - 0.04 * span

set xrange [X_min:X_max]
set yrange [lowest - 0.02 * span : top + 0.06 * span]
set xlabel (X_max <= 180 ? "2{/Symbol q} (degrees)" : "Position (time of flight, {/Symbol m}s, or as stored)")
set ylabel "Intensity (counts × scale)"
set title sprintf("%s, histogram %s", expnam, hh) noenhanced
set key top right box opaque
set mxtics
set border lw 1.5
set grid xtics lc rgb "#e0e0e0"

phase_colour(n) = word("#1b9e77 #7570b3 #e7298a #66a61e #e6ab02 #a6761d #666666 #d95f02 #1f78b4 #b2df8a #fb9a99", int(n))

curves = 'plot_file using 1:2 with points pt 6 ps 0.5 lc rgb "#d62728" title "Observed", ' . \
         'plot_file using 1:3 with lines lw 2 lc rgb "#1f3b8c" title "Calculated", ' . \
         'plot_file using 1:($4 + difference_zero) with lines lw 1.2 lc rgb "#444444" title "Observed − calculated"'
# The table of marks exists only when the marker file had lines.
if (markers > 0) {
    plot @curves, \
         for [n=1:markers] $marks using 1:($2 == n ? tick_row(n) : NaN):(0):(tick_height) \
             with vectors nohead lw 1.5 lc rgb phase_colour(n) title sprintf("Reflections, marker %d", n)
} else {
    plot @curves
}
