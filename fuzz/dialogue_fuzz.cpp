// Fuzz target: the whole dialogue driven by arbitrary answer lines on a small
// series. Every run must end through one of the dialogue's own paths: the
// end, the end of the answers, or a specified stopping error.
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "dialogue/console_dialogs.h"
#include "dialogue/main_dialogue.h"
#include "dialogue/report_file.h"
#include "dialogue/series_file.h"
#include "numerics/error_stack.h"
#include "../tests/dialogue/scripted_console.h"

namespace {

// Writes a two-variable oscillation of 60 vectors once and returns its name.
const std::string& SeriesPath() {
  static const std::string path = [] {
    const std::string name = "/tmp/odefit-fuzz-dialogue-" + std::to_string(::getpid()) + ".txt";
    std::ofstream out(name);
    for (int k = 0; k < 60; ++k) out << std::sin(0.2 * k) << "\n" << std::cos(0.2 * k) << "\n";
    return name;
  }();
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The first answer names the series; the rest are the fuzzer's lines.
  std::vector<std::string> answers = {SeriesPath()};
  std::string line;
  for (std::size_t i = 0; i < size && answers.size() < 200; ++i) {
    if (data[i] == '\n') {
      answers.push_back(line);
      line.clear();
    } else {
      line.push_back(static_cast<char>(data[i]));
    }
  }
  answers.push_back(line);

  static std::ostringstream errors;
  errors.str("");
  odefit::ErrorReporter reporter(&errors);
  odefit::ErrorReporterScope bindReporter(reporter);
  odefit::testing::ScriptedConsole console(answers);
  odefit::ConsoleFileDialogs dialogs(console, errors);
  static odefit::GraphicsLayer layer;  // building the font list is slow: one for all runs
  static const std::string reportPath = "/tmp/odefit-fuzz-report-" + std::to_string(::getpid()) + ".txt";
  std::remove(reportPath.c_str());
  odefit::ReportFile report(reportPath);
  try {
    odefit::RunMainDialogue(console, dialogs, layer, report);
  } catch (const odefit::InputEnded&) {
  } catch (const odefit::RunStopped&) {
  }
  return 0;
}
