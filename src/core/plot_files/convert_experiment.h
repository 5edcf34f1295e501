// trov's work on one experiment: every powder histogram's plot and marker files.
#pragma once

#include <set>
#include <string_view>

#include "io/file_handle.h"

namespace trov {

// Converts each powder histogram h of EXPNAM (folders allowed) into
// EXPNAM.aHH and EXPNAM.bHH beside it, in text mode, in histogram order; the
// inputs are found by the three tries (gsas/file_names.h), names in
// code_page on Windows. Each histogram's pair of files is complete when the
// next is begun, and stays when a later histogram fails; a pair whose
// writing failed is removed. Throws Fatal with the user's one-line message.
// A non-empty only limits the work to those histograms (the browser edition
// converts the histograms whose profiles were dropped).
void convert_experiment(std::string_view expnam, CodePage code_page = kAnsiCodePage, const std::set<int>& only = {});

}  // namespace trov
