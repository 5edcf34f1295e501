// Points per second of trov's formatting, conversion and whole program, each beside a stdio/printf baseline.
//
// Run with bench/run (see the README); ratios between neighbours are what count.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "numbers/shortest_format.h"
#include "export/powder_cif.h"
#include "export/export_files.h"
#include "plot_files/conversion.h"
#include "testing/files.h"
#include "testing/run_program.h"
#include "stdio_baseline.h"

namespace {

namespace fs = std::filesystem;
using trov::ProfilePoint;

constexpr int kHistograms = 4;
constexpr int kPointsPerHistogram = 250000;

// A plausible refined pattern: counts in the hundreds to thousands with
// decimals, a scale near 1, an auxiliary column (sigma), 1% of the points
// marked, the first points excluded.
std::vector<ProfilePoint> pattern(int count, float start, float step) {
  std::vector<ProfilePoint> points;
  points.reserve(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) {
    const double x = start + step * static_cast<float>(i);
    const double calc = 300.0 + 4000.0 * std::exp(-0.5 * std::pow(std::fmod(x, 97.0) - 48.0, 2) / 4.0);
    const double obs = calc + std::sqrt(calc) * (static_cast<double>(static_cast<long long>(i) * 7919 % 200) / 100.0 - 1.0);
    points.push_back({i % 100 == 0 ? 4 << (i / 100 % 3) : 0, static_cast<float>(x), static_cast<float>(obs),
                      i < 50 ? 0.0f : static_cast<float>(calc), 1.0f + static_cast<float>(i % 10) / 1000.0f,
                      static_cast<float>(std::sqrt(obs))});
  }
  return points;
}

const std::string& profile_bytes() {
  static const std::string bytes = trov::testing::profile_bytes(pattern(kPointsPerHistogram, 500.0f, 0.5f));
  return bytes;
}

trov::HistogramType pxc() {
  trov::HistogramType type;
  type.code = {'P', 'X', 'C', ' ', '\0'};
  return type;
}

void BM_PlotLine(benchmark::State& state) {
  const std::vector<ProfilePoint> points = pattern(4096, 500.0f, 0.5f);
  char line[trov::kMaxPlotLineSize];
  std::size_t i = 0;
  for (auto _ : state) {
    const ProfilePoint& p = points[i++ % points.size()];
    benchmark::DoNotOptimize(trov::format_plot_line(line, p.position * static_cast<double>(trov::kCentidegree), p));
  }
  state.counters["points/s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_PlotLineSnprintf(benchmark::State& state) {
  const std::vector<ProfilePoint> points = pattern(4096, 500.0f, 0.5f);
  char line[trov::kMaxPlotLineSize];
  std::size_t i = 0;
  for (auto _ : state) {
    const ProfilePoint& p = points[i++ % points.size()];
    const double obs = p.observed, calc = p.calculated, scale = p.scale;
    benchmark::DoNotOptimize(std::snprintf(line, sizeof line, "%7.3f %8.1f %8.1f %8.1f %11.4f %11.4f\n",
                                           p.position * static_cast<double>(trov::kCentidegree), obs * scale, calc * scale, (obs - calc) * scale, scale,
                                           static_cast<double>(p.auxiliary)));
  }
  state.counters["points/s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

// trov-export's numbers one at a time: doubles as the CSV has them (products
// of two floats, all their digits), as text and as the digits alone. The
// digits are the floor under trov-export's processor time.
const std::vector<double>& export_values() {
  static const std::vector<double> values = [] {
    std::vector<double> v;
    for (const ProfilePoint& p : pattern(4096, 500.0f, 0.5f)) v.push_back(static_cast<double>(p.observed) * p.scale);
    return v;
  }();
  return values;
}

void BM_ShortestText(benchmark::State& state) {
  const std::vector<double>& values = export_values();
  char text[trov::kMaxShortestChars];
  std::size_t i = 0;
  for (auto _ : state) benchmark::DoNotOptimize(trov::format_shortest(text, values[i++ % values.size()]));
}

void BM_ShortestDigits(benchmark::State& state) {
  const std::vector<double>& values = export_values();
  std::size_t i = 0;
  for (auto _ : state) benchmark::DoNotOptimize(trov::shortest_decimal(values[i++ % values.size()]));
}

// One histogram converted from a profile held in memory to /dev/null.
template <bool kBaseline>
void BM_ConvertInMemory(benchmark::State& state) {
  const std::string& bytes = profile_bytes();
  for (auto _ : state) {
    trov::FilePtr profile(fmemopen(const_cast<char*>(bytes.data()), bytes.size(), "rb"));
    trov::FilePtr plot(std::fopen("/dev/null", "w"));
    trov::FilePtr markers(std::fopen("/dev/null", "w"));
    if constexpr (kBaseline) {
      trov::bench::stdio_convert(profile.get(), plot.get(), markers.get(), true);
    } else {
      trov::InputFile profile_file(std::move(profile), "bench.p01");
      trov::OutputFile plot_file(std::move(plot), "bench.a01");
      trov::OutputFile marker_file(std::move(markers), "bench.b01");
      trov::convert_histogram(profile_file, plot_file, marker_file, pxc());
      plot_file.close();
      marker_file.close();
    }
  }
  state.counters["points/s"] =
      benchmark::Counter(static_cast<double>(state.iterations()) * kPointsPerHistogram, benchmark::Counter::kIsRate);
}

// Experiments on disk, written once: four histograms of 250,000 points
// ("bench"), and one of 1,000,000 ("one"), as most experiments have one.
// Written anew by each run of the benchmarks.
const fs::path& experiment_folder() {
  static const fs::path folder = [] {
    fs::path dir = fs::temp_directory_path() / "trov-bench";
    fs::create_directories(dir);
    trov::testing::write_file((dir / "bench.exp").string(),
                               trov::testing::record(" EXPR  HTYP1  PXC  PNT  PXC  PNT") + "\r\n");
    for (int h = 1; h <= kHistograms; ++h) {
      trov::testing::write_file((dir / ("bench.p0" + std::to_string(h))).string(), profile_bytes());
    }
    // With its wavelengths, so that trov-export writes d and Q too, over 5 to 150 degrees.
    trov::testing::write_file((dir / "one.exp").string(),
                               trov::testing::record(" EXPR  HTYP1  PXC") + "\r\n" +
                                   trov::testing::record("HST  1 ICONS  1.540500  1.544300     -7.50         0       0.5    0     0.500") +
                                   "\r\n");
    trov::testing::write_file((dir / "one.p01").string(),
                               trov::testing::profile_bytes(pattern(kHistograms * kPointsPerHistogram, 500.0f, 0.0145f)));
    return dir;
  }();
  return folder;
}

// The processor time of the children waited for so far (user and system), in seconds.
double children_cpu_seconds() {
  rusage usage{};
  getrusage(RUSAGE_CHILDREN, &usage);
  const auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// Runs args in the experiment folder through the peak_rss launcher, with
// input on standard input and standard output discarded; returns the
// program's peak resident size in kB.
long run_child(std::vector<std::string> args, const std::string& input = "bench\n") {
  const std::string rss_file = (experiment_folder() / "peak_rss.txt").string();
  args.insert(args.begin(), {PEAK_RSS_EXE, rss_file});
  const auto run = trov::testing::run_trov_in(experiment_folder().string(), input,
                                              (experiment_folder() / "name.txt").string(), "/dev/null", args);
  if (run.status != 0) {
    std::fprintf(stderr, "%s failed\n", args[2].c_str());
    std::abort();
  }
  return std::stol(trov::testing::read_file(rss_file));
}

// The wall time (the benchmark's), the processor time of the program and
// its children a run (cpu_ms), and the peak memory.
void run_whole(benchmark::State& state, const std::vector<std::string>& args, const std::string& input = "bench\n") {
  experiment_folder();  // written once, before any timing
  long peak = 0;
  const double cpu_before = children_cpu_seconds();
  for (auto _ : state) peak = std::max(peak, run_child(args, input));
  state.counters["points/s"] = benchmark::Counter(
      static_cast<double>(state.iterations()) * kHistograms * kPointsPerHistogram, benchmark::Counter::kIsRate);
  state.counters["peak_rss_kB"] = static_cast<double>(peak);
  state.counters["cpu_ms"] = (children_cpu_seconds() - cpu_before) * 1000 / static_cast<double>(state.iterations());
}

void BM_WholeProgram(benchmark::State& state) { run_whole(state, {TROV_EXE}); }
// The full-precision export of the same experiment, beside trov itself.
void BM_Export(benchmark::State& state) { run_whole(state, {TROV_EXPORT_EXE, "bench"}); }
// The same points in one histogram: trov, and trov-export beside it.
void BM_WholeProgramOne(benchmark::State& state) { run_whole(state, {TROV_EXE}, "one\n"); }
void BM_ExportOne(benchmark::State& state) { run_whole(state, {TROV_EXPORT_EXE, "one"}, "one\n"); }
void BM_WholeProgramStdio(benchmark::State& state) { run_whole(state, {TROV_STDIO_EXE}); }
// Copying the bytes the program reads and writes: the profiles in, the plot
// and marker files (of an earlier run) out.
void BM_WholeProgramCat(benchmark::State& state) {
  run_child({TROV_EXE});  // the output files to copy
  run_whole(state, {"/bin/sh", "-c",
                    "cat bench.p01 bench.p02 bench.p03 bench.p04 > /dev/null && "
                    "cat bench.a01 bench.b01 bench.a02 bench.b02 bench.a03 bench.b03 bench.a04 bench.b04 > copy"});
}

// A series of refinements: count copies of a published experiment (27 KB,
// two phases, three histograms) in a folder, each with its own step in the
// title, through the whole trov-series program.
const fs::path& series_folder(int count) {
  static std::map<int, fs::path> folders;
  if (!folders.contains(count)) {
    const fs::path dir = fs::temp_directory_path() / ("trov-bench-series-" + std::to_string(count));
    fs::remove_all(dir);
    fs::create_directories(dir / "runs");
    const std::string experiment = trov::testing::read_file(TROV_SERIES_EXPERIMENT);
    for (int i = 1; i <= count; ++i) {
      std::string bytes = experiment;
      const std::string title = trov::testing::record("      DESCR   step at " + std::to_string(300 + i) + " K");
      bytes.replace(bytes.find("      DESCR"), 80, title.substr(0, 80));
      trov::testing::write_file((dir / "runs" / ("RUN" + std::to_string(i) + ".EXP")).string(), bytes);
    }
    folders[count] = dir;
  }
  return folders[count];
}

void BM_Series(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  const fs::path& dir = series_folder(count);
  const std::string rss_file = (dir / "peak_rss.txt").string();
  long peak = 0;
  for (auto _ : state) {
    const std::vector<std::string> args = {PEAK_RSS_EXE, rss_file, TROV_SERIES_EXE, "--sort", "--x", "(\\d+) ?(K)", "runs"};
    const auto run = trov::testing::run_trov_in(dir.string(), std::nullopt, (dir / "in.txt").string(), "/dev/null", args);
    if (run.status != 0) {
      std::fprintf(stderr, "trov-series failed\n");
      std::abort();
    }
    peak = std::max(peak, std::stol(trov::testing::read_file(rss_file)));
  }
  state.counters["experiments/s"] = benchmark::Counter(static_cast<double>(state.iterations()) * count,
                                                       benchmark::Counter::kIsRate);
  state.counters["peak_rss_kB"] = static_cast<double>(peak);
}

// One histogram of a million points, as most experiments have: its CSV
// export and its powder CIF, each from a profile in memory to /dev/null.
constexpr int kLargeHistogramPoints = 1000000;

struct LargeHistogram {
  std::string profile;
  trov::Experiment experiment;
};

const LargeHistogram& large_histogram() {
  static const LargeHistogram large = [] {
    LargeHistogram h;
    const std::vector<ProfilePoint> points = pattern(kLargeHistogramPoints, 500.0f, 0.01f);
    std::vector<trov::testing::PointTail> tails;
    for (const ProfilePoint& p : points) tails.push_back({1.0f / std::max(p.observed, 1.0f), 1.0f});
    h.profile = trov::testing::profile_bytes(points, tails);
    trov::HistogramInfo info;
    info.number = 1;
    info.type = pxc();
    info.constants = {1.5406, 0, 0};  // so that the CSV has its d and Q columns
    h.experiment.histograms.push_back(info);
    h.experiment.phases[1].name = "phase";
    return h;
  }();
  return large;
}

trov::OutputFile null_output(const char* name) { return {trov::FilePtr(std::fopen("/dev/null", "wb")), name}; }

void BM_LargeHistogramCsv(benchmark::State& state) {
  const LargeHistogram& large = large_histogram();
  for (auto _ : state) {
    trov::InputFile profile(trov::memory_source(large.profile), "bench.p01");
    trov::OutputFile points = null_output("bench_01.csv");
    trov::OutputFile ticks = null_output("bench_01_ticks.csv");
    trov::write_histogram_csv(profile, points, ticks, {&large.experiment.histograms[0], &large.experiment.phases});
    points.close();
    ticks.close();
  }
  state.counters["points/s"] =
      benchmark::Counter(static_cast<double>(state.iterations()) * kLargeHistogramPoints, benchmark::Counter::kIsRate);
}

void BM_LargeHistogramCif(benchmark::State& state) {
  const LargeHistogram& large = large_histogram();
  for (auto _ : state) {
    trov::OutputFile cif = null_output("bench.cif");
    trov::write_powder_cif(cif, large.experiment,
                           {{&large.experiment.histograms[0],
                             [&] { return trov::InputFile(trov::memory_source(large.profile), "bench.p01"); }}},
                           "bench");
    cif.close();
  }
  state.counters["points/s"] =
      benchmark::Counter(static_cast<double>(state.iterations()) * kLargeHistogramPoints, benchmark::Counter::kIsRate);
}

}  // namespace

BENCHMARK(BM_LargeHistogramCsv)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Series)->Arg(100)->Arg(1000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_LargeHistogramCif)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlotLine);
BENCHMARK(BM_PlotLineSnprintf);
BENCHMARK(BM_ShortestText);
BENCHMARK(BM_ShortestDigits);
BENCHMARK_TEMPLATE(BM_ConvertInMemory, false)->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(BM_ConvertInMemory, true)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WholeProgram)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_WholeProgramStdio)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_WholeProgramCat)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Export)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_WholeProgramOne)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ExportOne)->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();
