#!/usr/bin/env python3
"""Prints the medians of a trov_bench JSON result and the ratios to each baseline."""
import json
import sys

results = json.load(open(sys.argv[1]))["benchmarks"]
median = {b["run_name"].replace("/real_time", ""): b for b in results if b.get("aggregate_name") == "median"}


def line(name):
    b = median[name]
    return b["real_time"], b.get("points/s", 0.0), b.get("peak_rss_kB")


print("\n%-32s %12s %16s %12s" % ("median of repetitions", "time", "points/s", "peak RSS"))
for name in median:
    t, rate, rss = line(name)
    unit = median[name]["time_unit"]
    print("%-32s %9.2f %-2s %16.0f %12s" % (name, t, unit, rate, "%d kB" % rss if rss else ""))

print("\nratios (time of trov / time of baseline; lower is better):")
pairs = [
    ("BM_PlotLine", "BM_PlotLineSnprintf", "one plot line vs snprintf (target <= 0.06)"),
    ("BM_ConvertInMemory<false>", "BM_ConvertInMemory<true>", "in-memory conversion vs stdio"),
    ("BM_WholeProgram", "BM_WholeProgramStdio", "whole program vs stdio (target <= 0.12)"),
    ("BM_WholeProgram", "BM_WholeProgramCat", "whole program vs cat (target <= 1.6)"),
    ("BM_LargeHistogramCif", "BM_LargeHistogramCsv", "CIF vs CSV, 1,000,000 points (target <= 1.3)"),
]
for ours, theirs, what in pairs:
    if ours in median and theirs in median:
        print("  %-42s %6.3f" % (what, line(ours)[0] / line(theirs)[0]))

print("\ntrov-export beside trov on the same points (wall time; processor time, user and system):")
for export, trov, what in [("BM_ExportOne", "BM_WholeProgramOne", "one histogram of 1,000,000 points"),
                           ("BM_Export", "BM_WholeProgram", "four histograms of 250,000 points")]:
    if export in median and trov in median:
        e, t = median[export], median[trov]
        print("  %-36s wall %6.1f / %5.1f ms = %4.2f (target <= 2)   cpu %6.1f / %5.1f ms = %4.2f (target <= 2.5)"
              % (what, e["real_time"], t["real_time"], e["real_time"] / t["real_time"],
                 e["cpu_ms"], t["cpu_ms"], e["cpu_ms"] / t["cpu_ms"]))

if "BM_ShortestText" in median and "BM_ShortestDigits" in median:
    print("  a shortest decimal of a double as text: %.1f ns, of which its digits (Dragonbox): %.1f ns"
          % (line("BM_ShortestText")[0], line("BM_ShortestDigits")[0]))

if "BM_Series/1000" in median and "BM_Series/100" in median:
    small, large = median["BM_Series/100"], median["BM_Series/1000"]
    print("\ntrov-series, 1,000 experiments of 27 KB: %.0f ms (target < 2000)" % large["real_time"])
    print("  its peak RSS over that of 100 experiments: %.2f (target about 1: memory independent of the count)"
          % (large["peak_rss_kB"] / small["peak_rss_kB"]))
