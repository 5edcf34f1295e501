// The browser edition's entry points: the core run on files the page put into Emscripten's memory file system.
//
// The page writes the dropped experiment and profile files into the module's
// file system, calls one of these with the experiment's name, reads the files
// written back, and shows trov_web_message() when a call returns 1. Calls
// come one at a time from the page's one thread.
#include <emscripten/emscripten.h>

#include <exception>
#include <new>
#include <string>

#include "common/fatal.h"
#include "export/export_experiment.h"
#include "plot_files/convert_experiment.h"

namespace {

// What the last call said: the one-line message of a failure, or the plan's JSON.
std::string& last_text() {
  static std::string text;
  return text;
}

// Runs work; 0 when it succeeded, else 1 with the message worded as the
// native programs word it.
template <typename Work>
int reported(Work&& work) {
  try {
    last_text() = work();
    return 0;
  } catch (const trov::Fatal& error) {
    last_text() = error.what();
  } catch (const std::bad_alloc&) {
    last_text() = "These files are too large for this browser's memory";
  } catch (const std::exception&) {
    last_text() = "An unexpected error ended the run; no file was changed";
  }
  return 1;
}

}  // namespace

extern "C" {

// trov on EXPNAM: every powder histogram's plot and marker files.
EMSCRIPTEN_KEEPALIVE int trov_web_convert(const char* expnam) {
  return reported([&] {
    trov::convert_experiment(expnam);
    return std::string();
  });
}

// trov-export on EXPNAM: the CSV files and the JSON summary, all or nothing.
EMSCRIPTEN_KEEPALIVE int trov_web_export(const char* expnam) {
  return reported([&] {
    trov::export_experiment({expnam, "", {}});
    return std::string();
  });
}

// trov-export --list on EXPNAM: the plan as JSON, in trov_web_text().
EMSCRIPTEN_KEEPALIVE int trov_web_plan(const char* expnam) {
  return reported([&] { return trov::export_plan_json(trov::plan_export({expnam, "", {}})); });
}

// The message of the last call that failed, or the plan of the last plan.
EMSCRIPTEN_KEEPALIVE const char* trov_web_text() { return last_text().c_str(); }

}  // extern "C"
