// A generated two-phase sample experiment (SAMPLE.EXP, SAMPLE.P01, SAMPLE.P03) that looks like a real refinement.
#pragma once

#include <string>

namespace trov::testing {

// The bytes of the three files, the same on every run.
struct SampleFiles {
  std::string experiment;  // SAMPLE.EXP: 80-column records, CR LF line ends
  std::string xray;        // SAMPLE.P01: PXC, Cu K-alpha-1, 2-theta 5 to 120 degrees in centidegrees
  std::string neutron;     // SAMPLE.P03: PNT, time of flight in microseconds, a 90-degree bank
};

// What the sample holds, for its description and its tests.
struct SampleSummary {
  int xray_points = 0, xray_excluded = 0;
  int neutron_points = 0, neutron_excluded = 0;
  // Tick lines the marker files get for phase 1 (silicon) and phase 2 (zinc
  // oxide): marked points that are fitted (excluded points give no lines).
  int xray_marked[2] = {0, 0};
  int neutron_marked[2] = {0, 0};
};

SampleFiles make_sample(SampleSummary* summary = nullptr);

}  // namespace trov::testing
