#!/usr/bin/env python3
"""The Python module's targets: trov.read_profile of one million points in under 0.1 s, and
no more memory than the arrays it returns.

Usage: python_module.py BUILD [REPETITIONS]. BUILD holds make_sample and python/trov.
Each repetition runs in a fresh process (a reused heap would hide the cost of new memory),
interleaved with the baseline, which reads the profile's bytes into one bytes object.
"""
import os
import statistics
import subprocess
import sys
import tempfile

build = os.path.abspath(sys.argv[1])
repetitions = int(sys.argv[2]) if len(sys.argv) > 2 else 7
points = 1_000_000

MEASURE = r"""
import sys, time
import numpy, trov
what, folder = sys.argv[1], sys.argv[2]

def rss():
    # From the page tables: the kernel's RSS counters lag behind memory in 2 MiB pages.
    with open("/proc/self/smaps_rollup") as f:
        return next(int(line.split()[1]) * 1024 for line in f if line.startswith("Rss:"))

before = rss()
start = time.perf_counter()
if what == "module":
    p = trov.read_profile(folder + "/BIG", 1)
    arrays = [a for a in list(p.values()) + list(p.ticks.values())]
    size = sum(numpy.ma.getdata(a).nbytes + (numpy.ma.getmaskarray(a).nbytes if numpy.ma.isMaskedArray(a) else 0)
               for a in arrays)
else:
    with open(folder + "/BIG.P01", "rb") as f:
        size = len(f.read())
elapsed = time.perf_counter() - start
print(elapsed, rss() - before, size)
"""

with tempfile.TemporaryDirectory() as folder:
    subprocess.run([os.path.join(build, "make_sample"), folder], check=True, capture_output=True)
    with open(os.path.join(folder, "SAMPLE.EXP"), "rb") as f:
        experiment = f.read()
    with open(os.path.join(folder, "BIG.EXP"), "wb") as f:
        f.write(experiment)
    with open(os.path.join(folder, "SAMPLE.P01"), "rb") as f:
        blocks = f.read()
    size = (points + 13) // 14 * 512
    with open(os.path.join(folder, "BIG.P01"), "wb") as f:
        f.write((blocks * (size // len(blocks) + 1))[:size])
    env = {**os.environ, "PYTHONPATH": os.path.join(build, "python")}
    runs = {"module": [], "bytes": []}
    for _ in range(repetitions):
        for what in runs:
            out = subprocess.run([sys.executable, "-c", MEASURE, what, folder], env=env, check=True,
                                 capture_output=True, text=True).stdout.split()
            runs[what].append(tuple(float(v) for v in out))

module_time = statistics.median(r[0] for r in runs["module"])
bytes_time = statistics.median(r[0] for r in runs["bytes"])
grown = statistics.median(r[1] for r in runs["module"])
arrays = runs["module"][0][2]
print(f"\ntrov.read_profile, {points:,} points (median of {repetitions} fresh processes):")
print(f"  {module_time * 1000:.1f} ms (target < 100); reading the profile's bytes alone: {bytes_time * 1000:.1f} ms")
print(f"  resident memory grew by {grown / 1e6:.1f} MB for {arrays / 1e6:.1f} MB of arrays: "
      f"{grown / arrays:.2f} (target about 1)")
